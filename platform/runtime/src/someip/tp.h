#pragma once
// SOME/IP-TP: a message whose payload does not fit one segment travels as segments, each a
// SOME/IP message with the TP flag (0x20) in its message type and a 4-byte TP header before
// its part of the payload: the offset in 16-byte units in the upper 28 bits, the
// more-segments flag in the lowest bit. Every segment but the last carries a multiple of
// 16 bytes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "someip/byte_cursor.h"
#include "someip/header.h"

namespace platform::runtime::someip {

inline constexpr std::size_t tp_header_size = 4;
inline constexpr std::size_t max_segment_payload = 1392;
inline constexpr std::uint32_t tp_more_segments = 0x1;
inline constexpr std::uint32_t tp_offset_mask = 0xFFFFFFF0;

// The datagrams that carry `payload` under `header` (whose message type has no TP flag):
// one plain message when it fits `max_segment` bytes, else TP segments of `max_segment`
// bytes (rounded down to a multiple of 16, at least 16) and a shorter last one.
std::vector<Bytes> segment_message(const Header& header, const std::uint8_t* payload,
                                   std::size_t size, std::size_t max_segment = max_segment_payload);

struct Tp_limits {
    std::size_t max_message = 65536;          // payload bytes of one reassembled message
    std::size_t max_messages_per_peer = 4;    // messages in progress at once from one sender
    std::size_t max_peers = 64;               // senders with messages in progress
    std::chrono::milliseconds timeout{2000};  // from the first segment to the last
};

// Every segment offered ends up in exactly one of accepted and the drop counts; every
// message started ends up completed, expired or discarded, or is still in progress.
struct Tp_counters {
    std::uint64_t segments = 0;
    std::uint64_t accepted = 0;
    std::uint64_t malformed = 0;     // no room for the TP header
    std::uint64_t overlapping = 0;   // starts before the bytes already held
    std::uint64_t out_of_order = 0;  // starts after them (its message is discarded)
    std::uint64_t oversized = 0;     // beyond the message limit (its message is discarded)
    std::uint64_t inconsistent = 0;  // a bad segment size or header (its message is discarded)
    std::uint64_t too_many = 0;      // a new message beyond the per-sender or sender limit

    std::uint64_t started = 0;
    std::uint64_t completed = 0;
    std::uint64_t expired = 0;
    std::uint64_t discarded = 0;

    std::uint64_t dropped() const {
        return malformed + overlapping + out_of_order + oversized + inconsistent + too_many;
    }
};

struct Reassembled {
    Header header;  // the first segment's, without the TP flag, its length set for the whole
    Bytes payload;
};

enum class Tp_result { incomplete, complete, dropped };

// Reassembles segments from any number of senders, in order only, within Tp_limits. Time
// comes from the caller. Not synchronised.
class Tp_reassembler {
  public:
    using Time = std::chrono::steady_clock::time_point;

    explicit Tp_reassembler(Tp_limits limits = {}) : limits_(limits) {}

    // One segment (a decoded message with the TP flag) from `peer`, an id of the sender's
    // address and port. On complete, `out` holds the message.
    Tp_result add(std::uint64_t peer, const Message_view& segment, Time now, Reassembled& out);

    // Drops the messages whose time is up.
    void expire(Time now);

    std::size_t in_progress() const { return messages_.size(); }
    std::size_t bytes_held() const;
    const Tp_counters& counters() const { return counters_; }
    const Tp_limits& limits() const { return limits_; }

  private:
    // Sender, service, method, client, session, message type.
    using Key = std::tuple<std::uint64_t, std::uint16_t, std::uint16_t, std::uint16_t,
                           std::uint16_t, std::uint8_t>;
    struct Partial {
        Header header;
        Bytes payload;
        Time started;
    };

    Tp_result drop(std::uint64_t& count);
    void discard(const Key& key);

    Tp_limits limits_;
    std::map<Key, Partial> messages_;
    std::map<std::uint64_t, std::size_t> per_peer_;
    Tp_counters counters_;
};

}  // namespace platform::runtime::someip
