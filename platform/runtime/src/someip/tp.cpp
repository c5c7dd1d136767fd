#include "someip/tp.h"

#include <algorithm>

namespace platform::runtime::someip {

std::vector<Bytes> segment_message(const Header& header, const std::uint8_t* payload,
                                   std::size_t size, std::size_t max_segment) {
    std::vector<Bytes> out;
    if (size <= max_segment) {
        out.push_back(encode_message(header, payload, size));
        return out;
    }
    const std::size_t step = std::max<std::size_t>(16, max_segment & ~std::size_t{15});
    Header segment = header;
    segment.message_type = static_cast<std::uint8_t>(header.message_type | message_type::tp_flag);
    for (std::size_t offset = 0; offset < size; offset += step) {
        const std::size_t length = std::min(step, size - offset);
        const bool more = offset + length < size;
        segment.length = static_cast<std::uint32_t>(length_overhead + tp_header_size + length);
        Bytes datagram;
        datagram.reserve(header_size + tp_header_size + length);
        encode_header(segment, datagram);
        put_u32(datagram, static_cast<std::uint32_t>(offset) | (more ? tp_more_segments : 0));
        datagram.insert(datagram.end(), payload + offset, payload + offset + length);
        out.push_back(std::move(datagram));
    }
    return out;
}

Tp_result Tp_reassembler::drop(std::uint64_t& count) {
    ++count;
    return Tp_result::dropped;
}

void Tp_reassembler::discard(const Key& key) {
    const auto found = messages_.find(key);
    if (found == messages_.end()) {
        return;
    }
    const std::uint64_t peer = std::get<0>(key);
    if (--per_peer_[peer] == 0) {
        per_peer_.erase(peer);
    }
    messages_.erase(found);
    ++counters_.discarded;
}

void Tp_reassembler::expire(Time now) {
    for (auto it = messages_.begin(); it != messages_.end();) {
        if (now - it->second.started >= limits_.timeout) {
            const std::uint64_t peer = std::get<0>(it->first);
            if (--per_peer_[peer] == 0) {
                per_peer_.erase(peer);
            }
            it = messages_.erase(it);
            ++counters_.expired;
        } else {
            ++it;
        }
    }
}

std::size_t Tp_reassembler::bytes_held() const {
    std::size_t total = 0;
    for (const auto& entry : messages_) {
        total += entry.second.payload.size();
    }
    return total;
}

Tp_result Tp_reassembler::add(std::uint64_t peer, const Message_view& segment, Time now,
                              Reassembled& out) {
    expire(now);
    ++counters_.segments;
    const Header& header = segment.header;
    Byte_cursor cursor(segment.payload, segment.payload_size);
    std::uint32_t word = 0;
    if (!header.is_tp() || !cursor.read_u32(word)) {
        return drop(counters_.malformed);
    }
    const std::uint64_t offset = word & tp_offset_mask;
    const bool more = (word & tp_more_segments) != 0;
    const std::size_t length = cursor.remaining();
    const Key key{peer,
                  header.service_id,
                  header.method_id,
                  header.client_id,
                  header.session_id,
                  header.type_without_tp()};

    if (offset + length > limits_.max_message) {
        discard(key);
        return drop(counters_.oversized);
    }
    if (more && (length == 0 || length % 16 != 0)) {
        discard(key);
        return drop(counters_.inconsistent);
    }

    auto found = messages_.find(key);
    if (found == messages_.end()) {
        if (offset != 0) {
            return drop(counters_.out_of_order);
        }
        const auto peer_entry = per_peer_.find(peer);
        const std::size_t from_peer = peer_entry == per_peer_.end() ? 0 : peer_entry->second;
        const bool new_peer = from_peer == 0;
        if (more && (from_peer >= limits_.max_messages_per_peer ||
                     (new_peer && per_peer_.size() >= limits_.max_peers))) {
            return drop(counters_.too_many);
        }
        ++counters_.accepted;
        ++counters_.started;
        Partial partial{header, Bytes(cursor.position(), cursor.position() + length), now};
        partial.header.message_type = header.type_without_tp();
        if (!more) {
            ++counters_.completed;
            out.header = partial.header;
            out.header.length = static_cast<std::uint32_t>(length_overhead + length);
            out.payload = std::move(partial.payload);
            return Tp_result::complete;
        }
        messages_.emplace(key, std::move(partial));
        ++per_peer_[peer];
        return Tp_result::incomplete;
    }

    Partial& partial = found->second;
    if (header.protocol_version != partial.header.protocol_version ||
        header.interface_version != partial.header.interface_version ||
        header.return_code != partial.header.return_code) {
        discard(key);
        return drop(counters_.inconsistent);
    }
    if (offset < partial.payload.size()) {
        return drop(counters_.overlapping);
    }
    if (offset > partial.payload.size()) {
        discard(key);
        return drop(counters_.out_of_order);
    }
    ++counters_.accepted;
    partial.payload.insert(partial.payload.end(), cursor.position(), cursor.position() + length);
    if (more) {
        return Tp_result::incomplete;
    }
    ++counters_.completed;
    out.header = partial.header;
    out.header.length = static_cast<std::uint32_t>(length_overhead + partial.payload.size());
    out.payload = std::move(partial.payload);
    messages_.erase(found);
    if (--per_peer_[peer] == 0) {
        per_peer_.erase(peer);
    }
    return Tp_result::complete;
}

}  // namespace platform::runtime::someip
