#include "someip/sd_message.h"

#include <tuple>

namespace platform::runtime::someip {

namespace {
// Reserved byte, address, reserved byte, protocol, port.
constexpr std::size_t ipv4_endpoint_length = 9;
}  // namespace

bool operator==(const Ipv4_endpoint& a, const Ipv4_endpoint& b) {
    return a.address == b.address && a.port == b.port && a.protocol == b.protocol;
}

bool operator<(const Ipv4_endpoint& a, const Ipv4_endpoint& b) {
    return std::tie(a.address, a.port, a.protocol) < std::tie(b.address, b.port, b.protocol);
}

Sd_option Sd_option::ipv4_endpoint(const Ipv4_endpoint& endpoint) {
    Sd_option option;
    option.type = option_type::ipv4_endpoint;
    put_u8(option.data, 0);
    option.data.insert(option.data.end(), endpoint.address.begin(), endpoint.address.end());
    put_u8(option.data, 0);
    put_u8(option.data, endpoint.protocol);
    put_u16(option.data, endpoint.port);
    return option;
}

std::optional<Ipv4_endpoint> Sd_option::endpoint() const {
    if (type != option_type::ipv4_endpoint || data.size() != ipv4_endpoint_length) {
        return std::nullopt;
    }
    Byte_cursor cursor(data.data(), data.size());
    Ipv4_endpoint endpoint;
    std::uint8_t reserved = 0;
    cursor.read_u8(reserved);
    for (auto& byte : endpoint.address) {
        cursor.read_u8(byte);
    }
    cursor.read_u8(reserved);
    cursor.read_u8(endpoint.protocol);
    cursor.read_u16(endpoint.port);
    return endpoint;
}

bool operator==(const Sd_option& a, const Sd_option& b) {
    return a.type == b.type && a.data == b.data;
}

bool operator==(const Sd_entry& a, const Sd_entry& b) {
    return a.type == b.type && a.first_index == b.first_index && a.second_index == b.second_index &&
           a.first_count == b.first_count && a.second_count == b.second_count &&
           a.service_id == b.service_id && a.instance_id == b.instance_id &&
           a.major_version == b.major_version && a.ttl == b.ttl &&
           a.minor_version == b.minor_version;
}

std::vector<const Sd_option*> Sd_message::options_of(const Sd_entry& entry) const {
    std::vector<const Sd_option*> out;
    const auto run = [&](std::size_t first, std::size_t count) {
        for (std::size_t i = first; i < first + count && i < options.size(); ++i) {
            out.push_back(&options[i]);
        }
    };
    run(entry.first_index, entry.first_count);
    run(entry.second_index, entry.second_count);
    return out;
}

std::size_t encoded_size(const Sd_message& message) {
    std::size_t size = sd_overhead + message.entries.size() * sd_entry_size;
    for (const auto& option : message.options) {
        size += 3 + option.data.size();
    }
    return size;
}

Bytes encode_sd(const Sd_message& message, std::uint16_t session_id) {
    Header header;
    header.service_id = sd_service_id;
    header.method_id = sd_method_id;
    header.client_id = 0;
    header.session_id = session_id;
    header.interface_version = sd_interface_version;
    header.message_type = message_type::notification;
    const std::size_t size = encoded_size(message);
    header.length = static_cast<std::uint32_t>(size - header_size + length_overhead);
    Bytes out;
    out.reserve(size);
    encode_header(header, out);
    put_u8(out, message.flags);
    put_u24(out, 0);
    put_u32(out, static_cast<std::uint32_t>(message.entries.size() * sd_entry_size));
    for (const auto& entry : message.entries) {
        put_u8(out, entry.type);
        put_u8(out, entry.first_index);
        put_u8(out, entry.second_index);
        put_u8(out, static_cast<std::uint8_t>((entry.first_count & 0x0F) << 4 |
                                              (entry.second_count & 0x0F)));
        put_u16(out, entry.service_id);
        put_u16(out, entry.instance_id);
        put_u8(out, entry.major_version);
        put_u24(out, entry.ttl & 0xFFFFFF);
        put_u32(out, entry.minor_version);
    }
    const std::size_t options_length_at = out.size();
    put_u32(out, 0);
    for (const auto& option : message.options) {
        put_u16(out, static_cast<std::uint16_t>(option.data.size()));
        put_u8(out, option.type);
        out.insert(out.end(), option.data.begin(), option.data.end());
    }
    patch_u32(out, options_length_at,
              static_cast<std::uint32_t>(out.size() - options_length_at - 4));
    return out;
}

Sd_status decode_sd(const std::uint8_t* data, std::size_t size, Sd_message& out,
                    std::uint16_t& session_id) {
    Message_view view;
    switch (decode_message(data, size, view)) {
        case Decode_status::ok:
            break;
        case Decode_status::too_short:
            return Sd_status::too_short;
        case Decode_status::bad_length:
            return Sd_status::bad_length;
    }
    const Header& header = view.header;
    if (header.service_id != sd_service_id || header.method_id != sd_method_id ||
        header.protocol_version != protocol_version ||
        header.interface_version != sd_interface_version ||
        header.message_type != message_type::notification) {
        return Sd_status::not_sd;
    }
    Byte_cursor cursor(view.payload, view.payload_size);
    Sd_message message;
    std::uint32_t reserved = 0;
    std::uint32_t entries_length = 0;
    cursor.read_u8(message.flags);
    cursor.read_u24(reserved);
    if (!cursor.read_u32(entries_length)) {
        return Sd_status::too_short;
    }
    if (entries_length % sd_entry_size != 0 || entries_length > cursor.remaining()) {
        return Sd_status::bad_entries;
    }
    Byte_cursor entries = cursor.sub(entries_length);
    message.entries.reserve(entries_length / sd_entry_size);
    while (entries.remaining() > 0) {
        Sd_entry entry;
        std::uint8_t counts = 0;
        entries.read_u8(entry.type);
        entries.read_u8(entry.first_index);
        entries.read_u8(entry.second_index);
        entries.read_u8(counts);
        entries.read_u16(entry.service_id);
        entries.read_u16(entry.instance_id);
        entries.read_u8(entry.major_version);
        entries.read_u24(entry.ttl);
        entries.read_u32(entry.minor_version);
        entry.first_count = static_cast<std::uint8_t>(counts >> 4);
        entry.second_count = static_cast<std::uint8_t>(counts & 0x0F);
        message.entries.push_back(entry);
    }
    std::uint32_t options_length = 0;
    if (!cursor.read_u32(options_length)) {
        return Sd_status::too_short;
    }
    if (options_length > cursor.remaining()) {
        return Sd_status::bad_options;
    }
    if (options_length < cursor.remaining()) {
        return Sd_status::bad_length;
    }
    Byte_cursor options = cursor.sub(options_length);
    while (options.remaining() > 0) {
        Sd_option option;
        std::uint16_t length = 0;
        const std::uint8_t* bytes = nullptr;
        options.read_u16(length);
        options.read_u8(option.type);
        if (!options.take(length, bytes)) {
            return Sd_status::bad_option;
        }
        option.data.assign(bytes, bytes + length);
        if (option.type == option_type::ipv4_endpoint && !option.endpoint()) {
            return Sd_status::bad_option;
        }
        message.options.push_back(std::move(option));
    }
    for (const auto& entry : message.entries) {
        const std::size_t count = message.options.size();
        if ((entry.first_count > 0 && entry.first_index + entry.first_count > count) ||
            (entry.second_count > 0 && entry.second_index + entry.second_count > count)) {
            return Sd_status::bad_option_index;
        }
    }
    session_id = header.session_id;
    out = std::move(message);
    return Sd_status::ok;
}

}  // namespace platform::runtime::someip
