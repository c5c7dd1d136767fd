#pragma once
// The searching side of Service Discovery. Each batch of searches waits a random initial
// delay, then sends FindService for any instance and version (with the unicast flag, so
// that servers answer directly; the search's criteria sort the offers that come back),
// repeated after the base delay, twice that, and so on, until an offer arrives or the
// repetitions are done. A search whose repetitions end unanswered waits once more as long,
// then counts as changed: nothing is to be found for now, which its searcher learns then
// rather than before anyone could answer. Offers are kept with their TTL. The set of found
// instances of a service changes only on a new instance, a changed endpoint or version, a reboot of
// the offering side, a StopOffer or an expired TTL; a repeated cyclic offer only renews the TTL.
// Offers for services nobody searches are counted and forgotten.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "someip/sd_message.h"
#include "someip/sd_packing.h"
#include "someip/sd_sessions.h"
#include "someip/sd_timing.h"

namespace platform::runtime::someip {

struct Searched_service {
    std::uint16_t service_id = 0;
    std::uint16_t instance_id = any_instance;
    std::uint8_t major_version = any_major;
    std::uint32_t minor_version = any_minor;
};

struct Found_instance {
    std::uint16_t service_id = 0;
    std::uint16_t instance_id = 0;
    std::uint8_t major_version = 0;
    std::uint32_t minor_version = 0;
    Ipv4_endpoint endpoint;  // where to call it
    Ipv4_endpoint sender;    // whose SD message offered it
    Sd_time expires;         // Sd_time::max() for an infinite TTL
};

struct Sd_client_counters {
    std::uint64_t offers = 0;            // offer entries taken
    std::uint64_t not_searched = 0;      // offers of services nobody searches
    std::uint64_t other_version = 0;     // offers of a searched service: other instance or version
    std::uint64_t without_endpoint = 0;  // offers without an IPv4 UDP endpoint
    std::uint64_t too_many_instances = 0;  // offers beyond the instances kept per service
    std::uint64_t stop_offers = 0;
    std::uint64_t expired = 0;
    std::uint64_t reboots = 0;
};

struct Sd_client_limits {
    std::size_t max_instances_per_service = 16;
    std::size_t max_senders = 256;  // senders whose session ids are followed
};

class Sd_client {
  public:
    explicit Sd_client(Sd_timing timing, Random_delay random = uniform_random_delay(),
                       Sd_client_limits limits = {});

    // Starts searching (one random initial delay for the batch); a service already
    // searched keeps its search.
    void find(const std::vector<Searched_service>& services, Sd_time now);
    // Stops searching one service and forgets its instances.
    void stop_find(std::uint16_t service_id);

    // FindService messages due at `now`; `changed` gets the services whose TTL ran out and
    // those whose search ended unanswered.
    std::vector<Sd_send> on_time(Sd_time now, std::set<std::uint16_t>& changed);

    // Takes the offers of one SD message from `sender` (received by unicast or not);
    // `changed` gets the services whose set of found instances changed.
    void on_message(const Ipv4_endpoint& sender, bool unicast, std::uint16_t session_id,
                    const Sd_message& message, Sd_time now, std::set<std::uint16_t>& changed);

    // Whether the search for `service_id` is still sending FindService or waiting for the
    // answer to its last one.
    bool searching(std::uint16_t service_id) const;

    // The instances of `service_id` found now, ordered by instance id.
    std::vector<Found_instance> found(std::uint16_t service_id) const;

    std::optional<Sd_time> next_deadline() const;
    const Sd_client_counters& counters() const { return counters_; }

  private:
    enum class Phase { initial_wait, repetition, last_wait, done };
    struct Search {
        Searched_service criteria;
        Phase phase = Phase::initial_wait;
        unsigned repetitions_sent = 0;
        Sd_time next;
        std::map<std::uint16_t, Found_instance> instances;
    };

    void take_offer(Search& search, const Ipv4_endpoint& sender, const Sd_message& message,
                    const Sd_entry& entry, Sd_time now, std::set<std::uint16_t>& changed);

    Sd_timing timing_;
    Random_delay random_;
    Sd_client_limits limits_;
    std::map<std::uint16_t, Search> searches_;
    Reboot_detector reboots_;
    Sd_client_counters counters_;
};

}  // namespace platform::runtime::someip
