// Fuzz target: the request bytes of a routine operation (start, stop, request_results of
// any of the 26 routines) through the real extension: decoding, the method call through
// the runtime stand-in to a simulated application that answers at once, and the mapping
// of the answer to UDS bytes and a response code.
//
// Input: byte 0 picks the routine (list order, modulo 26); byte 1 picks the operation (bits
// 0-1: start, stop, request_results, start) and the application's answer (bits 2-4: its
// record, its record, its record, its record, UDSServiceFailed 31 22 33, transport code
// 0x81, return code 0 with an empty payload, 0xFF); the rest are the request bytes.
//
// Checked for every input, against an independent decoding of the request bytes: a request
// too short for Start's parameters answers 0x13 and sends nothing; otherwise the
// application receives exactly the MetaInfo and the decoded parameters in SOME/IP form,
// and the answer is the record in UDS form, the method's own code from UDSServiceFailed, or
// 0x10. Operations that a routine does not have answer 0 without sending anything.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "foundation/extension.h"
#include "host/application.h"
#include "host/interface_traits.h"
#include "host/record_writer.h"
#include "platform/ara_log/control.h"
#include "platform/runtime/application.h"
#include "services/all_interfaces.h"
#include "services/catalogue.h"
#include "services/extension_factory.h"
#include "someip/serializer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kem::dm::foundation::extension::Extension_routine_control;
using kem::dm::types::MetaInfo;

constexpr char instance[] = "fuzz";
const MetaInfo meta{{"source", "fuzz"}, {"tester", "0x0E80"}};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "routine_requests_fuzz: %s\n", what);
    std::abort();
}

// What the simulated applications answer to the next call, and what reached them.
struct Exchange {
    std::mutex mutex;
    std::uint8_t code = 0;
    Bytes payload;
    unsigned calls = 0;
    std::uint16_t method = 0;
    Bytes request;
};

Exchange& exchange() {
    static Exchange instance;
    return instance;
}

using host::Has_output;
using host::Is_full_routine;
using host::Is_routine;

template <class Signature>
struct Parameters;
template <class R, class... Args>
struct Parameters<R(const MetaInfo&, Args...)> {
    using type = std::tuple<std::decay_t<Args>...>;
};

// Request bytes as the parameters of a signature: integers most significant byte first, a
// fixed array byte by byte, a byte sequence takes the rest. Empty when too short.
template <class Signature>
std::optional<typename Parameters<Signature>::type> decode(const Bytes& request) {
    typename Parameters<Signature>::type parameters;
    std::size_t position = 0;
    bool complete = true;
    auto take = [&](auto& parameter) {
        using T = std::decay_t<decltype(parameter)>;
        if constexpr (std::is_same_v<T, Bytes>) {
            parameter.assign(request.begin() + static_cast<std::ptrdiff_t>(position),
                             request.end());
            position = request.size();
        } else if constexpr (std::is_integral_v<T>) {
            if (request.size() - position < sizeof(T)) {
                complete = false;
                return;
            }
            T value = 0;
            for (std::size_t i = 0; i < sizeof(T); ++i) {
                value = static_cast<T>((value << 8) | request[position++]);
            }
            parameter = value;
        } else {
            if (request.size() - position < parameter.size()) {
                complete = false;
                return;
            }
            for (auto& byte : parameter) {
                byte = request[position++];
            }
        }
    };
    std::apply([&](auto&... parameter) { ((complete ? take(parameter) : void()), ...); },
               parameters);
    if (!complete) {
        return std::nullopt;
    }
    return parameters;
}

template <class... Args>
Bytes request_payload(const Args&... args) {
    Bytes out;
    kem::com::someip::serialization::serialize_method_arguments(out, meta, args...);
    return out;
}

// A record with every byte set from `seed` upwards and a byte sequence of `seed % 5` bytes,
// as SOME/IP payload and as UDS bytes.
template <class Record>
std::pair<Bytes, Bytes> record_forms(std::uint8_t seed) {
    Record record{};
    std::uint8_t next = seed;
    Bytes uds;
    auto fill = [&](auto& member) {
        using T = std::decay_t<decltype(member)>;
        if constexpr (std::is_integral_v<T>) {
            member = static_cast<T>(next++);
            for (std::size_t i = sizeof(T); i-- > 0;) {
                uds.push_back(static_cast<std::uint8_t>(member >> (8 * i)));
            }
        } else if constexpr (std::is_same_v<T, Bytes>) {
            member.assign(seed % 5, next++);
            uds.insert(uds.end(), member.begin(), member.end());
        } else {
            for (auto& byte : member) {
                byte = next++;
                uds.push_back(byte);
            }
        }
    };
    record.visit(fill);
    return {host::someip_record(record), uds};
}

// The extension of every routine, each connected to its own simulated application.
class Routines {
  public:
    Routines() {
        platform::ara_log::set_threshold(ara::log::LogLevel::kOff);
        for (const std::uint16_t id : orlak::services::diag::rid_table) {
            extensions_[count_] = orlak::services::diag::construct_rid_extension(id);
            ++count_;
        }
        add_offers(orlak::services::diag::All_interfaces{});
        for (std::size_t i = 0; i < count_; ++i) {
            extensions_[i]->start_find_service(instance);
        }
        platform::runtime::settle();
    }
    // Kept until the process ends: the runtime's threads run until then.
    Extension_routine_control& operator[](std::size_t index) { return *extensions_[index]; }

