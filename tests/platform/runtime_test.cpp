#include "binding/runtime/runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime/application.h"

// The runtime stand-in's promises that the tests above it cannot see: callbacks that end their
// own search or offer, and calls that are never answered. Reports, calls, answers and
// withdrawn instances are exercised by every binding test.

namespace {

using kem::com::cpp_binding::Connection;
using kem::com::cpp_binding::Serialized_payload;
using kem::com::cpp_binding::proxy::Rport;
using platform::runtime::Incoming_call;
using platform::runtime::Offer;
using platform::runtime::offer_service;
using platform::runtime::settle;
using zun::com::runtime::Service_finder;
using zun::com::runtime::Service_handle;
using Subscription = std::shared_ptr<Service_finder::Subscription_handle>;

Subscription find(Service_finder::Filter filter, const std::string& service) {
    return kem::com::runtime::Component_singleton::get_service_finder()->find_service(
        std::move(filter), service, zun::com::runtime::Instance_id("diag"));
}

// The handle of the first instance offered now (precondition: there is one).
Service_handle first_offered(const std::string& service) {
    std::vector<Service_handle> first;
    auto subscription = find(
        [&first](std::vector<Service_handle> found) {
            if (first.empty()) {
                first = std::move(found);
            }
            return true;
        },
        service);
    settle();
    return first.at(0);
}

const kem::com::connector::Service_interface_description two_methods{{0, 0, 2, 0}};

void ignore(Incoming_call) {}

TEST(Service_finder, a_filter_may_release_its_own_subscription) {
    const std::string service = "ns::d_0003::Finder_self_release";
    std::mutex mutex;
    Subscription subscription;
    int calls = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        subscription = find(
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

// Inside the handler, on the transport thread; later calls are answered 0xFF.
TEST(Offer, a_handler_may_withdraw_its_own_offer) {
    const std::string service = "ns::d_0203::Offer_self_withdraw";
    std::promise<Offer*> holder;
    auto offer_of = holder.get_future().share();
    Offer offer = offer_service(service, "diag", [offer_of](Incoming_call call) {
        offer_of.get()->withdraw();
        call.respond(0, {});
    });
    holder.set_value(&offer);
    Rport port(first_offered(service), two_methods);
    std::atomic<int> codes[2] = {{-1}, {-1}};
    auto first = port.call_method(0, {}, [&](std::uint8_t code, auto) { codes[0] = code; });
    settle();
    EXPECT_NE(port.connection_state(), Connection::available);
    auto second = port.call_method(0, {}, [&](std::uint8_t code, auto) { codes[1] = code; });
    settle();
    EXPECT_EQ(codes[0], 0);
    EXPECT_EQ(codes[1], 0xFF);
}

TEST(Rport, an_unanswered_call_stays_pending_until_the_caller_gives_up) {
    const std::string service = "ns::d_0103::Rport_never";
    auto offer = offer_service(service, "diag", ignore);
    auto port = std::make_unique<Rport>(first_offered(service), two_methods);
    auto caller_promise = std::make_shared<int>(0);  // what the binding's handler would hold
    std::atomic<int> calls{0};
    auto accepted = port->call_method(0, {}, [caller_promise, &calls](auto, auto) { ++calls; });
    settle();
    EXPECT_TRUE(accepted.is_ready());
    port.reset();  // neither the port nor the offer ends the call
    offer.withdraw();
    settle();
    EXPECT_EQ(caller_promise.use_count(), 2);  // still held for a late answer
    accepted = {};
    EXPECT_EQ(caller_promise.use_count(), 1);  // released, never called
    EXPECT_EQ(calls, 0);
}

}  // namespace
