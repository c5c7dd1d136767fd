#pragma once
// The runtime's SOME/IP side: discovery of the instances other processes offer, calls to
// them, and the serving of this process's offers to other processes, over the sockets of
// Udp_network. It knows services by the numbers of the deployment and hands the runtime
// found instances by name and instance specifier, as in-process.
//
// Threads: datagrams and timer ticks come from the network thread and are queued for the
// runtime's threads: SD messages and ticks for the discovery thread, method messages for
// the transport thread. Requests are sent from the caller's thread. The discovery state
// is guarded by sd_mutex_, the calls' state by call_mutex_; neither is held while a
// response handler or an application handler runs. Lock order: sd_mutex_ before the
// runtime lock (found instances are handed over under it); pending_mutex_ is a leaf that
// the runtime takes under its own lock.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/someip.h"
#include "someip/datagram.h"
#include "someip/sd_client.h"
#include "someip/sd_server.h"
#include "someip/session_counter.h"
#include "someip/tp.h"
#include "udp_network.h"

namespace zun::com::runtime {
class Method_call;
}  // namespace zun::com::runtime

namespace platform::runtime::detail {

class Runtime;

class Someip_transport {
  public:
    // Opens the sockets. Throws std::runtime_error when one cannot be opened.
    Someip_transport(Runtime& runtime, const Someip_settings& settings);
    ~Someip_transport();

    // From the runtime, possibly under its lock: these only queue work.
    void search(const std::string& service, const std::string& instance);
    void offer(const std::string& service, const std::string& instance);
    void withdraw(const std::string& service, const std::string& instance);

    // On the caller's thread: sends the call's request to its remote instance and keeps it
    // pending until its answer arrives. False when it could not be sent.
    bool send_request(const std::shared_ptr<zun::com::runtime::Method_call>& call);

    // StopOffer for what is offered, then the sockets close. Idempotent.
    void stop();

    Someip_report report() const;

  private:
    // An interface's numbers and the wire's method id of each of the plug-in's method ids.
    struct Interface_numbers {
        std::string name;
        std::vector<std::string> methods;
        std::uint16_t service_id = 0;
        std::uint8_t major_version = 1;
        std::uint32_t minor_version = 0;
        std::vector<std::uint16_t> wire_ids;
    };
    struct Pending {
        std::shared_ptr<zun::com::runtime::Method_call> call;
        someip::Ipv4_endpoint peer;
    };
    struct Call_counters {
        std::uint64_t responses_unknown_session = 0;
        std::uint64_t responses_from_other_address = 0;
        std::uint64_t invalid_return_codes = 0;
        std::uint64_t codes_not_carried = 0;
        std::uint64_t requests_refused = 0;  // answered with an ERROR of the wire's own
        std::uint64_t not_requests = 0;      // dropped: neither a request nor an answer
        std::uint64_t sessions_exhausted = 0;
    };

    using Named_instance = std::pair<std::string, std::string>;  // service, instance

    const Interface_numbers* by_name(const std::string& name) const;
    void queue(std::vector<Named_instance>& list, void (Someip_transport::*flush)(),
               const std::string& service, const std::string& instance);
    std::vector<Named_instance> take(std::vector<Named_instance>& list);
    const Interface_numbers* by_service_id(std::uint16_t service_id) const;

    // Discovery thread.
    void on_sd(const Datagram& datagram);
    void on_timer();
    void flush_searches();
    void flush_offers();
    void send_sd(const std::vector<someip::Sd_send>& sends);
    void update_found(const std::set<std::uint16_t>& changed);
    void rearm();

    // Transport thread.
    void on_method(const Datagram& datagram);
    void on_answer(someip::Incoming_message& message, const someip::Ipv4_endpoint& sender);
    void serve(someip::Incoming_message& message, const Datagram& datagram);
    void send_message(std::uint16_t local_port, const someip::Header& header,
                      const std::uint8_t* payload, std::size_t size,
                      const someip::Ipv4_endpoint& to);

    Runtime& runtime_;
    const Someip_settings settings_;
    std::vector<Interface_numbers> interfaces_;
    std::map<std::string, std::size_t> by_name_;
    std::map<std::uint16_t, std::size_t> by_service_id_;
    std::unique_ptr<Udp_network> network_;
    std::uint16_t client_port_ = 0;  // where requests go out and answers come in

    mutable std::mutex sd_mutex_;
    someip::Sd_server server_;
    someip::Sd_client client_;
    someip::Sd_writer writer_;
    std::map<std::uint16_t, std::set<std::string>> searched_;  // service id to specifiers
    // Searches and offers queued for the discovery thread.
    std::mutex pending_mutex_;
    std::vector<Named_instance> searches_to_flush_;
    std::vector<Named_instance> offers_to_flush_;
    bool stopped_ = false;
    std::uint64_t sd_messages_ = 0;
    std::uint64_t sd_malformed_ = 0;
    std::uint64_t offers_failed_ = 0;
    std::set<std::string> offer_senders_;

    mutable std::mutex call_mutex_;
    someip::Tp_reassembler reassembler_;
    someip::Datagram_counters datagram_counters_;
    someip::Session_counter sessions_;
    std::map<std::uint16_t, Pending> pending_;
    Call_counters call_counters_;
};

}  // namespace platform::runtime::detail
