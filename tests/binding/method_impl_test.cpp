#include "binding/method_impl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding/binding_test_support.h"
#include "binding/probe_interfaces.h"
#include "binding/proxy_impl.h"
#include "platform/runtime/application.h"

namespace {

using binding_test::Log_capture;
using binding_test::Recording_application;
using kem::com::cpp_binding::proxy::Method_impl;
using kem::com::cpp_binding::proxy::Proxy_impl;
using kem::dm::types::MetaInfo;
using Bytes = std::vector<std::uint8_t>;
using Probe = probe::d_0001::DataIdentifier_Probe;
using Routine = probe::r_0002::RoutineService_Probe;

template <class M>
using Method_of = Method_impl<M, false, typename M::Signature>;

// Response payload of Probe::Read: 07, 12 34, then the array 0A 0B 0C with its length.
const Bytes read_response{0x07, 0x12, 0x34, 0x00, 0x00, 0x00, 0x03, 0x0A, 0x0B, 0x0C};

// {"k": "v"} as the first item of every request.
const Bytes meta_k_v{0, 0, 0, 10, 0, 0, 0, 1, 'k', 0, 0, 0, 1, 'v'};

Bytes concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(Method_call, sends_meta_then_inputs_under_the_method_id) {
    Recording_application app(Routine::service_id, "method.start",
                              Recording_application::respond_with(0, {0x09}));
    Proxy_impl<Routine> impl(binding_test::find_first<Routine>("method.start"));
    const Method_of<Routine::Start> start(impl.port());

    EXPECT_EQ(start({{"k", "v"}}, 0x05, 0x1234, 0x06).get().result, 0x09);
    Method_of<Routine::Stop>(impl.port())({}).get();

    const auto calls = app.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method_id, 2);
    EXPECT_EQ(calls[0].payload, concat(meta_k_v, {0x05, 0x12, 0x34, 0x06}));
    EXPECT_EQ(calls[1].method_id, 3);
    EXPECT_EQ(calls[1].payload, (Bytes{0, 0, 0, 0}));
}

TEST(Method_call, unavailable_service_throws_and_sends_nothing) {
    Recording_application app(Probe::service_id, "method.unavailable",
                              Recording_application::respond_with(0, read_response));
    Proxy_impl<Probe> impl(binding_test::find_first<Probe>("method.unavailable"));
    const Method_of<Probe::Read> read(impl.port());
    app.withdraw();
    Log_capture log;

    try {
        read({});
        FAIL() << "the call went out";
    } catch (const kem::com::Service_not_available_exception& e) {
        EXPECT_STREQ(e.what(), "Service not available exception");
    }
    platform::runtime::settle();
    EXPECT_TRUE(app.calls().empty());
    EXPECT_TRUE(log.incidents("Method_call_request_tx").empty());
}

TEST(Method_call, request_is_logged_at_debug_with_meta_and_inputs) {
    Recording_application app(Routine::service_id, "method.tx",
                              Recording_application::respond_with(0, {0x01}));
    Proxy_impl<Routine> impl(binding_test::find_first<Routine>("method.tx"));
    Log_capture log(ara::log::LogLevel::kDebug);

    Method_of<Routine::Start>(impl.port())({{"k", "v"}}, 0x05, 0x1234, 0x06).get();

    const auto lines = log.incidents("Method_call_request_tx");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, ara::log::LogLevel::kDebug);
    EXPECT_EQ(lines[0].document, nlohmann::json::parse(R"({
        "1_incident": {"1_id": "Method_call_request_tx",
                       "2_service_id": {"1_id": "Service_id",
                                        "string": "probe::r_0002::RoutineService_Probe"},
                       "3_instance_id": {"1_id": "Instance_id", "2_string": "method.tx"},
                       "4_method_id": 2},
        "2_data": {"1_map": {"k": "v"}, "2_uint8": 5, "3_uint16": 4660, "4_uint8": 6}})"));
}

