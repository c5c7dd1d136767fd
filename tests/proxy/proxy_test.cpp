#include "proxy/proxy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "binding/binding_test_support.h"
#include "binding/probe_interfaces.h"
#include "platform/runtime/application.h"
#include "proxy/probe_proxy.h"

namespace {

using binding_test::Log_capture;
using binding_test::Recording_application;
using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;
using Probe = probe::d_0001::DataIdentifier_Probe;
using Probe_proxy = probe::d_0001::proxy::DataIdentifier_ProbeProxy;

// Used by one test only, so that its discovery numbers start at 0 there.
struct DataIdentifier_Front : Probe {
    static constexpr char service_id[] = "probe::d_0005::DataIdentifier_Front";
};
using Front = ara::com::internal::proxy::Proxy<DataIdentifier_Front>;

const Bytes read_response{0x07, 0x12, 0x34, 0x00, 0x00, 0x00, 0x03, 0x0A, 0x0B, 0x0C};

// Builds the proxy from the first report that names an instance, as an extension does.
std::unique_ptr<Probe_proxy> connect(const std::string& instance) {
    std::promise<std::unique_ptr<Probe_proxy>> built;
    bool done = false;  // touched only on the discovery's strand
    auto handle = Probe_proxy::StartFindService(
        [&](std::vector<Probe_proxy::Handle_type> handles) {
            if (!done && !handles.empty()) {
                done = true;
                built.set_value(std::make_unique<Probe_proxy>(handles.front()));
            }
        },
        instance);
    auto proxy = built.get_future();
    const bool ready = proxy.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    Probe_proxy::StopFindService(handle);
    return ready ? proxy.get() : nullptr;
}

TEST(Proxy, discovery_start_and_stop_are_logged_with_the_handle_number) {
    static bool first_run = true;  // the interface's numbers carry on under --gtest_repeat
    Log_capture log(ara::log::LogLevel::kInfo);
    const auto first = Front::StartFindService([](std::vector<Front::Handle_type>) {}, "front");
    const auto second = Front::StartFindService([](std::vector<Front::Handle_type>) {}, "front");
    Front::StopFindService(first);
    Front::StopFindService(second);

    if (first_run) {
        EXPECT_EQ(first.id, 0u);
        first_run = false;
    }
    EXPECT_EQ(second.id, first.id + 1);
    const auto starts = log.incidents("Find_service_start");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].level, ara::log::LogLevel::kInfo);
    json expected_start = json::parse(R"({
        "1_incident": {"1_id": "Find_service_start",
                       "2_service_id": {"1_id": "Service_id",
                                        "2_char const*": "probe::d_0005::DataIdentifier_Front"},
                       "3_instance_id": {"1_id": "Instance_id", "2_string": "front"}}})");
    expected_start["2_data"]["1_string"] = std::to_string(first.id);
    EXPECT_EQ(starts[0].document, expected_start);
    EXPECT_EQ(starts[1].document["2_data"]["1_string"], std::to_string(second.id));

    const auto stops = log.incidents("Find_service_stop");
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[0].level, ara::log::LogLevel::kInfo);
    json expected_stop = json::parse(R"({
        "1_incident": {"1_id": "Find_service_stop",
                       "2_service_id": {"1_id": "Service_id",
                                        "2_char const*": "probe::d_0005::DataIdentifier_Front"}}})");
    expected_stop["2_data"]["1_string"] = std::to_string(first.id);
    EXPECT_EQ(stops[0].document, expected_stop);
    EXPECT_EQ(stops[1].document["2_data"]["1_string"], std::to_string(second.id));
}

TEST(Proxy, members_call_their_methods_on_the_one_port) {
    Recording_application app(Probe::service_id, "proxy.members",
                              Recording_application::respond_with(0, read_response));
    const auto proxy = connect("proxy.members");
    ASSERT_NE(proxy, nullptr);

    EXPECT_EQ(proxy->Read({{"k", "v"}}).get().counter, 0x1234);
    proxy->Cancel({}).get();

    const auto calls = app.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method_id, 1);
    EXPECT_EQ(calls[1].method_id, 0);
}

TEST(Proxy, destroying_it_leaves_calls_in_flight_to_their_futures) {
    std::promise<platform::runtime::Incoming_call> arrived;
    Recording_application app(
        Probe::service_id, "proxy.in_flight",
        [&](platform::runtime::Incoming_call call) { arrived.set_value(std::move(call)); });
    auto proxy = connect("proxy.in_flight");
    ASSERT_NE(proxy, nullptr);

    auto result = proxy->Read({});
    auto call = arrived.get_future().get();
    proxy.reset();
    EXPECT_FALSE(result.is_ready());
    ASSERT_TRUE(call.respond(0, read_response));

    EXPECT_EQ(result.get().status, 0x07);
}

}  // namespace
