#pragma once
// The 16-byte SOME/IP header, big-endian: message id (service id, method id), length (the
// bytes from the request id to the end), request id (client id, session id), protocol
// version, interface version, message type, return code. One datagram may carry several
// messages one after the other; decode_message reads the one at the front.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "someip/byte_cursor.h"

namespace platform::runtime::someip {

namespace message_type {
inline constexpr std::uint8_t request = 0x00;
inline constexpr std::uint8_t request_no_return = 0x01;
inline constexpr std::uint8_t notification = 0x02;
inline constexpr std::uint8_t response = 0x80;
inline constexpr std::uint8_t error = 0x81;
inline constexpr std::uint8_t tp_flag = 0x20;
}  // namespace message_type

namespace return_code {
inline constexpr std::uint8_t ok = 0x00;
inline constexpr std::uint8_t not_ok = 0x01;
inline constexpr std::uint8_t unknown_service = 0x02;
inline constexpr std::uint8_t unknown_method = 0x03;
inline constexpr std::uint8_t timeout = 0x06;
inline constexpr std::uint8_t wrong_protocol_version = 0x07;
inline constexpr std::uint8_t wrong_interface_version = 0x08;
inline constexpr std::uint8_t malformed_message = 0x09;
}  // namespace return_code

inline constexpr std::size_t header_size = 16;
// The length field counts the request id, the four one-byte fields and the payload.
inline constexpr std::uint32_t length_overhead = 8;
inline constexpr std::uint8_t protocol_version = 1;
// The largest UDP payload over IPv4.
inline constexpr std::size_t max_datagram = 65507;

struct Header {
    std::uint16_t service_id = 0;
    std::uint16_t method_id = 0;
    std::uint32_t length = length_overhead;
    std::uint16_t client_id = 0;
    std::uint16_t session_id = 0;
    std::uint8_t protocol_version = someip::protocol_version;
    std::uint8_t interface_version = 0;
    std::uint8_t message_type = message_type::request;
    std::uint8_t return_code = return_code::ok;

    std::uint32_t message_id() const {
        return static_cast<std::uint32_t>(service_id) << 16 | method_id;
    }
    std::uint32_t request_id() const {
        return static_cast<std::uint32_t>(client_id) << 16 | session_id;
    }
    bool is_tp() const { return (message_type & message_type::tp_flag) != 0; }
    std::uint8_t type_without_tp() const {
        return static_cast<std::uint8_t>(message_type & ~message_type::tp_flag);
    }
};

bool operator==(const Header& a, const Header& b);
inline bool operator!=(const Header& a, const Header& b) {
    return !(a == b);
}

// Appends the 16 header bytes as given (the length field too).
void encode_header(const Header& header, Bytes& out);

// A whole message: the header with its length set from the payload, then the payload.
Bytes encode_message(Header header, const std::uint8_t* payload, std::size_t size);
inline Bytes encode_message(const Header& header, const Bytes& payload) {
    return encode_message(header, payload.data(), payload.size());
}

enum class Decode_status {
    ok,
    too_short,   // fewer than 16 bytes
    bad_length,  // a length field below 8, or beyond the bytes at hand
};

// One message inside a datagram; payload points into the decoded bytes.
struct Message_view {
    Header header;
    const std::uint8_t* payload = nullptr;
    std::size_t payload_size = 0;
    std::size_t size = 0;  // header and payload: where the next message of the datagram starts
};

Decode_status decode_message(const std::uint8_t* data, std::size_t size, Message_view& out);

// What the serving side knows of one service it offers.
struct Served_service {
    std::uint8_t major_version = 1;
    std::vector<std::uint16_t> method_ids;
};
// The offered service with that id, or null.
using Service_lookup = std::function<const Served_service*(std::uint16_t service_id)>;

enum class Request_verdict {
    serve,
    answer_error,  // reply with ERROR and Request_check::return_code
    drop,          // not a request: never answered
};
struct Request_check {
    Request_verdict verdict = Request_verdict::drop;
    std::uint8_t return_code = return_code::ok;
};

// How the serving side treats a decoded (and, for TP, reassembled) message: only a
// REQUEST is served or answered; a wrong protocol version, an unknown service or method
// and a wrong interface version get their ERROR, in that order.
Request_check check_request(const Header& header, const Service_lookup& lookup);

// The header of a RESPONSE or ERROR to `request`: its message id, request id and
// interface version echoed; the length is set when the message is encoded.
Header reply_header(const Header& request, std::uint8_t type, std::uint8_t code);

// Whether the calling side may take `header` as the answer to a call: RESPONSE or ERROR
// (TP flag aside) of protocol version 1. Which call it answers is the caller's lookup.
bool is_reply(const Header& header);

}  // namespace platform::runtime::someip
