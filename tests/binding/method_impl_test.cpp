#include "binding/method_impl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "binding/find_first.h"
#include "binding/proxy_impl.h"
#include "host/application.h"
#include "runtime_core.h"
#include "services/d_01a7/d_01a7.h"
#include "services/r_029a/r_029a.h"
#include "support/log_capture.h"
#include "support/wire_bytes.h"

namespace {

using host::Simulated_application;
using kem::com::cpp_binding::proxy::Method_impl;
using kem::com::cpp_binding::proxy::Proxy_impl;
using support::Bytes;
using support::Log_capture;
using Did = orlak::services::diag::d_01a7::DataIdentifier_SoftwareVendor;
using Routine = orlak::services::diag::r_029a::RoutineService_CalculateModuleHashValue;

template <class M>
using Method_of = Method_impl<M, false, typename M::Signature>;

// The payloads themselves are checked for every method end to end.
TEST(Method_call, logs_the_request_with_meta_and_inputs_at_debug) {
    Simulated_application app(Routine::service_id, "method.start");
    app.answer(Routine::Start::id, 0, {1, 2, 3});
    Proxy_impl<Routine> impl(binding_test::find_first<Routine>("method.start"));
    Log_capture log(ara::log::LogLevel::kDebug);

    EXPECT_EQ(Method_of<Routine::Start>{impl}({{"k", "v"}}, 0x05, 0x06).get().field_2, 3);
    {
        Log_capture quiet(ara::log::LogLevel::kInfo);  // neither request nor response logged
        Method_of<Routine::Stop>{impl}({}).get();
        EXPECT_EQ(quiet.sink().size(), 0u);
    }

    EXPECT_EQ(app.call_count(), 2u);
    const auto lines = log.incidents("Method_call_request_tx");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, ara::log::LogLevel::kDebug);
    EXPECT_EQ(lines[0].document, nlohmann::json::parse(R"({
        "1_incident": {"1_id": "Method_call_request_tx",
                       "2_service_id": {"1_id": "Service_id", "string": "orlak::services::diag::r_029a::RoutineService_CalculateModuleHashValue"},
                       "3_instance_id": {"1_id": "Instance_id", "2_string": "method.start"},
                       "4_method_id": 2},
        "2_data": {"1_map": {"k": "v"}, "2_uint8": 5, "3_uint8": 6}})"));
}

TEST(Method_call, unavailable_service_throws_and_sends_nothing) {
    Simulated_application app(Did::service_id, "method.unavailable");
    Proxy_impl<Did> impl(binding_test::find_first<Did>("method.unavailable"));
    app.withdraw();
    Log_capture log;

    try {
        Method_of<Did::Read>{impl}({});
        FAIL() << "the call went out";
    } catch (const kem::com::Service_not_available_exception& e) {
        EXPECT_STREQ(e.what(), "Service not available exception");
    }
    platform::runtime::settle();
    EXPECT_EQ(app.call_count(), 0u);
    EXPECT_TRUE(log.incidents("Method_call_request_tx").empty());
}

// The transport hands requests to the applications one at a time: while the application
// holds the first call, the second stays queued and the runtime has not accepted it.
TEST(Method_call, giving_up_a_request_the_runtime_has_not_accepted_is_logged_once) {
    std::promise<void> first_arrived, release_first;
    auto released = release_first.get_future().share();
    bool first = true;  // only touched on the transport thread
    Simulated_application app(Did::service_id, "method.queued");
    app.set_policy([&](const host::Received_call&) {
        if (std::exchange(first, false)) {
            first_arrived.set_value();
            released.wait();
        }
        return host::Reply{0, {0x07, 0x12, 0x34}};
    });
    Proxy_impl<Did> impl(binding_test::find_first<Did>("method.queued"));
    const Method_of<Did::Read> read(impl);
    Log_capture log(ara::log::LogLevel::kInfo);

    auto held = read({});
    first_arrived.get_future().wait();
    std::optional<zun::com::Future<Did::Read::Output>> queued(read({}));
    EXPECT_FALSE(queued->is_ready());
    queued.reset();
    release_first.set_value();

    const auto lines = log.incidents("Method_call_request_cancelled");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, ara::log::LogLevel::kInfo);
    EXPECT_EQ(lines[0].document["1_incident"]["4_method_id"], 1);
    EXPECT_EQ(lines[0].document["1_incident"]["3_instance_id"]["2_string"], "method.queued");
    EXPECT_FALSE(lines[0].document.contains("2_data"));
    EXPECT_EQ(held.get().field_1, 0x1234);
    platform::runtime::settle();
    EXPECT_EQ(log.incidents("Method_call_request_cancelled").size(), 1u);
}

