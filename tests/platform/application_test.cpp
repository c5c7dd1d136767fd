#include "platform/runtime/application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "binding/runtime/runtime.h"
#include "exec/static_thread_pool.h"
#include "runtime_test_support.h"

namespace {

using kem::com::cpp_binding::Serialized_payload;
using kem::com::cpp_binding::proxy::Rport;
using platform::runtime::Incoming_call;
using platform::runtime::Offer;
using platform::runtime::offer_service;
using platform::runtime::settle;
using runtime_test::Reports;

void ignore(Incoming_call) {}

const kem::com::connector::Service_interface_description two_methods{{0, 0, 2, 0}};

TEST(Offer, withdrawing_waits_for_a_running_handler_and_ends_its_calls) {
    const std::string service = "ns::d_0202::Offer_withdraw_wait";
    runtime_test::Gate gate;
    std::atomic<int> calls{0};
    auto offer = offer_service(service, "diag", [&](Incoming_call) {
        if (calls.fetch_add(1) == 0) {
            gate.hold();
        }
    });
    EXPECT_TRUE(offer.active());
    Rport port(runtime_test::first_offered(service), two_methods);
    auto first = port.call_method(0, {}, [](std::uint8_t, Serialized_payload) {});
    EXPECT_TRUE(gate.waits_for([&] { offer.withdraw(); }));
    EXPECT_FALSE(offer.active());
    auto second = port.call_method(0, {}, [](std::uint8_t, Serialized_payload) {});
    settle();
    EXPECT_EQ(calls, 1);
}

TEST(Offer, a_handler_may_withdraw_its_own_offer) {
    const std::string service = "ns::d_0203::Offer_self_withdraw";
    std::promise<Offer*> holder;
    auto offer_of = holder.get_future().share();
    Offer offer = offer_service(service, "diag", [offer_of](Incoming_call call) {
        offer_of.get()->withdraw();  // on the transport thread, inside the handler
        call.respond(0, {});
    });
    holder.set_value(&offer);
    Rport port(runtime_test::first_offered(service), two_methods);
    std::atomic<int> codes[2] = {{-1}, {-1}};
    auto first = port.call_method(0, {}, [&](std::uint8_t code, auto) { codes[0] = code; });
    settle();
    auto second = port.call_method(0, {}, [&](std::uint8_t code, auto) { codes[1] = code; });
    settle();
    EXPECT_EQ(codes[0], 0);
    EXPECT_EQ(codes[1], 0xFF);
}

TEST(Settle, waits_for_work_that_moves_between_discovery_and_the_pool) {
    // A report starts a pool task that offers a second service, whose report reaches a
    // second search: one settle() covers the whole chain.
    const std::string first_service = "ns::d_0204::Settle_first";
    const std::string second_service = "ns::d_0204::Settle_second";
    auto* pool =
        kem::com::runtime::Component_singleton::get_thread_pool_factory()->get_thread_pool(0);
    std::mutex mutex;
    std::vector<Offer> offers;
    Reports second;
    auto second_subscription = second.search(second_service);
    auto first_subscription = runtime_test::find(
        [&](std::vector<runtime_test::Service_handle> found) {
            if (!found.empty()) {
                pool->post([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    std::lock_guard<std::mutex> lock(mutex);
                    offers.push_back(offer_service(second_service, "diag", ignore));
                });
            }
            return true;
        },
        first_service);
    auto offer = offer_service(first_service, "diag", ignore);
    settle();
    ASSERT_EQ(second.reports.size(), 2u);
    EXPECT_EQ(second.reports[1].size(), 1u);
    first_subscription.reset();
    std::lock_guard<std::mutex> lock(mutex);
    offers.clear();
}

}  // namespace
