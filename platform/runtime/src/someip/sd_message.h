#pragma once
// Service Discovery messages: a SOME/IP NOTIFICATION with message id 0xFFFF8100 and client
// id 0 whose payload is a flags byte (reboot 0x80, unicast 0x40), three reserved bytes,
// the entries array (a 4-byte length, 16 bytes per entry) and the options array (a 4-byte
// length; each option a 2-byte length counted after the type byte, the type, its data).
// An entry refers to two runs of options by index and count.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "someip/byte_cursor.h"
#include "someip/header.h"

namespace platform::runtime::someip {

inline constexpr std::uint16_t sd_service_id = 0xFFFF;
inline constexpr std::uint16_t sd_method_id = 0x8100;
inline constexpr std::uint8_t sd_interface_version = 1;
// The largest SD message sent, its SOME/IP header included.
inline constexpr std::size_t max_sd_message = 1416;
// SOME/IP header, flags and reserved, and the two array lengths.
inline constexpr std::size_t sd_overhead = header_size + 4 + 4 + 4;
inline constexpr std::size_t sd_entry_size = 16;

namespace sd_flag {
inline constexpr std::uint8_t reboot = 0x80;
inline constexpr std::uint8_t unicast = 0x40;
}  // namespace sd_flag

namespace entry_type {
inline constexpr std::uint8_t find_service = 0x00;
inline constexpr std::uint8_t offer_service = 0x01;  // TTL 0: StopOfferService
}  // namespace entry_type

namespace option_type {
inline constexpr std::uint8_t ipv4_endpoint = 0x04;
}  // namespace option_type

namespace l4_protocol {
inline constexpr std::uint8_t tcp = 0x06;
inline constexpr std::uint8_t udp = 0x11;
}  // namespace l4_protocol

inline constexpr std::uint16_t any_instance = 0xFFFF;
inline constexpr std::uint8_t any_major = 0xFF;
inline constexpr std::uint32_t any_minor = 0xFFFFFFFF;
inline constexpr std::uint32_t infinite_ttl = 0xFFFFFF;

struct Ipv4_endpoint {
    std::array<std::uint8_t, 4> address{};
    std::uint16_t port = 0;
    std::uint8_t protocol = l4_protocol::udp;

    // The address and port as one number, the key of a sender.
    std::uint64_t key() const {
        return static_cast<std::uint64_t>(address[0]) << 40 |
               static_cast<std::uint64_t>(address[1]) << 32 |
               static_cast<std::uint64_t>(address[2]) << 24 |
               static_cast<std::uint64_t>(address[3]) << 16 | port;
    }
};
bool operator==(const Ipv4_endpoint& a, const Ipv4_endpoint& b);
inline bool operator!=(const Ipv4_endpoint& a, const Ipv4_endpoint& b) {
    return !(a == b);
}
bool operator<(const Ipv4_endpoint& a, const Ipv4_endpoint& b);

struct Sd_option {
    std::uint8_t type = 0;
    Bytes data;  // the bytes after the type; the length field is their count

    static Sd_option ipv4_endpoint(const Ipv4_endpoint& endpoint);
    // The endpoint of an IPv4 endpoint option of the right length; none otherwise.
    std::optional<Ipv4_endpoint> endpoint() const;
};
bool operator==(const Sd_option& a, const Sd_option& b);

struct Sd_entry {
    std::uint8_t type = entry_type::find_service;
    std::uint8_t first_index = 0;
    std::uint8_t second_index = 0;
    std::uint8_t first_count = 0;   // 4 bits on the wire
    std::uint8_t second_count = 0;  // 4 bits on the wire
    std::uint16_t service_id = 0;
    std::uint16_t instance_id = any_instance;
    std::uint8_t major_version = any_major;
    std::uint32_t ttl = 0;  // 24 bits on the wire
    std::uint32_t minor_version = any_minor;
};
bool operator==(const Sd_entry& a, const Sd_entry& b);

struct Sd_message {
    std::uint8_t flags = 0;
    std::vector<Sd_entry> entries;
    std::vector<Sd_option> options;

    // The options of both runs of `entry` (decode_sd has checked the indexes).
    std::vector<const Sd_option*> options_of(const Sd_entry& entry) const;
};

std::size_t encoded_size(const Sd_message& message);

// The datagram of `message` with `session_id`.
Bytes encode_sd(const Sd_message& message, std::uint16_t session_id);

enum class Sd_status {
    ok,
    too_short,         // no room for the SOME/IP header or the SD fields
    bad_length,        // the SOME/IP length, or bytes left after the options array
    not_sd,            // another message id, type, protocol or interface version
    bad_entries,       // an entries length beyond the message or not a multiple of 16
    bad_options,       // an options length beyond the message
    bad_option,        // an option running past its array, or an endpoint of a wrong length
    bad_option_index,  // an entry's run of options beyond the options array
};

// Decodes the SD message at the front of `data`; `session_id` gets its session id.
Sd_status decode_sd(const std::uint8_t* data, std::size_t size, Sd_message& out,
                    std::uint16_t& session_id);

}  // namespace platform::runtime::someip
