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
// Checked for every input against the tests' own catalogue of layouts, never against the
// generated code or the library's serializer: a request shorter than Start's parameters
// answers 0x13 and sends nothing; otherwise exactly one call reaches the application, with
// the MetaInfo and the request bytes laid out by the parameter layout (each array or byte
// sequence behind a 4-byte length); the answer is the record in UDS form, the method's own
// code from UDSServiceFailed, or 0x10. Operations that a routine does not have answer 0
// without sending anything. The request bytes are never modified.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "foundation/extension.h"
#include "host/application.h"
#include "platform/ara_log/control.h"
#include "platform/runtime/application.h"
#include "services/extension_factory.h"
#include "support/expected_catalogue.h"
#include "support/wire_bytes.h"

namespace {

using kem::dm::foundation::extension::Extension_routine_control;
using support::Bytes;
using support::Expected_identifier;
using support::Field;
using support::Kind;
using support::Layout;

constexpr char instance[] = "fuzz";
const support::Meta meta{{"source", "fuzz"}, {"tester", "0x0E80"}};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "routine_requests_fuzz: %s\n", what);
    std::abort();
}

// What the simulated applications answer to the next call, and what reached them.
struct Exchange {
    std::mutex mutex;
    host::Reply reply;
    unsigned calls = 0;
    std::uint16_t method = 0;
    Bytes request;
};
Exchange exchange;

// The extension of every routine, in list order, each connected to its own application.
// Never destroyed: the runtime's threads run until the process ends.
struct Routines {
    Routines() {
        platform::ara_log::set_threshold(ara::log::LogLevel::kOff);
        for (const Expected_identifier& entry : support::expected_rids()) {
            auto& app = applications.emplace_back(std::make_unique<host::Simulated_application>(
                entry.service_id(), instance, host::Simulated_application::Recording::none));
            app->set_policy([](const host::Received_call& call) -> std::optional<host::Reply> {
                std::lock_guard<std::mutex> lock(exchange.mutex);
                ++exchange.calls;
                exchange.method = call.method_id;
                exchange.request = call.payload;
                return exchange.reply;
            });
            extensions.push_back(orlak::services::diag::construct_rid_extension(entry.id));
            if (extensions.back() == nullptr) {
                fail("no extension for a listed routine");
            }
            extensions.back()->start_find_service(instance);
        }
        platform::runtime::settle();
    }
    std::vector<std::unique_ptr<host::Simulated_application>> applications;
    std::vector<Extension_routine_control*> extensions;
};

std::size_t width(const Field& field) {
    switch (field.type) {
        case Field::Type::u8:
            return 1;
        case Field::Type::u16:
            return 2;
        case Field::Type::u32:
            return 4;
        default:
            return field.size;
    }
}

// The call's payload for these request bytes: the MetaInfo, then each parameter's bytes in
// order, an array or byte sequence behind its length; a byte sequence takes the rest and
// bytes after the last fixed-width parameter are left out. None when the bytes run short.
std::optional<Bytes> call_payload(const Layout& parameters, const Bytes& request) {
    Bytes out = support::someip_meta(meta);
    std::size_t at = 0;
    for (const Field& field : parameters) {
        const bool rest = field.type == Field::Type::bytes;
        const std::size_t size = rest ? request.size() - at : width(field);
        if (request.size() - at < size) {
            return std::nullopt;
        }
        if (rest || field.type == Field::Type::array) {
            host::append_length(out, size);
        }
        out.insert(out.end(), request.begin() + at, request.begin() + at + size);
        at += size;
    }
    return out;
}

struct Expected {
    bool sent = false;
    std::uint16_t method = 0;
    Bytes payload;
    std::uint8_t code = 0;
    Bytes response;
};

enum class Operation { start, stop, request_results };

// Sets the application's reply for `answer` and returns what the operation must give.
Expected expect(const Expected_identifier& entry, Operation operation, const Bytes& request,
                unsigned answer, std::uint8_t seed) {
    Expected expected;
    const bool full = entry.kind == Kind::full_routine;
    if (!full && operation != Operation::start) {
        return expected;  // the base class's default: 0, nothing sent
    }
    const Layout* output = &entry.output;
    std::size_t code_position = full ? 1 : 0;  // UDSServiceFailed: RequestResults, Start, Stop
    expected.method = entry.start_method();
    if (operation == Operation::start) {
        const auto payload = call_payload(entry.start_parameters, request);
        if (!payload) {
            expected.code = 0x13;
            return expected;
        }
        expected.payload = *payload;
    } else {
        expected.payload = support::someip_meta(meta);
        const bool stop = operation == Operation::stop;
        expected.method =
            stop ? Expected_identifier::stop_method : Expected_identifier::request_results_method;
        output = stop ? (entry.stop ? &*entry.stop : nullptr) : &*entry.request_results;
        code_position = stop ? 2 : 0;
    }
    expected.sent = true;

    std::lock_guard<std::mutex> lock(exchange.mutex);
    exchange.reply = {};
    switch (answer) {
        case 4:
            exchange.reply = {2, {0x31, 0x22, 0x33}};
            expected.code = exchange.reply.payload[code_position];
            break;
        case 5:
            exchange.reply.code = 0x81;
            expected.code = 0x10;
            break;
        case 6:  // an empty record: only a method without one takes it
            expected.code = output != nullptr ? 0x10 : 0;
            break;
        case 7:
            exchange.reply.code = 0xFF;
            expected.code = 0x10;
            break;
        default:
            if (output != nullptr) {
                auto record = support::encode(*output, seed, seed % 5);
                exchange.reply.payload = std::move(record.someip);
                expected.response = std::move(record.uds);
            }
            break;
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Routines& routines = *new Routines;
    if (size < 2) {
        return 0;
    }
    const std::size_t index = data[0] % routines.extensions.size();
    const Operation operation = (data[1] & 3) == 1   ? Operation::stop
                                : (data[1] & 3) == 2 ? Operation::request_results
                                                     : Operation::start;
    Bytes request(data + 2, data + size);
    const Bytes request_copy = request;
    const Expected expected =
        expect(support::expected_rids()[index], operation, request, (data[1] >> 2) & 7, data[1]);
    unsigned calls_before = 0;
    {
        std::lock_guard<std::mutex> lock(exchange.mutex);
        calls_before = exchange.calls;
    }

    Extension_routine_control& routine = *routines.extensions[index];
    Bytes response;
    const std::uint8_t code = operation == Operation::start ? routine.start(request, meta, response)
                              : operation == Operation::stop
                                  ? routine.stop(request, meta, response)
                                  : routine.request_results(request, meta, response);

    std::lock_guard<std::mutex> lock(exchange.mutex);
    if (request != request_copy) {
        fail("the operation modified the request bytes");
    }
    if (exchange.calls - calls_before != (expected.sent ? 1u : 0u)) {
        fail(expected.sent ? "the operation did not reach the application exactly once"
                           : "the operation reached the application although it must not");
    }
    if (expected.sent &&
        (exchange.method != expected.method || exchange.request != expected.payload)) {
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
