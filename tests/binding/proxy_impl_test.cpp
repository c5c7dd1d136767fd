#include "binding/proxy_impl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "binding/binding_test_support.h"
#include "binding/probe_interfaces.h"
#include "platform/runtime/application.h"

namespace {

using binding_test::Log_capture;
using kem::com::cpp_binding::Find_service_handle;
using kem::com::cpp_binding::proxy::Proxy_impl;
using zun::com::runtime::Instance_id;
using Probe = probe::d_0001::DataIdentifier_Probe;
using Other = probe::d_0001::DataIdentifier_Other;

// Interfaces used by one test only: their discovery numbers start at 0 there.
struct DataIdentifier_Numbered : Probe {
    static constexpr char service_id[] = "probe::d_0003::DataIdentifier_Numbered";
};
struct DataIdentifier_Numbered_too : Probe {
    static constexpr char service_id[] = "probe::d_0004::DataIdentifier_Numbered_too";
};

using Impl = Proxy_impl<Probe>;
using Handles = std::vector<Impl::Handle_type>;

platform::runtime::Offer offer(const char* service, const std::string& instance) {
    return platform::runtime::offer_service(service, instance,
                                            [](platform::runtime::Incoming_call) {});
}

// Sizes of the reports a handler saw, and whether two of its runs ever overlapped.
struct Report_log {
    std::mutex mutex;
    std::vector<std::size_t> sizes;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};

    Impl::Find_service_handler handler() {
        return [this](Handles handles) {
            if (running.fetch_add(1) != 0) {
                overlapped = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            {
                std::lock_guard<std::mutex> lock(mutex);
                sizes.push_back(handles.size());
            }
            running.fetch_sub(1);
        };
    }
    std::vector<std::size_t> seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return sizes;
    }
};

// Each interface counts its own discoveries from 0 (also under --gtest_repeat, where the
// counters carry on: both interfaces start equally often here).
TEST(Find_service, numbers_count_per_interface_from_0) {
    static bool first_run = true;
    using First = Proxy_impl<DataIdentifier_Numbered>;
    using Second = Proxy_impl<DataIdentifier_Numbered_too>;
    std::vector<Find_service_handle> handles;
    for (int i = 0; i < 2; ++i) {
        handles.push_back(First::start_find_service([](std::vector<First::Handle_type>) {},
                                                    Instance_id("numbers"), ara::com::logger()));
    }
    for (int i = 0; i < 2; ++i) {
        handles.push_back(Second::start_find_service([](std::vector<Second::Handle_type>) {},
                                                     Instance_id("numbers"), ara::com::logger()));
    }

    if (first_run) {
        EXPECT_EQ(handles[0].id, 0u);
        first_run = false;
    }
    EXPECT_EQ(handles[1].id, handles[0].id + 1);
    EXPECT_EQ(handles[2].id, handles[0].id);
    EXPECT_EQ(handles[3].id, handles[0].id + 1);
    for (auto& handle : handles) {
        First::stop_find_service(handle);
    }
}

TEST(Find_service, reports_run_the_handler_in_order_one_at_a_time) {
    Report_log reports;
    Log_capture log(ara::log::LogLevel::kInfo);
    const Find_service_handle handle =
        Impl::start_find_service(reports.handler(), Instance_id("order"), ara::com::logger());
    auto first = offer(Probe::service_id, "order");
    auto second = offer(Probe::service_id, "order");
    auto elsewhere = offer(Probe::service_id, "another instance");
    auto third = offer(Probe::service_id, "order");
    second.withdraw();
    platform::runtime::settle();

    EXPECT_EQ(reports.seen(), (std::vector<std::size_t>{0, 1, 2, 3, 2}));
    EXPECT_FALSE(reports.overlapped);
    const auto results = log.incidents("Find_service_result");
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].level, ara::log::LogLevel::kInfo);
    EXPECT_EQ(results[0].document["2_data"], nlohmann::json::parse(R"({"1_vector": []})"));
    EXPECT_EQ(results[1].document["1_incident"], nlohmann::json::parse(R"({
        "1_id": "Find_service_result",
        "2_service_id": {"1_id": "Service_id", "string": "probe::d_0001::DataIdentifier_Probe"},
        "3_instance_id": {"1_id": "Instance_id", "2_string": "order"}})"));
    EXPECT_EQ(results[1].document["2_data"]["1_vector"][0]["3_instance_id"]["2_string"], "order");
    Impl::stop_find_service(handle);
}

