#pragma once
// DoIP messages (ISO 13400-2): the generic header, its checks, and the framing of a byte
// stream into messages.
//
//   dmsim::doip::Framer framer(dmsim::doip::Transport::tcp, 65535);
//   framer.feed(data, size);
//   while (auto frame = framer.next()) { ... frame->type, frame->payload or frame->nack ... }
//
// Header: protocol version, its inverse, payload type (2 bytes), payload length (4 bytes),
// all big-endian. The checks, in order: a version other than 0x02/0x03 (0xFF only for
// vehicle identification requests) or a wrong inverse: NACK 0x00 and close; a payload type
// not served on this transport: NACK 0x01; a length above the entity's buffer: NACK 0x02
// (both skip the payload without keeping it); a length that does not fit the payload type:
// NACK 0x04 and close. A payload is stored only after its length passed the checks.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/io/hex.h"

namespace dmsim::doip {

inline constexpr std::size_t header_size = 8;
inline constexpr std::uint8_t default_version = 0x02;
inline constexpr std::uint8_t any_version = 0xFF;  // vehicle identification requests only

namespace payload {
inline constexpr std::uint16_t header_nack = 0x0000;
inline constexpr std::uint16_t identification_request = 0x0001;
inline constexpr std::uint16_t identification_by_eid = 0x0002;
inline constexpr std::uint16_t identification_by_vin = 0x0003;
inline constexpr std::uint16_t announcement = 0x0004;
inline constexpr std::uint16_t routing_activation_request = 0x0005;
inline constexpr std::uint16_t routing_activation_response = 0x0006;
inline constexpr std::uint16_t alive_check_request = 0x0007;
inline constexpr std::uint16_t alive_check_response = 0x0008;
inline constexpr std::uint16_t entity_status_request = 0x4001;
inline constexpr std::uint16_t entity_status_response = 0x4002;
inline constexpr std::uint16_t power_mode_request = 0x4003;
inline constexpr std::uint16_t power_mode_response = 0x4004;
inline constexpr std::uint16_t diagnostic_message = 0x8001;
inline constexpr std::uint16_t diagnostic_ack = 0x8002;
inline constexpr std::uint16_t diagnostic_nack = 0x8003;
}  // namespace payload

// Generic header NACK codes.
namespace header_nack {
inline constexpr std::uint8_t incorrect_pattern = 0x00;
inline constexpr std::uint8_t unknown_payload_type = 0x01;
inline constexpr std::uint8_t message_too_large = 0x02;
inline constexpr std::uint8_t invalid_payload_length = 0x04;
}  // namespace header_nack

enum class Transport { tcp, udp };

// One message, or a header NACK to send (and whether to close the socket after it).
struct Frame {
    std::uint8_t version = default_version;
    std::uint16_t type = 0;
    Bytes payload;
    std::optional<std::uint8_t> nack;
    bool close = false;
};

// A whole message: header and payload.
Bytes encode(std::uint8_t version, std::uint16_t type, const Bytes& payload);

std::uint16_t read_u16(const Bytes& bytes, std::size_t offset);
void append_u16(Bytes& out, std::uint16_t value);
void append_u32(Bytes& out, std::uint32_t value);

class Framer {
  public:
    Framer(Transport transport, std::uint32_t max_payload)
        : transport_(transport), max_payload_(max_payload) {}

    // Appends received bytes; nothing is consumed until next().
    void feed(const std::uint8_t* data, std::size_t size);
    // The next complete message or NACK; nullopt when more bytes are needed. After a NACK
    // that closes, it returns nullopt for ever.
    std::optional<Frame> next();
    // Bytes held (for the caller's bound on reading ahead).
    std::size_t buffered() const { return buffer_.size() - start_; }

  private:
    enum class State { header, payload, skip, closed };

    Transport transport_;
    std::uint32_t max_payload_;
    State state_ = State::header;
    std::uint8_t version_ = default_version;
    std::uint16_t type_ = 0;
    std::uint32_t remaining_ = 0;  // payload bytes still expected (payload, skip)
    Bytes buffer_;
    std::size_t start_ = 0;  // consumed prefix of buffer_
};

}  // namespace dmsim::doip