TEST(Method_call, below_debug_neither_request_nor_response_is_logged) {
    Recording_application app(Probe::service_id, "method.quiet",
                              Recording_application::respond_with(0, read_response));
    Proxy_impl<Probe> impl(binding_test::find_first<Probe>("method.quiet"));
    Log_capture log(ara::log::LogLevel::kInfo);

    EXPECT_EQ(Method_of<Probe::Read>(impl.port())({{"k", "v"}}).get().counter, 0x1234);

    EXPECT_EQ(log.size(), 0u);
}

// The transport hands requests to the applications one at a time: while the application
// holds the first call, the second stays queued and the runtime has not accepted it.
TEST(Method_call, giving_up_a_request_the_runtime_has_not_accepted_is_logged_once) {
    std::promise<void> first_arrived;
    std::promise<void> release_first;
    auto released = release_first.get_future().share();
    bool first = true;  // only touched on the transport thread
    Recording_application app(Probe::service_id, "method.cancelled",
                              [&](platform::runtime::Incoming_call call) {
                                  if (first) {
                                      first = false;
                                      first_arrived.set_value();
                                      released.wait();
                                  }
                                  call.respond(0, read_response);
                              });
    struct Release_on_exit {
        std::promise<void>& release;
        ~Release_on_exit() {
            try {
                release.set_value();
            } catch (const std::future_error&) {
            }
        }
    } release_guard{release_first};
    Proxy_impl<Probe> impl(binding_test::find_first<Probe>("method.cancelled"));
    const Method_of<Probe::Read> read(impl.port());
    Log_capture log(ara::log::LogLevel::kInfo);

    auto held = read({});
    first_arrived.get_future().wait();
    std::optional<zun::com::Future<Probe::Read::Output>> queued(read({}));
    EXPECT_FALSE(queued->is_ready());
    queued.reset();

    const auto lines = log.incidents("Method_call_request_cancelled");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, ara::log::LogLevel::kInfo);
    EXPECT_EQ(lines[0].document["1_incident"]["4_method_id"], 1);
    EXPECT_EQ(lines[0].document["1_incident"]["3_instance_id"]["2_string"], "method.cancelled");
    EXPECT_FALSE(lines[0].document.contains("2_data"));

    release_first.set_value();
    EXPECT_EQ(held.get().status, 0x07);
    platform::runtime::settle();
    EXPECT_EQ(log.incidents("Method_call_request_cancelled").size(), 1u);
}

TEST(Method_call, giving_up_an_accepted_request_logs_nothing) {
    std::promise<platform::runtime::Incoming_call> arrived;
    Recording_application app(
        Probe::service_id, "method.accepted",
        [&](platform::runtime::Incoming_call call) { arrived.set_value(std::move(call)); });
    Proxy_impl<Probe> impl(binding_test::find_first<Probe>("method.accepted"));
    Log_capture log(ara::log::LogLevel::kDebug);

    std::optional<zun::com::Future<Probe::Read::Output>> pending(
        Method_of<Probe::Read>(impl.port())({}));
    auto call = arrived.get_future().get();  // the application has it: the runtime took it
    pending.reset();

    EXPECT_TRUE(log.incidents("Method_call_request_cancelled").empty());
    EXPECT_TRUE(call.respond(0, read_response));  // a late answer is still taken
    platform::runtime::settle();
    EXPECT_EQ(log.incidents("Method_call_response_rx").size(), 1u);
}

TEST(Method_call, response_after_the_port_is_gone_still_resolves_the_future) {
    std::promise<platform::runtime::Incoming_call> arrived;
    Recording_application app(
        Probe::service_id, "method.late",
        [&](platform::runtime::Incoming_call call) { arrived.set_value(std::move(call)); });
    auto impl = std::make_unique<Proxy_impl<Probe>>(binding_test::find_first<Probe>("method.late"));
    auto read = std::make_unique<Method_of<Probe::Read>>(impl->port());

    auto result = (*read)({});
    auto call = arrived.get_future().get();
    read.reset();
    impl.reset();
    ASSERT_TRUE(call.respond(0, read_response));

    const auto output = result.get();
    EXPECT_EQ(output.status, 0x07);
    EXPECT_EQ(output.tag, (std::array<std::uint8_t, 3>{0x0A, 0x0B, 0x0C}));
}

}  // namespace