TEST(Find_service, stop_from_another_thread_waits_for_the_running_handler) {
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<bool> handler_done{false};
    std::atomic<int> runs{0};
    const auto handle = Impl::start_find_service(
        [&](Handles) {
            if (runs.fetch_add(1) == 0) {
                entered.set_value();
                released.wait();
                handler_done = true;
            }
        },
        Instance_id("stop.outside"), ara::com::logger());
    entered.get_future().wait();

    std::atomic<bool> stop_returned{false};
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
    auto late = offer(Probe::service_id, "stop.outside");
    platform::runtime::settle();
    EXPECT_EQ(runs, 1);
}

TEST(Find_service, stop_from_inside_the_handler_returns_at_once) {
    std::promise<Find_service_handle> started;
    auto handle_of_search = started.get_future().share();
    std::promise<void> stopped_inside;
    std::atomic<int> runs{0};
    const auto handle = Impl::start_find_service(
        [&](Handles) {
            if (runs.fetch_add(1) == 0) {
                Impl::stop_find_service(handle_of_search.get());
                stopped_inside.set_value();
            }
        },
        Instance_id("stop.inside"), ara::com::logger());
    started.set_value(handle);

    ASSERT_EQ(stopped_inside.get_future().wait_for(std::chrono::seconds(10)),
              std::future_status::ready);
    // Reports queued while the stopping handler still runs may be handled; once it has
    // returned, the strand is stopped and drops every later report.
    platform::runtime::settle();
    const int handled = runs;
    auto late = offer(Probe::service_id, "stop.inside");
    platform::runtime::settle();
    EXPECT_EQ(runs, handled);
    Impl::stop_find_service(handle);
}

TEST(Find_service, filter_of_a_stopped_discovery_answers_true_and_runs_nothing) {
    auto* pool =
        kem::com::runtime::Component_singleton::get_thread_pool_factory()->get_thread_pool(0);
    auto strand = std::make_shared<kem::com::Strand>(pool);
    std::atomic<int> runs{0};
    auto discovery = std::make_shared<const Impl::Discovery>(
        Impl::Discovery{[&runs](Handles) { ++runs; }, "filter", &ara::com::logger()});
    const Impl::Filter filter(strand, discovery);

    EXPECT_TRUE(filter({}));
    strand->join();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(filter({}));
    EXPECT_TRUE(filter({zun::com::runtime::Service_handle(
        zun::com::runtime::Service_id(Probe::service_id), Instance_id("filter"))}));
    platform::runtime::settle();
    EXPECT_EQ(runs, 1);
}

TEST(Find_service, handler_overrunning_its_deadline_is_reported_once) {
    Log_capture log(ara::log::LogLevel::kWarn);
    const auto handle = Impl::start_find_service(
        [](Handles) { std::this_thread::sleep_for(std::chrono::milliseconds(520)); },
        Instance_id("deadline"), ara::com::logger());
    platform::runtime::settle();
    Impl::stop_find_service(handle);

    const auto lines = log.incidents("Find_service_handler_performance");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, ara::log::LogLevel::kWarn);
    const auto& incident = lines[0].document["1_incident"];
    EXPECT_GE(incident["4_time"].get<std::uint64_t>(), 500u);
    EXPECT_EQ(incident["3_instance_id"]["2_string"], "deadline");
    EXPECT_EQ(incident["2_service_id"]["string"], Probe::service_id);
}

TEST(Find_service_death, throwing_handler_is_reported_fatal_and_ends_the_process) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            platform::ara_log::set_threshold(ara::log::LogLevel::kWarn);
            const auto handle = Impl::start_find_service(
                [](Handles) { throw std::runtime_error("handler failed"); },
                Instance_id("throwing"), ara::com::logger());
            platform::runtime::settle();
            std::this_thread::sleep_for(std::chrono::seconds(10));
        },
        "fatal \\{\"1_incident\":\\{\"1_id\":\"Find_service_handler_exception\".*\"throwing\"");
}

TEST(Proxy_impl, construction_is_logged_with_both_flags) {
    auto offered = offer(Other::service_id, "constructed");
    const auto handle = binding_test::find_first<Other>("constructed");
    Log_capture log(ara::log::LogLevel::kInfo);

    const Proxy_impl<Other> impl(handle);

    const auto lines = log.incidents("Service_proxy_constructed");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, ara::log::LogLevel::kInfo);
    EXPECT_EQ(lines[0].document, nlohmann::json::parse(R"({"1_incident": {
        "1_id": "Service_proxy_constructed",
        "2_service_id": {"1_id": "Service_id", "string": "probe::d_0001::DataIdentifier_Other"},
        "3_instance_id": {"1_id": "Instance_id", "2_string": "constructed"},
        "4_struct4bytes": "1", "5_utf8simple": "1"}})"));
}

}  // namespace
