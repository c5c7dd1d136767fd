#include "sim/doip/message.h"

#include <algorithm>

namespace dmsim::doip {

namespace {

// Accepted payload lengths of each payload type that the entity serves.
struct Rule {
    std::uint16_t type;
    Transport transport;
    std::uint32_t min_length;
    std::uint32_t max_length;  // inclusive
    std::uint32_t alt_length;  // a second accepted length (0: none)
};

constexpr std::uint32_t unbounded = 0xFFFFFFFF;

constexpr Rule rules[] = {
    {payload::identification_request, Transport::udp, 0, 0, 0},
    {payload::identification_by_eid, Transport::udp, 6, 6, 0},
    {payload::identification_by_vin, Transport::udp, 17, 17, 0},
    {payload::entity_status_request, Transport::udp, 0, 0, 0},
    {payload::power_mode_request, Transport::udp, 0, 0, 0},
    {payload::routing_activation_request, Transport::tcp, 7, 7, 11},
    {payload::alive_check_request, Transport::tcp, 0, 0, 0},
    {payload::alive_check_response, Transport::tcp, 2, 2, 0},
    {payload::entity_status_request, Transport::tcp, 0, 0, 0},
    {payload::power_mode_request, Transport::tcp, 0, 0, 0},
    // Source and target address, then at least one byte of UDS.
    {payload::diagnostic_message, Transport::tcp, 5, unbounded, 0},
};

const Rule* rule_of(std::uint16_t type, Transport transport) {
    for (const Rule& rule : rules) {
        if (rule.type == type && rule.transport == transport) {
            return &rule;
        }
    }
    return nullptr;
}

bool identification(std::uint16_t type) {
    return type == payload::identification_request || type == payload::identification_by_eid ||
           type == payload::identification_by_vin;
}

}  // namespace

Bytes encode(std::uint8_t version, std::uint16_t type, const Bytes& payload) {
    // Sized once and written in place (no growth path for the optimizer to trip over):
    // version, its inverse, the type (2 bytes) and the payload length (4 bytes), big-endian.
    const auto length = static_cast<std::uint32_t>(payload.size());
    Bytes out(header_size + payload.size());
    out[0] = version;
    out[1] = static_cast<std::uint8_t>(~version);
    out[2] = static_cast<std::uint8_t>(type >> 8);
    out[3] = static_cast<std::uint8_t>(type & 0xFF);
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    }
    std::copy(payload.begin(), payload.end(), out.begin() + header_size);
    return out;
}

std::uint16_t read_u16(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes.at(offset) << 8 | bytes.at(offset + 1));
}

void append_u16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void append_u32(Bytes& out, std::uint32_t value) {
    append_u16(out, static_cast<std::uint16_t>(value >> 16));
    append_u16(out, static_cast<std::uint16_t>(value & 0xFFFF));
}

void Framer::feed(const std::uint8_t* data, std::size_t size) {
    if (state_ == State::closed || size == 0) {
        return;
    }
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

std::optional<Frame> Framer::next() {
    while (true) {
        switch (state_) {
            case State::closed:
                return std::nullopt;
            case State::skip: {
                const std::size_t dropped = std::min<std::size_t>(buffered(), remaining_);
                start_ += dropped;
                remaining_ -= static_cast<std::uint32_t>(dropped);
                if (remaining_ > 0) {
                    return std::nullopt;
                }
                state_ = State::header;
                break;
            }
            case State::payload: {
                if (buffered() < remaining_) {
                    return std::nullopt;
                }
                Frame frame;
                frame.version = version_;
                frame.type = type_;
                const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
                frame.payload.assign(first, first + remaining_);
                start_ += remaining_;
                remaining_ = 0;
                state_ = State::header;
                return frame;
            }
            case State::header: {
                if (buffered() < header_size) {
                    return std::nullopt;
                }
                const std::uint8_t* h = buffer_.data() + start_;
                start_ += header_size;
                const std::uint8_t version = h[0];
                const auto type = static_cast<std::uint16_t>(h[2] << 8 | h[3]);
                const std::uint32_t length = static_cast<std::uint32_t>(h[4]) << 24 |
                                             static_cast<std::uint32_t>(h[5]) << 16 |
                                             static_cast<std::uint32_t>(h[6]) << 8 | h[7];
                Frame nack;
                const bool known_version = version == 0x02 || version == 0x03 ||
                                           (version == any_version &&
                                            transport_ == Transport::udp && identification(type));
                if (!known_version || h[1] != static_cast<std::uint8_t>(~version)) {
                    nack.nack = header_nack::incorrect_pattern;
                    nack.close = true;
                    state_ = State::closed;
                    return nack;
                }
                nack.version = version == any_version ? default_version : version;
                const Rule* rule = rule_of(type, transport_);
                if (rule == nullptr || length > max_payload_) {
                    nack.nack = rule == nullptr ? header_nack::unknown_payload_type
                                                : header_nack::message_too_large;
                    remaining_ = length;
                    state_ = State::skip;
                    return nack;
                }
                const bool fits = (length >= rule->min_length && length <= rule->max_length) ||
                                  (rule->alt_length != 0 && length == rule->alt_length);
                if (!fits) {
                    nack.nack = header_nack::invalid_payload_length;
                    nack.close = true;
                    state_ = State::closed;
                    return nack;
                }
                version_ = version;
                type_ = type;
                remaining_ = length;
                state_ = State::payload;
                break;
            }
        }
    }
}

}  // namespace dmsim::doip
