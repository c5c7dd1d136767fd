// Cancellation from the manager: a cancel from a second thread ends a request that the
// application has not answered, and the late answer is dropped, also when the service is
// withdrawn and offered again meanwhile (what scripts/stress runs at load, in fixed order).

#include "host/extensions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>

#include "host/application.h"
#include "host/built_plugin.h"
#include "platform/runtime/application.h"
#include "support/expected_catalogue.h"
#include "support/wire_bytes.h"

namespace {

using namespace support;
using host::Simulated_application;

// The wait loop looks at the cancel flag between slices of 1 ms, so a cancelled operation
// ends within a few of them. The bound leaves room for a loaded machine and for sanitizer
// builds, yet fails when the slices grow to a second.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto cancel_bound = std::chrono::milliseconds(5000);
#else
constexpr auto cancel_bound = std::chrono::milliseconds(800);
#endif

// Waits for an operation running on another thread to end after its cancel. When it does
// not end within ten seconds, the held calls are answered so that the thread can finish.
// Returns how long it took (ten seconds or more: it did not end by itself).
std::chrono::steady_clock::duration time_to_end(std::future<std::uint8_t>& running,
                                                Simulated_application& app) {
    const auto cancelled = std::chrono::steady_clock::now();
    if (running.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        app.release_held(0xFF, {});
        running.wait();
    }
    return std::chrono::steady_clock::now() - cancelled;
}

// Runs `operation` on another thread while `method` is held, cancels it, and checks that it
// ends with 0, nothing written, and that the Cancel call carries the cancel MetaInfo.
template <class Extension>
void expect_cancel_ends(Simulated_application& app, Extension& extension, std::uint16_t method,
                        const std::function<std::uint8_t(Bytes&)>& operation) {
    app.hold(method);
    const auto before = app.call_count();
    Bytes response{0xEE};
    auto running = std::async(std::launch::async, [&] { return operation(response); });
    ASSERT_TRUE(app.wait_for_calls(before + 1));
    EXPECT_TRUE(extension.cancel(cancel_meta()));
    const auto took = time_to_end(running, app);
    EXPECT_LT(took, cancel_bound)
        << "the operation ended "
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
        << " ms after its cancel";
    EXPECT_EQ(running.get(), 0);
    EXPECT_EQ(response, Bytes{0xEE});
    ASSERT_TRUE(app.wait_for_calls(before + 2));
    const auto cancel_call = app.calls().at(before + 1);
    EXPECT_EQ(cancel_call.method_id, Expected_identifier::cancel_method);
    EXPECT_EQ(hex(cancel_call.payload), hex(someip_meta(cancel_meta())));
}

TEST(Cancellation, ends_a_waiting_read_and_drops_the_late_answer_across_a_withdrawal) {
    const auto& entry = expected_did(0x0411);
    Simulated_application app(entry.service_id());
    auto did = host::connect_did(host::built_plugin(), entry.id);
    for (std::uint8_t round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        expect_cancel_ends(app, *did, entry.read_method,
                           [&](Bytes& response) { return did->read(request_meta(), response); });
        // The service goes while the abandoned Read is held, which is answered late.
        app.withdraw();
        EXPECT_EQ(app.release_held(0, encode(entry.output, 0x10, 0).someip), 1u);
        platform::runtime::settle();
        Bytes response;
        EXPECT_EQ(did->read(request_meta(), response), 0x10);
        // Offered again: the next read gets its own answer, not the late one.
        app.offer();
        platform::runtime::settle();
        const auto fresh = encode(entry.output, 0x80 + round, 0);
        app.answer(entry.read_method, 0, fresh.someip);
        EXPECT_EQ(did->read(request_meta(), response), 0);
        EXPECT_EQ(hex(response), hex(fresh.uds));
    }
}

TEST(Cancellation, ends_a_waiting_start_and_stop) {
    const auto& entry = expected_rid(0x0318);
    Simulated_application app(entry.service_id());
    auto rid = host::connect_rid(host::built_plugin(), entry.id);
    Bytes request = encode(entry.start_parameters, 0x30, 0).uds;
    expect_cancel_ends(app, *rid, entry.start_method(), [&](Bytes& response) {
        return rid->start(request, request_meta(), response);
    });
    expect_cancel_ends(app, *rid, entry.stop_method, [&](Bytes& response) {
        return rid->stop(request, request_meta(), response);
    });
}

}  // namespace
