#include "binding/proxy_impl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "binding/find_first.h"
#include "platform/ara_log/control.h"
#include "platform/runtime/application.h"
#include "services/d_0102/d_0102.h"
#include "support/log_capture.h"

namespace {

using kem::com::cpp_binding::Find_service_handle;
using kem::com::cpp_binding::proxy::Proxy_impl;
using support::Log_capture;
using zun::com::runtime::Instance_id;
using Did = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus;
using Impl = Proxy_impl<Did>;
using Handles = std::vector<Impl::Handle_type>;

platform::runtime::Offer offer(const std::string& instance) {
    return platform::runtime::offer_service(Did::service_id, instance,
                                            [](platform::runtime::Incoming_call) {});
}

Find_service_handle start(Impl::Find_service_handler handler, const std::string& instance) {
    return Impl::start_find_service(std::move(handler), Instance_id(instance), ara::com::logger());
}

TEST(Find_service, reports_run_the_handler_in_order_one_at_a_time) {
    std::mutex mutex;
    std::vector<std::size_t> sizes;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    Log_capture log(ara::log::LogLevel::kInfo);
    const auto handle = start(
        [&](Handles handles) {
            overlapped = overlapped || running.fetch_add(1) != 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::lock_guard<std::mutex> lock(mutex);
            sizes.push_back(handles.size());
            --running;
        },
        "order");
    auto first = offer("order");
    auto second = offer("order");
    auto elsewhere = offer("another instance");
    auto third = offer("order");
    second.withdraw();
    platform::runtime::settle();

    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{0, 1, 2, 3, 2}));
    EXPECT_FALSE(overlapped);
    const auto results = log.incidents("Find_service_result");
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].level, ara::log::LogLevel::kInfo);
    EXPECT_EQ(results[0].document["2_data"], nlohmann::json::parse(R"({"1_vector": []})"));
    EXPECT_EQ(results[1].document["1_incident"], nlohmann::json::parse(R"({
        "1_id": "Find_service_result",
        "2_service_id": {"1_id": "Service_id", "string": "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus"},
        "3_instance_id": {"1_id": "Instance_id", "2_string": "order"}})"));
    EXPECT_EQ(results[1].document["2_data"]["1_vector"][0]["3_instance_id"]["2_string"], "order");
    Impl::stop_find_service(handle);
}

TEST(Find_service, stop_from_another_thread_waits_for_the_running_handler) {
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::atomic<bool> handler_done{false}, stop_returned{false};
    std::atomic<int> runs{0};
    const auto handle = start(
        [&](Handles) {
            if (runs++ == 0) {
                entered.set_value();
                released.wait();
                handler_done = true;
            }
        },
        "stop.outside");
    entered.get_future().wait();
    std::thread stopper([&] {
        Impl::stop_find_service(handle);
        stop_returned = true;
        EXPECT_TRUE(handler_done);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(stop_returned);
    release.set_value();
    stopper.join();

    // Stopped: reports the runtime still makes (the handle keeps the search) are dropped.
    auto late = offer("stop.outside");
    platform::runtime::settle();
    EXPECT_EQ(runs, 1);
}

TEST(Find_service, handler_overrunning_its_deadline_is_reported_once) {
    Log_capture log(ara::log::LogLevel::kWarn);
    const auto handle = start(
        [](Handles) { std::this_thread::sleep_for(std::chrono::milliseconds(510)); }, "deadline");
    platform::runtime::settle();
    Impl::stop_find_service(handle);

    const auto lines = log.incidents("Find_service_handler_performance");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, ara::log::LogLevel::kWarn);
    const auto& incident = lines[0].document["1_incident"];
    EXPECT_GE(incident["4_time"].get<std::uint64_t>(), 500u);
    EXPECT_EQ(incident["3_instance_id"]["2_string"], "deadline");
    EXPECT_EQ(incident["2_service_id"]["string"], Did::service_id);
}

TEST(Find_service_death, throwing_handler_is_reported_fatal_and_ends_the_process) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            platform::ara_log::set_threshold(ara::log::LogLevel::kWarn);
            const auto handle =
                start([](Handles) { throw std::runtime_error("failed"); }, "throwing");
            platform::runtime::settle();
            std::this_thread::sleep_for(std::chrono::seconds(10));
        },
        "fatal \\{\"1_incident\":\\{\"1_id\":\"Find_service_handler_exception\".*\"throwing\"");
}

TEST(Proxy_impl, construction_is_logged_with_both_flags) {
    auto offered = offer("constructed");
    const auto handle = binding_test::find_first<Did>("constructed");
    Log_capture log(ara::log::LogLevel::kInfo);

    const Impl impl(handle);

    const auto lines = log.incidents("Service_proxy_constructed");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, ara::log::LogLevel::kInfo);
    EXPECT_EQ(lines[0].document, nlohmann::json::parse(R"({"1_incident": {
        "1_id": "Service_proxy_constructed",
        "2_service_id": {"1_id": "Service_id", "string": "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus"},
        "3_instance_id": {"1_id": "Instance_id", "2_string": "constructed"},
        "4_struct4bytes": "1", "5_utf8simple": "1"}})"));
}

}  // namespace
