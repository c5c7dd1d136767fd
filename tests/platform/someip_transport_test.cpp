#include "binding/runtime/runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "method_call.h"
#include "platform/runtime/someip.h"
#include "runtime_core.h"
#include "service_instance.h"
#include "someip/header.h"
#include "someip/sd_message.h"
#include "udp_network.h"

// The runtime on the wire, in one process: the process's runtime searches and calls from
// 127.0.0.1, a second runtime offers and serves from 127.0.0.2, and everything between them
// goes through real sockets, Service Discovery and SOME/IP. Runs under ThreadSanitizer.

namespace {

using kem::com::cpp_binding::Connection;
using kem::com::cpp_binding::Serialized_payload;
using kem::com::cpp_binding::proxy::Rport;
using platform::runtime::Incoming_call;
using platform::runtime::Someip_settings;
using platform::runtime::detail::Runtime;
using zun::com::runtime::Service_finder;
using zun::com::runtime::Service_handle;
namespace someip = platform::runtime::someip;

const std::string echo = "ns::d_0102::Echo";    // answers code = first byte, payload = the rest
const std::string quiet = "ns::d_0103::Quiet";  // never answers
const kem::com::connector::Service_interface_description two_methods{{0, 0, 2, 0}};

// SD by multicast, or by unicast to the other side.
enum class Sd_mode { multicast, unicast };
std::ostream& operator<<(std::ostream& out, Sd_mode mode) {
    return out << (mode == Sd_mode::multicast ? "multicast" : "unicast");
}

Someip_settings settings_for(std::array<std::uint8_t, 4> address, std::array<std::uint8_t, 4> peer,
                             Sd_mode mode) {
    Someip_settings settings;
    settings.address = address;
    if (mode == Sd_mode::unicast) {
        settings.sd_peers = {peer};
    }
    settings.interfaces = {{echo, {"Cancel", "Read"}}, {quiet, {"Cancel", "Read"}}};
    settings.deployment = *someip::default_deployment(settings.interfaces).deployment;
    settings.deployment.sd.port = 30790;  // apart from the default and from other tests
    settings.deployment.sd.timing.initial_delay_min = std::chrono::milliseconds(1);
    settings.deployment.sd.timing.initial_delay_max = std::chrono::milliseconds(5);
    settings.deployment.sd.timing.cyclic_offer_delay = std::chrono::milliseconds(200);
    return settings;
}

// A search for `service` under "diag" and what it reports, waited for with a bound.
class Found {
  public:
    explicit Found(const std::string& service)
        : subscription_(kem::com::runtime::Component_singleton::get_service_finder()->find_service(
              [this](std::vector<Service_handle> found) {
                  std::lock_guard<std::mutex> lock(mutex_);
                  latest_ = std::move(found);
                  ++reports_;
                  changed_.notify_all();
                  return true;
              },
              service, zun::com::runtime::Instance_id("diag"))) {}

    // The latest list once it has `count` instances (or once `bound` has passed).
    std::vector<Service_handle> wait_for(
        std::size_t count, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, bound, [&] { return reports_ != 0 && latest_.size() == count; });
        return latest_;
    }
    // The one instance found; throws when none is within the bound.
    Service_handle one() {
        auto found = wait_for(1);
        if (found.size() != 1) {
            throw std::runtime_error("no instance found within 5 s");
        }
        return found[0];
    }
    int reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Service_handle> latest_;
    int reports_ = 0;
    std::shared_ptr<Service_finder::Subscription_handle> subscription_;  // ends first
};

struct Answer {
    std::uint8_t code = 0;
    std::vector<std::uint8_t> payload;
};

// Calls `method` with `request` and waits for the answer (at most 5 s).
std::optional<Answer> call(Rport& port, std::uint16_t method, std::vector<std::uint8_t> request) {
    auto buffer = std::make_shared<std::vector<std::uint8_t>>(std::move(request));
    Serialized_payload payload{0, buffer, buffer->data(), buffer->data() + buffer->size()};
    auto done = std::make_shared<std::promise<Answer>>();
    auto future = done->get_future();
    port.call_method(method, payload, [done](std::uint8_t code, Serialized_payload response) {
        done->set_value({code, {response.first, response.last}});
    });
    if (future.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        return std::nullopt;
    }
    return future.get();
}

// The process's runtime goes on the wire once: CTest runs each case in a process of its
// own; run directly, the cases of the other SD mode are skipped.
class Someip_transport_test : public ::testing::TestWithParam<Sd_mode> {
  protected:
    void SetUp() override {
        static std::optional<Sd_mode> started;
        if (started && *started != GetParam()) {
            GTEST_SKIP() << "this process's runtime is on the wire with the other SD mode";
        }
        if (!started) {
            Runtime::instance()->start_someip(
                settings_for({127, 0, 0, 1}, {127, 0, 0, 2}, GetParam()));
            started = GetParam();
        }
        vehicle = std::make_shared<Runtime>();
        auto served = settings_for({127, 0, 0, 2}, {127, 0, 0, 1}, GetParam());
        served.serve_port = 30791;
        vehicle->start_someip(served);
    }
    void TearDown() override {
        if (vehicle) {
            vehicle->shutdown();
        }
    }

