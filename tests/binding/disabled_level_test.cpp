// With the level of its incident disabled, an error response costs what its outcome needs
// and nothing more: no incident record, no JSON document and no exception text. Counted by
// the allocations on this thread, which the text of either incident would add to.

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "binding/exceptions.h"
#include "binding/response_handler.h"
#include "host/allocation_counter.h"
#include "services/d_01a7/d_01a7.h"
#include "support/log_capture.h"

namespace {

using Did = orlak::services::diag::d_01a7::DataIdentifier_SoftwareVendor;
using Handler = kem::com::cpp_binding::proxy::Response_handler<Did::Read, Did::Read::Output>;
using Level = ara::log::LogLevel;

template <class Action>
std::uint64_t allocations_during(Action&& action) {
    const std::uint64_t before = host::allocations().this_thread;
    action();
    return host::allocations().this_thread - before;
}

// Handles one response with `code` and `bytes`; returns the allocations it made.
std::uint64_t handle(std::uint8_t code, const std::vector<std::uint8_t>& bytes) {
    auto promise = std::make_shared<zun::com::Promise<Did::Read::Output>>();
    const Handler handler(ara::com::logger(), promise,
                          {Did::service_id, std::string(64, 'i')});  // no small-string room
    kem::com::cpp_binding::Serialized_payload payload;
    payload.buffer = std::make_shared<std::vector<std::uint8_t>>(bytes);
    payload.first = payload.buffer->data();
    payload.last = payload.first + payload.buffer->size();
    return allocations_during([&] { handler(code, payload); });
}

const std::vector<std::uint8_t> error_payload{0x31};

struct Error_response {
    const char* name;
    std::uint8_t code;
    Level incident_level;             // of the incident it raises
    std::exception_ptr (*outcome)();  // builds only what the future receives
};

const Error_response error_responses[] = {
    {"application error", 2, Level::kDebug,
     [] { return Did::Read::GetApplicationErrorExceptionPtr(2, error_payload); }},
    {"transport error", 0x86, Level::kError,
     [] { return std::make_exception_ptr(kem::com::Transport_exception(0x86)); }},
};

TEST(Disabled_level, error_responses_build_no_incident_text) {
    for (const auto& response : error_responses) {
        SCOPED_TRACE(response.name);
        // The outcome and the copy of the payload that every error response is read from.
        const std::uint64_t outcome = allocations_during([&] {
            const std::vector<std::uint8_t> copy = error_payload;
            response.outcome();
        });
        std::uint64_t disabled = 0;
        {
            support::Log_capture log(
                static_cast<Level>(static_cast<int>(response.incident_level) - 1));
            disabled = handle(response.code, error_payload);
            EXPECT_TRUE(log.sink().records().empty());
        }
        std::uint64_t enabled = 0;
        {
            support::Log_capture log(response.incident_level);
            enabled = handle(response.code, error_payload);
            EXPECT_EQ(log.sink().records().size(), 1u);
        }
        EXPECT_EQ(disabled, outcome);
        EXPECT_GT(enabled, disabled + 2);  // the count sees the incident when there is one
    }
}

}  // namespace