// Once the application has a call, giving up its future logs nothing, and the answer still
// resolves a future whose method and port are gone.
TEST(Method_call, accepted_requests_outlive_their_future_method_and_port) {
    Simulated_application app(Did::service_id, "method.accepted");
    app.hold(Did::Read::id);
    auto impl = std::make_unique<Proxy_impl<Did>>(binding_test::find_first<Did>("method.accepted"));
    auto read = std::make_unique<Method_of<Did::Read>>(*impl);
    Log_capture log;

    std::optional<zun::com::Future<Did::Read::Output>> dropped((*read)({}));
    auto kept = (*read)({});
    ASSERT_TRUE(app.wait_for_calls(2));
    dropped.reset();
    read.reset();
    impl.reset();
    EXPECT_EQ(app.release_held(0, {0x07, 0x12, 0x34}), 2u);

    EXPECT_EQ(kept.get().field_0, 0x07);
    platform::runtime::settle();
    EXPECT_TRUE(log.incidents("Method_call_request_cancelled").empty());
    EXPECT_EQ(log.incidents("Method_call_response_rx").size(), 2u);
}

// A runtime that shuts down drops the calls still queued and every call sent afterwards;
// their futures break at once instead of waiting for an answer that cannot come.
TEST(Method_call, a_call_the_runtime_drops_at_shutdown_breaks_its_future) {
    using namespace std::chrono_literals;
    for (const bool queued : {true, false}) {
        SCOPED_TRACE(queued ? "queued at shutdown" : "sent after shutdown");
        const std::string instance = "method.shutdown";
        auto runtime = std::make_shared<platform::runtime::detail::Runtime>();
        std::promise<void> arrived, release;
        auto released = release.get_future().share();
        auto record = runtime->offer(Did::service_id, instance,
                                     [&arrived, released](platform::runtime::Incoming_call) {
                                         arrived.set_value();
                                         released.wait_for(10s);
                                     });
        Proxy_impl<Did> impl(
            zun::com::runtime::Service_handle(zun::com::runtime::Service_id(Did::service_id),
                                              zun::com::runtime::Instance_id(instance), record));
        const Method_of<Did::Read> read(impl);

        std::optional<zun::com::Future<Did::Read::Output>> held;
        std::optional<zun::com::Future<Did::Read::Output>> dropped;
        std::future_status status = std::future_status::timeout;
        if (queued) {
            held.emplace(read({}));  // keeps the transport thread in the application
            ASSERT_EQ(arrived.get_future().wait_for(10s), std::future_status::ready);
            dropped.emplace(read({}));
            std::thread stopping([&runtime] { runtime->shutdown(); });
            status = dropped->wait_for(5s);
            release.set_value();
            stopping.join();
        } else {
            runtime->shutdown();
            dropped.emplace(read({}));
            status = dropped->wait_for(5s);
        }
        ASSERT_EQ(status, std::future_status::ready);
        try {
            dropped->get();
            ADD_FAILURE() << "a dropped call has a result";
        } catch (const std::future_error& e) {
            EXPECT_EQ(e.code(), std::future_errc::broken_promise);
        }
    }
}

}  // namespace