    std::shared_ptr<zun::com::runtime::Service_instance> offer_echo() {
        return vehicle->offer(echo, "diag", [](Incoming_call call) {
            const auto request = call.payload();
            std::vector<std::uint8_t> rest(request.begin() + 1, request.end());
            call.respond(*request.begin(), rest);
        });
    }

    std::shared_ptr<Runtime> vehicle;
};
INSTANTIATE_TEST_SUITE_P(Sd, Someip_transport_test,
                         ::testing::Values(Sd_mode::multicast, Sd_mode::unicast),
                         [](const auto& info) {
                             return info.param == Sd_mode::multicast ? "multicast" : "unicast";
                         });

TEST_P(Someip_transport_test, answers_cross_the_wire_with_their_codes_and_whole_payloads) {
    auto offer = offer_echo();
    Found found(echo);
    const Service_handle handle = found.one();
    // The handle names the interface and the specifier, never numbers.
    EXPECT_EQ(handle.get_service_id().to_string(), echo);
    EXPECT_EQ(handle.get_instance_id().to_string(), "diag");
    Rport port(handle, two_methods);

    std::vector<std::uint8_t> big(4097, 0x5A);  // a 4,096-byte answer: TP both ways
    big[0] = 0;
    const struct {
        std::vector<std::uint8_t> request;
        std::uint8_t code;
        std::size_t payload;
    } cases[] = {
        {{0, 1, 2, 3}, 0, 3},  // RESPONSE
        {{2, 9, 9}, 2, 2},     // application error, with its payload
        {{0x86}, 0x86, 0},     // a generic code travels as itself
        {{0x55, 1}, 0x81, 0},  // a code the wire cannot carry arrives as E_NOT_OK
        {big, 0, 4096},
    };
    for (const auto& c : cases) {
        const auto answer = call(port, 1, c.request);
        ASSERT_TRUE(answer) << int(c.request[0]);
        EXPECT_EQ(answer->code, c.code) << int(c.request[0]);
        EXPECT_EQ(answer->payload.size(), c.payload) << int(c.request[0]);
    }

    // Calls from several threads at once are each answered once, with their own bytes.
    std::atomic<int> right{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const auto answer = call(port, 1, {0, std::uint8_t(t), std::uint8_t(i)});
                right += answer && answer->payload ==
                                       std::vector<std::uint8_t>{std::uint8_t(t), std::uint8_t(i)};
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(right, 200);
    const int reports = found.reports();
    std::this_thread::sleep_for(std::chrono::milliseconds(450));  // two cyclic offers
    EXPECT_EQ(found.reports(), reports) << "a repeated offer is not a new list";
    vehicle->withdraw(*offer);
}

TEST_P(Someip_transport_test, a_stop_offer_ends_the_connection_and_a_new_offer_is_found_again) {
    auto offer = offer_echo();
    Found found(echo);
    Rport port(found.one(), two_methods);
    vehicle->withdraw(*offer);
    EXPECT_TRUE(found.wait_for(0).empty());
    EXPECT_NE(port.connection_state(), Connection::available);
    // A call after the StopOffer is not sent: the runtime answers it itself.
    const auto refused = call(port, 1, {0});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, 0xFF);

    offer = offer_echo();
    Rport second(found.one(), two_methods);
    const auto answer = call(second, 1, {0, 7});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->payload, std::vector<std::uint8_t>{7});
    // Stopping SOME/IP ends what is still offered with a StopOffer (well before its TTL).
    vehicle->stop_someip();
    EXPECT_TRUE(found.wait_for(0, std::chrono::milliseconds(1000)).empty());
}

TEST_P(Someip_transport_test, an_unanswered_call_stays_pending_and_a_late_answer_is_harmless) {
    std::mutex mutex;
    std::vector<Incoming_call> held;
    auto offer = vehicle->offer(quiet, "diag", [&](Incoming_call call) {
        std::lock_guard<std::mutex> lock(mutex);
        held.push_back(std::move(call));
    });
    Found found(quiet);
    {
        Rport port(found.one(), two_methods);
        auto answered = std::make_shared<std::atomic<int>>(0);
        port.call_method(1, {}, [answered](std::uint8_t, Serialized_payload) { ++*answered; });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(*answered, 0) << "a call has no time limit of its own";
    }  // the caller gives up
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(held.size(), 1U);
    EXPECT_TRUE(held[0].respond(0, {1, 2, 3}));  // reaches a caller that is gone
    vehicle->withdraw(*offer);
}

