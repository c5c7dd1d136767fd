#pragma once
// The offering side of Service Discovery for the service instances of one process. Each
// batch of offers waits a random initial delay, then is offered, repeated after the base
// delay, twice that, and so on, then offered cyclically; all offers go to the multicast
// group (or the configured peers). A FindService for an offered instance is answered at
// once: by unicast to its sender when it carries the unicast flag, else by multicast.
// Instances withdrawn after their first offer get a StopOfferService (TTL 0).

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "someip/sd_message.h"
#include "someip/sd_packing.h"
#include "someip/sd_timing.h"

namespace platform::runtime::someip {

struct Offered_service {
    std::uint16_t service_id = 0;
    std::uint16_t instance_id = 1;
    std::uint8_t major_version = 1;
    std::uint32_t minor_version = 0;
    Ipv4_endpoint endpoint;  // where its methods are called (UDP)
};

class Sd_server {
  public:
    explicit Sd_server(Sd_timing timing, Random_delay random = uniform_random_delay());

    // Starts offering `services` (one random initial delay for all of them); an instance
    // already offered is left as it is.
    void offer(const std::vector<Offered_service>& services, Sd_time now);

    // Stops offering one instance, or all of them: StopOffer for those already offered.
    std::vector<Sd_send> stop_offer(std::uint16_t service_id, std::uint16_t instance_id);
    std::vector<Sd_send> stop_all();

    // The offers due at `now`.
    std::vector<Sd_send> on_time(Sd_time now);

    // Answers the FindService entries of a message from `sender`.
    std::vector<Sd_send> on_message(const Ipv4_endpoint& sender, const Sd_message& message);

    std::optional<Sd_time> next_deadline() const;
    std::size_t offered() const { return services_.size(); }

  private:
    enum class Phase { initial_wait, repetition, main };
    struct State {
        Offered_service service;
        Phase phase = Phase::initial_wait;
        unsigned repetitions_sent = 0;
        Sd_time next;
    };
    using Key = std::pair<std::uint16_t, std::uint16_t>;

    Sd_outgoing_entry offer_entry(const Offered_service& service, std::uint32_t ttl) const;

    Sd_timing timing_;
    Random_delay random_;
    std::map<Key, State> services_;
};

}  // namespace platform::runtime::someip
