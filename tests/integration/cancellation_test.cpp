// Cancellation from the manager: a cancel from a second thread ends a request that the
// application never answers; idle cancels leave the next request alone; a pending Cancel
// call is released cleanly when the extension goes away.

#include "integration/simulated_application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "integration/expected_catalogue.h"
#include "integration/plugin_host.h"
#include "integration/wire_bytes.h"
#include "platform/runtime/application.h"

namespace integration {
namespace {

using namespace std::chrono_literals;

// Far above the 1 ms the wait loop needs to notice a cancel; only a hang exceeds it.
constexpr auto bound = 10s;

constexpr std::uint16_t block_description = 0x0411;  // Read output: u8, u16, u8[12], u32
constexpr std::uint16_t warn_trigger = 0x0318;       // full routine, six Start parameters

// Waits for an operation running on another thread. When it does not end in time the held
// calls are answered so that the thread can finish, and the test fails.
template <class Result>
bool ends_in_time(std::future<Result>& running, Simulated_application& app) {
    if (running.wait_for(bound) == std::future_status::ready)
        return true;
    app.release_held(0xFF, {});
    running.wait();
    return false;
}

TEST(Cancellation, CancelFromAnotherThreadEndsAWaitingRead) {
    const auto& entry = expected_did(block_description);
    Simulated_application app(entry.service_id());
    app.hold(entry.read_method());
    auto did = connect_did(entry.id);

    Bytes response{0xEE};
    auto reading =
        std::async(std::launch::async, [&] { return did->read(request_meta(), response); });
    ASSERT_TRUE(app.wait_for_calls(1));
    EXPECT_TRUE(did->cancel(cancel_meta()));
    ASSERT_TRUE(ends_in_time(reading, app)) << "read did not end after cancel";
    EXPECT_EQ(reading.get(), 0);
    EXPECT_EQ(response, Bytes{0xEE});

    ASSERT_TRUE(app.wait_for_calls(2));
    const auto cancel_call = app.calls().at(1);
    EXPECT_EQ(cancel_call.method_id, entry.cancel_method());
    EXPECT_EQ(hex(cancel_call.payload), hex(someip_meta(cancel_meta())));

    // The abandoned Read is answered late; the answer is dropped and the next read gets
    // its own.
    const auto stale = make_values(entry.output, 0x10, 0);
    EXPECT_EQ(app.release_held(0, someip_record(entry.output, stale)), 1u);
    platform::runtime::settle();
    const auto fresh = make_values(entry.output, 0x80, 0);
    app.answer(entry.read_method(), 0, someip_record(entry.output, fresh));
    response.clear();
    EXPECT_EQ(did->read(request_meta(), response), 0);
    EXPECT_EQ(hex(response), hex(uds_record(fresh)));
}

TEST(Cancellation, CancelFromAnotherThreadEndsAWaitingRoutine) {
    const auto& entry = expected_rid(warn_trigger);
    Simulated_application app(entry.service_id());
    app.hold(entry.start_method());
    app.hold(entry.stop_method());
    auto rid = connect_rid(entry.id);

    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop" : "start");
        const auto before = app.call_count();
        Bytes request = uds_record(make_values(entry.start_parameters, 0x30, 0));
        Bytes response{0xEE};
        auto running = std::async(std::launch::async, [&] {
            return stop ? rid->stop(request, request_meta(), response)
                        : rid->start(request, request_meta(), response);
        });
        ASSERT_TRUE(app.wait_for_calls(before + 1));
        EXPECT_TRUE(rid->cancel(cancel_meta()));
        ASSERT_TRUE(ends_in_time(running, app)) << "operation did not end after cancel";
        EXPECT_EQ(running.get(), 0);
        EXPECT_EQ(response, Bytes{0xEE});
        ASSERT_TRUE(app.wait_for_calls(before + 2));
        EXPECT_EQ(app.calls().at(before + 1).method_id, entry.cancel_method());
    }
    app.drop_held();
}

TEST(Cancellation, IdleCancelsLeaveTheNextReadAloneAndDieWithTheExtension) {
    const auto& entry = expected_did(block_description);
    Simulated_application app(entry.service_id());
    app.hold(entry.cancel_method());  // the Cancel calls stay pending
    const auto values = make_values(entry.output, 0x41, 0);
    app.answer(entry.read_method(), 0, someip_record(entry.output, values));
    auto did = connect_did(entry.id);

    const Meta second{{"reason", "second"}};
    EXPECT_TRUE(did->cancel(cancel_meta()));
    EXPECT_TRUE(did->cancel(second));  // releases the first pending Cancel
    ASSERT_TRUE(app.wait_for_calls(2));
    auto calls = app.calls();
    EXPECT_EQ(calls[0].method_id, entry.cancel_method());
    EXPECT_EQ(hex(calls[0].payload), hex(someip_meta(cancel_meta())));
    EXPECT_EQ(calls[1].method_id, entry.cancel_method());
    EXPECT_EQ(hex(calls[1].payload), hex(someip_meta(second)));

    Bytes response;
    EXPECT_EQ(did->read(request_meta(), response), 0);
    EXPECT_EQ(hex(response), hex(uds_record(values)));

    // Destroyed with its last Cancel still pending: nothing more is sent. Another extension
    // of the same identifier is the next (and only next) caller.
    did.reset();
    platform::runtime::settle();
    auto next = connect_did(entry.id);
    response.clear();
    EXPECT_EQ(next->read(request_meta(), response), 0);
    calls = app.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].method_id, entry.read_method());

    // Late answers to the released Cancel calls are dropped.
    EXPECT_EQ(app.release_held(0, {}), 2u);
    platform::runtime::settle();
}

}  // namespace
}  // namespace integration
