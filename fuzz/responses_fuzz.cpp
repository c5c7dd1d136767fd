// Fuzz target: the response of any method of any of the 109 service interfaces, through the
// binding's response handler, and the outcome the caller's future then holds.
//
// Input: byte 0 picks the interface (list order, modulo 109); byte 1 picks the method (low
// bits, modulo the interface's method count), bit 6 enables every log level, bit 7 places
// the payload inside a larger runtime buffer; byte 2 is the return code; the rest is the
// payload.
//
// Checked for every input: the future holds exactly the outcome that the return code and
// the payload call for (record, the interface's UDSServiceFailed with the codes of the
// payload, Transport_exception with the right code, Service_not_available_exception); a
// decoded record is never longer in canonical form than the payload it came from; with
// logging on, exactly one incident line is written and it is a JSON document.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "ara/log/logger.h"
#include "binding/response_handler.h"
#include "host/interface_traits.h"
#include "host/record_writer.h"
#include "log/generic_logger.h"
#include "services/all_interfaces.h"

namespace {

namespace binding = kem::com::cpp_binding;
using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "responses_fuzz: %s\n", what);
    std::abort();
}

// Counts and checks the incident lines instead of writing them.
class Checking_target : public kem::com::log::target::Dlt {
  public:
    Checking_target() : Dlt(::ara::log::CreateLogger("FUZZ", "response fuzzing")) {}

    bool enabled = false;
    int lines = 0;

    bool is_log_enabled(::ara::log::LogLevel /*level*/) override { return enabled; }
    void trace_impl(const std::string& text, ::ara::log::LogLevel /*level*/) override {
        ++lines;
        const auto document = nlohmann::json::parse(text, nullptr, false);
        if (document.is_discarded() || !document.contains("1_incident")) {
            fail("an incident line is not a JSON document with \"1_incident\"");
        }
    }
};

Checking_target& target() {
    static Checking_target instance;
    return instance;
}

kem::com::log::Generic_logger& logger() {
    static kem::com::log::Generic_logger instance("fuzz", target());
    return instance;
}

using host::Has_read;
using host::Is_full_routine;
using host::Result_of;

// Canonical SOME/IP size of a record: what an application that sends no surplus sends.
template <class Record>
std::size_t canonical_size(const Record& record) {
    return host::someip_record(record).size();
}

void expect_transport(const kem::com::Transport_exception& failure, std::uint8_t code) {
    if (failure.code() != code) {
        fail("Transport_exception carries the wrong code");
    }
}

template <class S, class M>
void respond(std::uint8_t code, const std::uint8_t* data, std::size_t size, bool embedded) {
    using R = typename Result_of<M>::type;
    constexpr bool has_error = !std::is_same_v<M, typename S::Cancel>;
    constexpr std::size_t error_codes = Is_full_routine<S>::value ? 3 : 1;

    // The runtime hands the payload over as a range of its buffer.
    auto buffer = std::make_shared<Bytes>();
    if (embedded) {
        buffer->push_back(0xEE);
    }
    buffer->insert(buffer->end(), data, data + size);
    if (embedded) {
        buffer->push_back(0xEE);
    }
    const std::uint8_t* first = buffer->data() + (embedded ? 1 : 0);
    binding::Serialized_payload payload{0, buffer, first, first + size};

    target().lines = 0;
    auto promise = std::make_shared<zun::com::Promise<R>>();
    zun::com::Future<R> future = promise->get_future();
    binding::proxy::Response_handler<M, R> handler(logger(), promise,
                                                   binding::Service_info{S::service_id, "fuzz"});
    handler(code, std::move(payload));
    if (!future.is_ready()) {
        fail("the response handler left the future pending");
    }
    if (target().enabled && target().lines != 1) {
        fail("a response must be reported by exactly one incident line");
    }

    try {
        if constexpr (std::is_void_v<R>) {
            future.get();
        } else {
            const R record = future.get();
            if (canonical_size(record) > size) {
                fail("a record was decoded from fewer bytes than it needs");
            }
        }
        if (code != 0) {
            fail("a non-zero return code produced a result");
        }
    } catch (const kem::com::Transport_exception& failure) {
        if (code == 0 || (has_error && code == 2)) {
            // Undecodable record or error payload.
            if (code == 2 && size >= error_codes) {
                fail("an application error with a complete payload became a transport error");
            }
            expect_transport(failure, 0x8A);
        } else if (code == 0x81 || code == 0x82 || code == 0x86) {
            expect_transport(failure, code);
        } else if (code == 0xFF) {
            fail("0xFF must be Service_not_available_exception");
        } else {
            expect_transport(failure, 0x8A);
        }
    } catch (const kem::com::Service_not_available_exception&) {
        if (code != 0xFF) {
            fail("Service_not_available_exception for a code other than 0xFF");
        }
    } catch (const typename S::UDSServiceFailed& failure) {
        if constexpr (has_error) {
            if (code != 2 || size < error_codes) {
                fail("UDSServiceFailed without return code 2 and a complete payload");
            }
            if (M::response_code(failure) != data[host::error_code_position<S, M>()]) {
                fail("UDSServiceFailed carries the wrong code for its method");
            }
        } else {
            fail("Cancel knows no application error");
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "responses_fuzz: unexpected exception: %s\n", failure.what());
        std::abort();
    }
}

// Every method of S in method-id order.
template <class S>
void respond_to(unsigned selector, std::uint8_t code, const std::uint8_t* data, std::size_t size,
                bool embedded) {
    if constexpr (Is_full_routine<S>::value) {
        switch (selector % 4) {
            case 0:
                return respond<S, typename S::Cancel>(code, data, size, embedded);
            case 1:
                return respond<S, typename S::RequestResults>(code, data, size, embedded);
            case 2:
                return respond<S, typename S::Start>(code, data, size, embedded);
            default:
                return respond<S, typename S::Stop>(code, data, size, embedded);
        }
    } else {
        if (selector % 2 == 0) {
            return respond<S, typename S::Cancel>(code, data, size, embedded);
        }
        if constexpr (Has_read<S>::value) {
            return respond<S, typename S::Read>(code, data, size, embedded);
        } else {
            return respond<S, typename S::Start>(code, data, size, embedded);
        }
    }
}

using Respond = void (*)(unsigned, std::uint8_t, const std::uint8_t*, std::size_t, bool);

template <class... Interfaces>
constexpr auto respond_table(orlak::services::diag::Type_list<Interfaces...>) {
    return std::array<Respond, sizeof...(Interfaces)>{&respond_to<Interfaces>...};
}

const auto table = respond_table(orlak::services::diag::All_interfaces{});

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const unsigned selector = data[1];
    target().enabled = (selector & 0x40) != 0;
    table[data[0] % table.size()](selector & 0x3F, data[2], data + 3, size - 3,
                                  (selector & 0x80) != 0);
    return 0;
}
