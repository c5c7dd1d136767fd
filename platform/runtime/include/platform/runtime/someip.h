#pragma once
// SOME/IP over UDP for the runtime stand-in. Once started, the runtime's searches find the
// instances that other processes offer over Service Discovery, and its calls to them travel
// as SOME/IP requests; the services offered in this process (offer_service) are offered
// over Service Discovery and served on the wire. Without it, everything stays in-process.
//
//   platform::runtime::Someip_settings settings;
//   settings.address = {127, 0, 0, 1};
//   settings.deployment = *someip::default_deployment(interfaces).deployment;
//   settings.interfaces = interfaces;
//   platform::runtime::start_someip(settings);   // before the first search or offer
//   ...
//   platform::runtime::stop_someip();             // StopOffer for what is offered
//
// Threads: one network thread owns the sockets and the timer and only moves datagrams;
// discovery runs on the runtime's discovery thread, requests and responses on its transport
// thread, so filters, application handlers and response handlers run where they run
// in-process.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "someip/deployment.h"

namespace platform::runtime {

struct Someip_settings {
    // This host's IPv4 address: Service Discovery's unicast socket, the method sockets and
    // the multicast interface.
    std::array<std::uint8_t, 4> address{127, 0, 0, 1};
    // The numbers, instances and SD settings (port, group, timing) in effect.
    someip::Deployment deployment;
    // The interfaces the plug-in knows, with their method names in the order of the method
    // ids the plug-in calls them by (id = position).
    std::vector<someip::Known_interface> interfaces;
    // Send SD by unicast to these hosts (on the SD port) instead of to the multicast group.
    std::vector<std::array<std::uint8_t, 4>> sd_peers;
    // Serve every offered instance on this UDP port instead of its deployment's port.
    std::optional<std::uint16_t> serve_port;
    // Payload bytes of one TP-reassembled message at most.
    std::size_t max_message = 65536;
};

// Switches the process's runtime to SOME/IP. Call before any search or offer, once.
// Throws std::runtime_error saying which socket could not be opened, or when called twice.
void start_someip(const Someip_settings& settings);

// Offers end with StopOffer, the sockets close, calls still pending stay pending.
// Idempotent; nothing happens when SOME/IP was never started.
void stop_someip();

// What the network has seen so far: for the wait before the first request, for the
// diagnosis of services never found, and for the summary at exit.
struct Someip_report {
    bool started = false;
    std::size_t searched = 0;                // services searched
    std::size_t found = 0;                   // of them, with an instance found now
    std::vector<std::string> missing;        // names of searched services not found now
    std::uint64_t sd_messages = 0;           // SD messages received from other hosts
    std::uint64_t offers_not_searched = 0;   // offer entries of services nobody searches
    std::uint64_t offers_other_version = 0;  // of searched services, other instance/version
    std::vector<std::string> offer_senders;  // addresses whose SD messages carried offers
    // Counted drops and oddities, "name" -> count, only the non-zero ones, stable order.
    std::vector<std::pair<std::string, std::uint64_t>> counters;
};
Someip_report someip_report();

}  // namespace platform::runtime