  private:
    template <class... Interfaces>
    void add_offers(orlak::services::diag::Type_list<Interfaces...>) {
        (add_offer<Interfaces>(), ...);
    }
    template <class S>
    void add_offer() {
        if constexpr (Is_routine<S>::value) {
            offer(S::service_id);
        }
    }
    void offer(const char* service) {
        auto& app = applications_.emplace_back(std::make_unique<host::Simulated_application>(
            service, instance, host::Simulated_application::Recording::none));
        app->set_policy([](const host::Received_call& call) -> std::optional<host::Reply> {
            Exchange& ex = exchange();
            std::lock_guard<std::mutex> lock(ex.mutex);
            ++ex.calls;
            ex.method = call.method_id;
            ex.request = call.payload;
            return host::Reply{ex.code, ex.payload};
        });
    }

    std::array<Extension_routine_control*, 26> extensions_{};
    std::size_t count_ = 0;
    std::vector<std::unique_ptr<host::Simulated_application>> applications_;
};

Routines& routines() {
    static Routines instance;
    return instance;
}

enum class Operation { start, stop, request_results };

struct Expected {
    bool sent = false;
    std::uint16_t method = 0;
    Bytes request;
    std::uint8_t code = 0;
    Bytes response;
};

// What one operation of S must do with `request` when the application answers `answer`.
template <class S, class M>
Expected expect(const Bytes& request, unsigned answer, std::uint8_t seed) {
    Expected expected;
    if constexpr (std::is_same_v<M, typename S::Start>) {
        const auto parameters = decode<typename M::Signature>(request);
        if (!parameters) {
            expected.code = 0x13;
            return expected;
        }
        expected.request =
            std::apply([](const auto&... p) { return request_payload(p...); }, *parameters);
    } else {
        expected.request = request_payload();
    }
    expected.sent = true;
    expected.method = M::id;

    Exchange& ex = exchange();
    std::lock_guard<std::mutex> lock(ex.mutex);
    ex.payload.clear();
    switch (answer) {
        case 4: {
            ex.code = 2;
            ex.payload = {0x31, 0x22, 0x33};
            expected.code = ex.payload[host::error_code_position<S, M>()];
            break;
        }
        case 5:
            ex.code = 0x81;
            expected.code = 0x10;
            break;
        case 6:
            ex.code = 0;
            expected.code = Has_output<M>::value ? 0x10 : 0;
            break;
        case 7:
            ex.code = 0xFF;
            expected.code = 0x10;
            break;
        default:
            ex.code = 0;
            if constexpr (Has_output<M>::value) {
                auto forms = record_forms<typename M::Output>(seed);
                ex.payload = std::move(forms.first);
                expected.response = std::move(forms.second);
            }
            break;
    }
    return expected;
}

template <class S>
Expected expect_operation(Operation operation, const Bytes& request, unsigned answer,
                          std::uint8_t seed) {
    if constexpr (Is_full_routine<S>::value) {
        if (operation == Operation::stop) {
            return expect<S, typename S::Stop>(request, answer, seed);
        }
        if (operation == Operation::request_results) {
            return expect<S, typename S::RequestResults>(request, answer, seed);
        }
    } else if (operation != Operation::start) {
        return Expected{};  // the default: 0, nothing sent
    }
    return expect<S, typename S::Start>(request, answer, seed);
}

using Expect = Expected (*)(Operation, const Bytes&, unsigned, std::uint8_t);

template <class S>
void add_routine(std::vector<Expect>& table) {
    if constexpr (Is_routine<S>::value) {
        table.push_back(&expect_operation<S>);
    }
}

// In list order, as rid_table.
template <class... Interfaces>
std::vector<Expect> routine_table(orlak::services::diag::Type_list<Interfaces...>) {
    std::vector<Expect> table;
    (add_routine<Interfaces>(table), ...);
    return table;
}

const std::vector<Expect>& expectations() {
    static const auto table = routine_table(orlak::services::diag::All_interfaces{});
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t index = data[0] % expectations().size();
    const unsigned selector = data[1];
    const Operation operation = (selector & 3) == 1   ? Operation::stop
                                : (selector & 3) == 2 ? Operation::request_results
                                                      : Operation::start;
    const unsigned answer = (selector >> 2) & 7;
    Bytes request(data + 2, data + size);
    const Bytes request_copy = request;

    Extension_routine_control& routine = routines()[index];
    const Expected expected = expectations()[index](operation, request, answer, data[1]);
    Exchange& ex = exchange();
    unsigned calls_before = 0;
    {
        std::lock_guard<std::mutex> lock(ex.mutex);
        calls_before = ex.calls;
    }

    Bytes response;
    std::uint8_t code = 0;
    switch (operation) {
        case Operation::start:
            code = routine.start(request, meta, response);
            break;
        case Operation::stop:
            code = routine.stop(request, meta, response);
            break;
        case Operation::request_results:
            code = routine.request_results(request, meta, response);
            break;
    }

    std::lock_guard<std::mutex> lock(ex.mutex);
    if (request != request_copy) {
        fail("the operation modified the request bytes");
    }
    if (ex.calls - calls_before != (expected.sent ? 1u : 0u)) {
        fail(expected.sent ? "the operation did not reach the application exactly once"
                           : "the operation reached the application although it must not");
    }
    if (expected.sent && (ex.method != expected.method || ex.request != expected.request)) {
        fail("the application received another method or other parameters");
    }
    if (code != expected.code) {
        std::fprintf(stderr, "routine_requests_fuzz: code 0x%02X, expected 0x%02X\n", code,
                     expected.code);
        fail("wrong response code");
    }
    if (response != expected.response) {
        fail("wrong response bytes");
    }
    return 0;
}
