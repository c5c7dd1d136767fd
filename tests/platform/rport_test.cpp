#include "binding/runtime/runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/runtime/application.h"
#include "runtime_test_support.h"

namespace {

using kem::com::cpp_binding::Connection;
using kem::com::cpp_binding::Serialized_payload;
using kem::com::cpp_binding::proxy::Rport;
using platform::runtime::Incoming_call;
using platform::runtime::offer_service;
using platform::runtime::settle;
using runtime_test::first_offered;
using Bytes = std::vector<std::uint8_t>;

const kem::com::connector::Service_interface_description two_methods{{0, 0, 2, 0}};

Serialized_payload request(Bytes bytes) {
    Serialized_payload payload;
    payload.buffer = std::make_shared<Bytes>(std::move(bytes));
    payload.first = payload.buffer->data();
    payload.last = payload.first + payload.buffer->size();
    return payload;
}

// What the caller's response handler saw.
struct Responses {
    Rport::Response_handler handler() {
        return [this](std::uint8_t c, Serialized_payload p) {
            std::lock_guard<std::mutex> lock(mutex);
            ++count;
            code = c;
            payload.assign(p.first, p.last);
            thread = std::this_thread::get_id();
        };
    }
    std::mutex mutex;
    int count = 0;
    std::uint8_t code = 0;
    Bytes payload;
    std::thread::id thread;
};

TEST(Rport, carries_a_call_to_the_application_and_its_answer_back) {
    const std::string service = "ns::d_0101::Rport_round_trip";
    std::mutex mutex;
    std::vector<std::string> seen;
    std::thread::id application_thread;
    auto offer = offer_service(service, "diag", [&](Incoming_call call) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            seen = {call.service(), call.instance(), std::to_string(call.method_id()),
                    std::string(call.payload().begin(), call.payload().end())};
            application_thread = std::this_thread::get_id();
        }
        EXPECT_TRUE(call.respond(0, {0x07, 0x08}));
        EXPECT_FALSE(call.respond(0, {0x09}));
    });
    Rport port(first_offered(service), two_methods);
    EXPECT_EQ(port.service_info().service_id, service);
    EXPECT_EQ(port.service_info().instance_id, "diag");
    EXPECT_EQ(port.connection_state(), Connection::available);

    Responses responses;
    auto accepted = port.call_method(1, request({'a', 'b'}), responses.handler());
    EXPECT_NE(accepted.get(), nullptr);  // ready once the transport has taken the request
    settle();

    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seen, (std::vector<std::string>{service, "diag", "1", "ab"}));
    EXPECT_NE(application_thread, std::this_thread::get_id());
    EXPECT_EQ(responses.count, 1);
    EXPECT_EQ(responses.code, 0);
    EXPECT_EQ(responses.payload, (Bytes{0x07, 0x08}));
    EXPECT_EQ(responses.thread, application_thread);  // inline on the transport thread
}

TEST(Rport, an_answer_from_another_thread_is_delivered_once_on_a_runtime_thread) {
    const std::string service = "ns::d_0102::Rport_late_answer";
    std::mutex mutex;
    std::vector<Incoming_call> parked;
    auto offer = offer_service(service, "diag", [&](Incoming_call call) {
        std::lock_guard<std::mutex> lock(mutex);
        parked.push_back(std::move(call));
    });
    Rport port(first_offered(service), two_methods);
    Responses responses;
    auto accepted = port.call_method(0, request({}), responses.handler());
    settle();
    EXPECT_TRUE(accepted.is_ready());
    EXPECT_EQ(responses.count, 0);

    std::thread responder([&] {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_TRUE(parked.at(0).respond(0x86, {0xAA}));
        EXPECT_FALSE(parked.at(0).respond(0, {}));
    });
    const auto responder_thread = responder.get_id();
    responder.join();
    settle();
    EXPECT_EQ(responses.count, 1);
    EXPECT_EQ(responses.code, 0x86);
    EXPECT_EQ(responses.payload, Bytes{0xAA});
    EXPECT_NE(responses.thread, responder_thread);
    EXPECT_NE(responses.thread, std::this_thread::get_id());
}

TEST(Rport, an_unanswered_call_stays_pending_until_the_caller_gives_up) {
    const std::string service = "ns::d_0103::Rport_never";
    auto offer = offer_service(service, "diag", [](Incoming_call) {});
    auto port = std::make_unique<Rport>(first_offered(service), two_methods);
    auto caller_promise = std::make_shared<int>(0);  // what the binding's handler would hold
    std::atomic<int> calls{0};
    auto accepted =
        port->call_method(1, request({}), [caller_promise, &calls](auto, auto) { ++calls; });
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

TEST(Rport, a_call_to_a_withdrawn_instance_is_answered_0xFF) {
    const std::string service = "ns::d_0104::Rport_withdrawn";
    std::atomic<int> application_calls{0};
    auto offer = offer_service(service, "diag", [&](Incoming_call) { ++application_calls; });
    const auto handle = first_offered(service);
    Rport port(handle, two_methods);
    offer.withdraw();
    EXPECT_NE(port.connection_state(), Connection::available);
    // A handle with no instance behind it is never available either.
    Rport unbacked({zun::com::runtime::Service_id(service), zun::com::runtime::Instance_id("diag")},
                   two_methods);
    EXPECT_NE(unbacked.connection_state(), Connection::available);

    Responses withdrawn, nowhere;
    auto first = port.call_method(1, request({5}), withdrawn.handler());
    auto second = unbacked.call_method(1, request({}), nowhere.handler());
    settle();
    EXPECT_EQ(application_calls, 0);
    for (Responses* r : {&withdrawn, &nowhere}) {
        EXPECT_EQ(r->count, 1);
        EXPECT_EQ(r->code, 0xFF);
        EXPECT_TRUE(r->payload.empty());
    }

    // A re-offer is a new instance with a new connection; the old port stays unavailable.
    auto again = offer_service(service, "diag", [](Incoming_call) {});
    const auto fresh = first_offered(service);
    EXPECT_NE(fresh.record(), handle.record());
    EXPECT_EQ(Rport(fresh, two_methods).connection_state(), Connection::available);
    EXPECT_NE(port.connection_state(), Connection::available);
}

}  // namespace