// A hostile peer on 127.0.0.3 throws junk at the served port and the SD port: nothing
// crashes, the junk is counted, wrong requests get their ERRORs, reads go on.
TEST_P(Someip_transport_test, hostile_datagrams_are_answered_or_counted_and_reads_go_on) {
    auto offer = offer_echo();
    Found found(echo);
    Rport port(found.one(), two_methods);

    std::mutex mutex;
    std::vector<someip::Bytes> replies;
    platform::runtime::detail::Udp_settings udp;
    udp.address = {127, 0, 0, 3};
    udp.sd_port = 30792;
    udp.join_multicast = false;
    platform::runtime::detail::Udp_network peer(
        udp,
        [&](platform::runtime::detail::Datagram datagram) {
            std::lock_guard<std::mutex> lock(mutex);
            replies.push_back(std::move(datagram.bytes));
        },
        [] {});
    const std::uint16_t from = peer.open_method_port(0);
    const someip::Ipv4_endpoint served{{127, 0, 0, 2}, 30791};
    const someip::Ipv4_endpoint sd{{127, 0, 0, 2}, 30790};
    auto request = [](std::uint16_t service, std::uint16_t method, std::uint8_t version,
                      std::uint8_t protocol, std::uint8_t type, someip::Bytes payload = {0, 1}) {
        someip::Header header;
        header.service_id = service;
        header.method_id = method;
        header.client_id = 0x0777;
        header.session_id = 1;
        header.interface_version = version;
        header.protocol_version = protocol;
        header.message_type = type;
        return someip::encode_message(header, payload);
    };
    // Refused requests, each answered with its ERROR code.
    const std::pair<someip::Bytes, std::uint8_t> refused[] = {
        {request(0x0999, 1, 1, 1, 0x00), 0x02},  // unknown service
        {request(0x0102, 9, 1, 1, 0x00), 0x03},  // unknown method
        {request(0x0102, 1, 7, 1, 0x00), 0x08},  // wrong interface version
        {request(0x0102, 1, 1, 2, 0x00), 0x07},  // wrong protocol version
    };
    for (const auto& [bytes, code] : refused) {
        ASSERT_TRUE(peer.send(from, bytes, served));
    }
    // Junk: short, a length below 8 or past the end, answers nobody asked for, TP out of order.
    someip::Bytes longer = request(0x0102, 1, 1, 1, 0x00);
    longer[7] = 200;
    someip::Bytes below = request(0x0102, 1, 1, 1, 0x00);
    below[7] = 4;
    someip::Bytes tp_late_payload(20, 0);
    tp_late_payload[3] = 0x11;  // offset 16 bytes, more segments: its start never came
    const someip::Bytes tp_late = request(0x0102, 1, 1, 1, 0x20, tp_late_payload);
    for (const someip::Bytes& junk :
         {someip::Bytes{1, 2, 3}, longer, below, request(0x0102, 1, 1, 1, 0x80), tp_late}) {
        ASSERT_TRUE(peer.send(from, junk, served));
        ASSERT_TRUE(peer.send(0, junk, sd));
    }
    // A flood of offers for a service nobody searches.
    for (int i = 0; i < 200; ++i) {
        someip::Sd_message offers;
        someip::Sd_entry entry;
        entry.type = someip::entry_type::offer_service;
        entry.service_id = static_cast<std::uint16_t>(0x4000 + i);
        entry.instance_id = 1;
        entry.major_version = 1;
        entry.ttl = 3;
        entry.minor_version = 0;
        offers.entries.push_back(entry);
        ASSERT_TRUE(peer.send(0, someip::encode_sd(offers, static_cast<std::uint16_t>(i + 1)),
                              someip::Ipv4_endpoint{{127, 0, 0, 1}, 30790}));
    }
    const auto answer = call(port, 1, {0, 42});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->payload, std::vector<std::uint8_t>{42});

    // The counts, once both sides have taken in everything sent (at most 2 s).
    const auto counted = [](const platform::runtime::Someip_report& report) {
        std::map<std::string, std::uint64_t> out(report.counters.begin(), report.counters.end());
        return out;
    };
    const std::map<std::string, std::uint64_t> served_expected = {{"datagrams_malformed", 3},
                                                                  {"requests_refused", 4},
                                                                  {"responses_unknown_session", 1},
                                                                  {"sd_malformed", 5},
                                                                  {"tp_out_of_order", 1}};
    std::map<std::string, std::uint64_t> served_counts;
    std::uint64_t not_searched = 0;
    for (int i = 0; i < 200; ++i) {
        served_counts = counted(vehicle->someip_report());
        served_counts.erase("sd_stop_offers");
        not_searched = counted(platform::runtime::someip_report())["sd_offers_not_searched"];
        const bool replied = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return replies.size() >= std::size(refused);
        }();
        if (served_counts == served_expected && not_searched == 200 && replied) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(served_counts, served_expected);
    EXPECT_EQ(not_searched, 200U);
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(replies.size(), std::size(refused)) << "junk is never answered";
        for (std::size_t i = 0; i < replies.size(); ++i) {
            ASSERT_GE(replies[i].size(), 16U);
            EXPECT_EQ(replies[i][14], 0x81);  // ERROR
            EXPECT_EQ(replies[i][15], refused[i].second);
            EXPECT_EQ(replies[i][8], 0x07);  // the request id echoed
        }
    }
    vehicle->withdraw(*offer);
}

}  // namespace
