#pragma once
// Session ids and the reboot flag of SD messages. Sending, each destination (the multicast
// group, each unicast peer) has a counter of its own that starts at 1 with the reboot flag
// set; the flag clears when the counter wraps. Receiving, a sender has rebooted when its
// reboot flag goes from clear to set, or stays set while its session id does not grow;
// multicast and unicast messages of one sender are followed apart.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "someip/sd_message.h"

namespace platform::runtime::someip {

struct Sd_stamp {
    std::uint16_t session_id = 1;
    bool reboot = true;
};

class Sd_session_book {
  public:
    // Unicast peers remembered at most; the least recently used one is forgotten.
    explicit Sd_session_book(std::size_t max_peers = 256) : max_peers_(max_peers) {}

    // The stamp of the next message to `unicast_peer`, or to the group without one.
    Sd_stamp next(const std::optional<Ipv4_endpoint>& unicast_peer);

    std::size_t peers() const { return peers_.size(); }

  private:
    struct Counter {
        Sd_stamp next;
        std::uint64_t used = 0;
    };
    static Sd_stamp advance(Counter& counter);

    std::size_t max_peers_;
    std::uint64_t uses_ = 0;
    Counter multicast_;
    std::map<Ipv4_endpoint, Counter> peers_;
};

class Reboot_detector {
  public:
    explicit Reboot_detector(std::size_t max_senders = 256) : max_senders_(max_senders) {}

    // Records one message of `sender`; true when it shows that the sender rebooted.
    bool observe(const Ipv4_endpoint& sender, bool unicast, bool reboot_flag,
                 std::uint16_t session_id);

    std::size_t senders() const { return last_.size(); }

  private:
    struct Last {
        bool reboot = false;
        std::uint16_t session_id = 0;
        std::uint64_t seen = 0;
    };
    std::size_t max_senders_;
    std::uint64_t observed_ = 0;
    std::map<std::pair<Ipv4_endpoint, bool>, Last> last_;
};

}  // namespace platform::runtime::someip
