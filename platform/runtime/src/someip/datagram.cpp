#include "someip/datagram.h"

namespace platform::runtime::someip {

void read_datagram(const std::uint8_t* data, std::size_t size, std::uint64_t peer,
                   Tp_reassembler::Time now, Tp_reassembler& reassembler,
                   std::vector<Incoming_message>& out, Datagram_counters& counters) {
    ++counters.datagrams;
    std::size_t offset = 0;
    while (offset < size) {
        Message_view view;
        if (decode_message(data + offset, size - offset, view) != Decode_status::ok) {
            ++counters.malformed;
            return;
        }
        offset += view.size;
        if (view.header.is_tp()) {
            Reassembled whole;
            if (reassembler.add(peer, view, now, whole) == Tp_result::complete) {
                out.push_back({whole.header, std::move(whole.payload)});
                ++counters.messages;
            }
        } else {
            out.push_back({view.header, Bytes(view.payload, view.payload + view.payload_size)});
            ++counters.messages;
        }
    }
}

}  // namespace platform::runtime::someip
