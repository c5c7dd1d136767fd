#pragma once
// Small hand-written service interfaces shaped like the generated ones, for the binding
// and proxy tests: a data identifier (Cancel, Read) and a full routine (Cancel,
// RequestResults, Start, Stop with a void Stop).

#include <array>
#include <cstdint>
#include <exception>
#include <vector>

#include "binding/exceptions.h"
#include "foundation/types.h"
#include "someip/read_buffer.h"
#include "someip/serializer.h"

namespace probe::d_0001 {

struct DataIdentifier_Probe {
    static constexpr char service_id[] = "probe::d_0001::DataIdentifier_Probe";
    static constexpr std::uint16_t method_count = 2;

    class UDSServiceFailed : public kem::com::cpp_binding::Application_error_exception {
      public:
        explicit UDSServiceFailed(const std::vector<std::uint8_t>& payload) {
            kem::com::Read_buffer<std::vector<std::uint8_t>> in(payload);
            in.read_byte(code_);
        }
        const char* what() const noexcept override {
            return "DataIdentifier_Probe::UDSServiceFailed::2";
        }
        std::uint8_t error() const override { return 2; }
        void serialize(kem::com::someip::serialization::Serializer& out) const override {
            out.serialize(code_);
        }
        kem::dm::types::UDSResponseCodeType code() const noexcept { return code_; }

      private:
        kem::dm::types::UDSResponseCodeType code_ = 0;
    };

    static std::exception_ptr application_error(std::uint8_t error_id,
                                                const std::vector<std::uint8_t>& payload) {
        return error_id == 2 ? std::make_exception_ptr(UDSServiceFailed(payload))
                             : std::exception_ptr();
    }

    struct Cancel {
        static constexpr std::uint16_t id = 0;
        using Signature = void(const kem::dm::types::MetaInfo&);
        static std::exception_ptr GetApplicationErrorExceptionPtr(
            std::uint8_t, const std::vector<std::uint8_t>&) {
            return {};
        }
    };

    struct Read {
        static constexpr std::uint16_t id = 1;
        struct Output {
            std::uint8_t status = 0;
            std::uint16_t counter = 0;
            std::array<std::uint8_t, 3> tag{};
            template <class F>
            void visit(F& f) {
                f(status);
                f(counter);
                f(tag);
            }
        };
        using Signature = Output(const kem::dm::types::MetaInfo&);
        static std::exception_ptr GetApplicationErrorExceptionPtr(
            std::uint8_t error_id, const std::vector<std::uint8_t>& payload) {
            return application_error(error_id, payload);
        }
    };
};

// Same methods, another interface: discovery numbers and incidents are per interface.
struct DataIdentifier_Other : DataIdentifier_Probe {
    static constexpr char service_id[] = "probe::d_0001::DataIdentifier_Other";
};

}  // namespace probe::d_0001

namespace probe::r_0002 {

struct RoutineService_Probe {
    static constexpr char service_id[] = "probe::r_0002::RoutineService_Probe";
    static constexpr std::uint16_t method_count = 4;

    using UDSServiceFailed = probe::d_0001::DataIdentifier_Probe::UDSServiceFailed;

    struct Cancel : probe::d_0001::DataIdentifier_Probe::Cancel {};

    struct RequestResults {
        static constexpr std::uint16_t id = 1;
        struct Output {
            std::uint32_t value = 0;
            std::vector<std::uint8_t> data;
            template <class F>
            void visit(F& f) {
                f(value);
                f(data);
            }
        };
        using Signature = Output(const kem::dm::types::MetaInfo&);
        static std::exception_ptr GetApplicationErrorExceptionPtr(
            std::uint8_t error_id, const std::vector<std::uint8_t>& payload) {
            return probe::d_0001::DataIdentifier_Probe::application_error(error_id, payload);
        }
    };

    struct Start {
        static constexpr std::uint16_t id = 2;
        struct Output {
            std::uint8_t result = 0;
            template <class F>
            void visit(F& f) {
                f(result);
            }
        };
        using Signature = Output(const kem::dm::types::MetaInfo&, std::uint8_t, std::uint16_t,
                                 std::uint8_t);
        static std::exception_ptr GetApplicationErrorExceptionPtr(
            std::uint8_t error_id, const std::vector<std::uint8_t>& payload) {
            return probe::d_0001::DataIdentifier_Probe::application_error(error_id, payload);
        }
    };

    struct Stop {
        static constexpr std::uint16_t id = 3;
        using Signature = void(const kem::dm::types::MetaInfo&);
        static std::exception_ptr GetApplicationErrorExceptionPtr(
            std::uint8_t error_id, const std::vector<std::uint8_t>& payload) {
            return probe::d_0001::DataIdentifier_Probe::application_error(error_id, payload);
        }
    };
};

}  // namespace probe::r_0002
