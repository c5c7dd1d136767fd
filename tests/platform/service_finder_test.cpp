#include "binding/runtime/runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/runtime/application.h"
#include "runtime_test_support.h"

namespace {

using platform::runtime::Incoming_call;
using platform::runtime::offer_service;
using platform::runtime::settle;
using runtime_test::Reports;
using runtime_test::Service_handle;
using Records = std::vector<const zun::com::runtime::Service_instance*>;

void ignore(Incoming_call) {}

Records records(const std::vector<Service_handle>& found) {
    Records out;
    for (const auto& handle : found) {
        out.push_back(handle.record().get());
    }
    return out;
}

TEST(Service_finder, reports_the_current_list_after_every_offer_and_withdrawal) {
    const std::string service = "ns::d_0001::Finder_order";
    Reports matching, other_instance, late;
    auto subscription = matching.search(service);
    auto other = other_instance.search(service, "other");
    auto a = offer_service(service, "diag", ignore);
    auto b = offer_service(service, "diag", ignore);
    settle();
    auto late_subscription = late.search(service);
    a.withdraw();
    b.withdraw();
    settle();

    const auto& reports = matching.reports;
    ASSERT_EQ(reports.size(), 5u);
    ASSERT_EQ(reports[2].size(), 2u);
    const Records both = records(reports[2]);
    EXPECT_NE(both[0], both[1]);
    EXPECT_TRUE(reports[0].empty());  // the first report comes before any offer
    EXPECT_EQ(records(reports[1]), Records{both[0]});
    EXPECT_EQ(records(reports[3]), Records{both[1]});
    EXPECT_TRUE(reports[4].empty());
    EXPECT_EQ(reports[2][0].get_service_id().to_string(), service);
    EXPECT_EQ(reports[2][0].get_instance_id().to_string(), "diag");
    for (const auto& thread : matching.threads) {
        EXPECT_NE(thread, std::this_thread::get_id());
    }
    // A new search starts with the list of its moment; another instance sees nothing.
    EXPECT_EQ(records(late.reports.at(0)), both);
    ASSERT_EQ(other_instance.reports.size(), 1u);
    EXPECT_TRUE(other_instance.reports[0].empty());
}

TEST(Service_finder, release_waits_for_a_running_filter_and_ends_the_search) {
    const std::string service = "ns::d_0002::Finder_release";
    runtime_test::Gate gate;
    std::atomic<int> calls{0};
    auto subscription = runtime_test::find(
        [&](std::vector<Service_handle>) {
            if (calls.fetch_add(1) == 0) {
                gate.hold();
            }
            return true;
        },
        service);
    EXPECT_TRUE(gate.waits_for([&] { subscription.reset(); }));
    auto offer = offer_service(service, "diag", ignore);
    settle();
    EXPECT_EQ(calls, 1);
}

TEST(Service_finder, a_filter_may_release_its_own_subscription) {
    const std::string service = "ns::d_0003::Finder_self_release";
    std::mutex mutex;
    runtime_test::Subscription subscription;
    int calls = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        subscription = runtime_test::find(
            [&](std::vector<Service_handle>) {
                std::lock_guard<std::mutex> lock(mutex);
                if (++calls == 2) {
                    subscription.reset();  // on the discovery thread, inside the filter
                }
                return true;
            },
            service);
    }
    auto first = offer_service(service, "diag", ignore);
    settle();
    auto second = offer_service(service, "diag", ignore);
    settle();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(subscription, nullptr);
}

}  // namespace
