#include "someip/header.h"

#include <algorithm>

namespace platform::runtime::someip {

bool operator==(const Header& a, const Header& b) {
    return a.service_id == b.service_id && a.method_id == b.method_id && a.length == b.length &&
           a.client_id == b.client_id && a.session_id == b.session_id &&
           a.protocol_version == b.protocol_version && a.interface_version == b.interface_version &&
           a.message_type == b.message_type && a.return_code == b.return_code;
}

void encode_header(const Header& header, Bytes& out) {
    put_u16(out, header.service_id);
    put_u16(out, header.method_id);
    put_u32(out, header.length);
    put_u16(out, header.client_id);
    put_u16(out, header.session_id);
    put_u8(out, header.protocol_version);
    put_u8(out, header.interface_version);
    put_u8(out, header.message_type);
    put_u8(out, header.return_code);
}

Bytes encode_message(Header header, const std::uint8_t* payload, std::size_t size) {
    header.length = static_cast<std::uint32_t>(length_overhead + size);
    Bytes out;
    out.reserve(header_size + size);
    encode_header(header, out);
    out.insert(out.end(), payload, payload + size);
    return out;
}

Decode_status decode_message(const std::uint8_t* data, std::size_t size, Message_view& out) {
    Byte_cursor cursor(data, size);
    Header header;
    cursor.read_u16(header.service_id);
    cursor.read_u16(header.method_id);
    cursor.read_u32(header.length);
    cursor.read_u16(header.client_id);
    cursor.read_u16(header.session_id);
    cursor.read_u8(header.protocol_version);
    cursor.read_u8(header.interface_version);
    cursor.read_u8(header.message_type);
    cursor.read_u8(header.return_code);
    if (cursor.failed()) {
        return Decode_status::too_short;
    }
    if (header.length < length_overhead) {
        return Decode_status::bad_length;
    }
    const std::size_t payload_size = header.length - length_overhead;
    const std::uint8_t* payload = nullptr;
    if (!cursor.take(payload_size, payload)) {
        return Decode_status::bad_length;
    }
    out.header = header;
    out.payload = payload;
    out.payload_size = payload_size;
    out.size = header_size + payload_size;
    return Decode_status::ok;
}

Request_check check_request(const Header& header, const Service_lookup& lookup) {
    if (header.message_type != message_type::request) {
        return {Request_verdict::drop, return_code::ok};
    }
    if (header.protocol_version != protocol_version) {
        return {Request_verdict::answer_error, return_code::wrong_protocol_version};
    }
    const Served_service* service = lookup ? lookup(header.service_id) : nullptr;
    if (service == nullptr) {
        return {Request_verdict::answer_error, return_code::unknown_service};
    }
    const auto& methods = service->method_ids;
    if (std::find(methods.begin(), methods.end(), header.method_id) == methods.end()) {
        return {Request_verdict::answer_error, return_code::unknown_method};
    }
    if (header.interface_version != service->major_version) {
        return {Request_verdict::answer_error, return_code::wrong_interface_version};
    }
    return {Request_verdict::serve, return_code::ok};
}

Header reply_header(const Header& request, std::uint8_t type, std::uint8_t code) {
    Header reply = request;
    reply.protocol_version = protocol_version;
    reply.message_type = type;
    reply.return_code = code;
    reply.length = length_overhead;
    return reply;
}

bool is_reply(const Header& header) {
    const std::uint8_t type = header.type_without_tp();
    return header.protocol_version == protocol_version &&
           (type == message_type::response || type == message_type::error);
}

}  // namespace platform::runtime::someip
