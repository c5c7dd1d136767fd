#pragma once
// Builds the SD datagrams to send: entries with their options packed into as few messages
// as fit `max_sd_message` bytes each (equal runs of options shared within a message), each
// stamped with the session id and reboot flag of its destination.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "someip/sd_message.h"
#include "someip/sd_sessions.h"

namespace platform::runtime::someip {

// One entry to send and the options it refers to (its first run; the indexes are set when
// it is packed).
struct Sd_outgoing_entry {
    Sd_entry entry;
    std::vector<Sd_option> options;
};

// Messages that carry every entry in order. An entry with more than 15 options, or too big
// for a message of its own, is left out.
std::vector<Sd_message> pack_sd(const std::vector<Sd_outgoing_entry>& entries, std::uint8_t flags,
                                std::size_t max_size = max_sd_message);

// What a discovery state machine wants sent: to the multicast group (or the configured
// peers) without `unicast_to`, else to that peer.
struct Sd_send {
    std::optional<Ipv4_endpoint> unicast_to;
    std::vector<Sd_outgoing_entry> entries;
};

class Sd_writer {
  public:
    // The datagrams of `send`, with the unicast flag (this side accepts unicast) and the
    // destination's session id and reboot flag.
    std::vector<Bytes> write(const Sd_send& send);

    const Sd_session_book& sessions() const { return sessions_; }

  private:
    Sd_session_book sessions_;
};

}  // namespace platform::runtime::someip
