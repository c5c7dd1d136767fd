// Fuzz target: one UDP datagram as the SOME/IP transport receives it, read message by
// message, judged as the serving and the calling side judge it, and read again by the
// receive path; each check below names the fault it catches.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "someip/datagram.h"
#include "someip/header.h"
#include "someip/return_codes.h"

namespace {

using namespace platform::runtime::someip;

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "someip_header_fuzz: %s\n", what);
        std::abort();
    }
}

std::uint32_t be(const std::uint8_t* p, std::size_t n) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        value = value << 8 | p[i];
    }
    return value;
}

const Served_service vin{1, {0, 1}};
const Served_service routine{2, {0, 1, 2, 3}};

const Served_service* lookup(std::uint16_t id) {
    return id == 0xF190 ? &vin : id == 0x0300 ? &routine : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t offset = 0;
    std::size_t messages = 0;
    std::size_t segments = 0;  // messages with the TP flag
    while (offset < size) {
        Message_view view;
        const std::uint8_t* at = data + offset;
        const std::size_t left = size - offset;
        const Decode_status status = decode_message(at, left, view);
        check(status != Decode_status::too_short || left < 16, "a full header reported too short");
        const std::uint32_t length = left >= 16 ? be(at + 4, 4) : 0;
        check(status != Decode_status::bad_length || left < 16 || length < 8 ||
                  length - 8 > left - 16,
              "a length that fits reported bad");
        if (status != Decode_status::ok) {
            break;
        }
        const Header& h = view.header;
        check(h.service_id == be(at, 2) && h.method_id == be(at + 2, 2) && h.length == length &&
                  h.client_id == be(at + 8, 2) && h.session_id == be(at + 10, 2) &&
                  h.protocol_version == at[12] && h.interface_version == at[13] &&
                  h.message_type == at[14] && h.return_code == at[15],
              "a header field read from the wrong place");
        check(view.size == 8 + static_cast<std::size_t>(h.length) && view.size <= left &&
                  view.payload == at + 16 && view.payload_size + 16 == view.size,
              "a message outside the datagram");
        check(encode_message(h, view.payload, view.payload_size) == Bytes(at, at + view.size),
              "the message does not encode back to its bytes");

        const Request_check judged = check_request(h, lookup);
        check(h.message_type == message_type::request || judged.verdict == Request_verdict::drop,
              "a non-request served or answered");
        if (judged.verdict == Request_verdict::answer_error) {
            const std::uint8_t c = judged.return_code;
            check(c == 0x02 || c == 0x03 || c == 0x07 || c == 0x08,
                  "an error answer with an unexpected code");
            const Header reply = reply_header(h, message_type::error, c);
            check(reply.message_id() == h.message_id() && reply.request_id() == h.request_id() &&
                      reply.interface_version == h.interface_version && is_reply(reply),
                  "an error reply that does not echo the request");
        }
        const Served_service* served = lookup(h.service_id);
        check(
            judged.verdict != Request_verdict::serve ||
                (served && h.protocol_version == 1 && h.interface_version == served->major_version),
            "a bad request served");

        if (is_reply(h)) {
            const Handler_code code = from_wire(h.type_without_tp(), h.return_code);
            const Wire_code back = to_wire(code.code);
            check(!code.valid || (back.carried && back.message_type == h.type_without_tp() &&
                                  back.return_code == h.return_code),
                  "a valid return code that does not map back");
            check(code.valid || code.code == 0x81, "an invalid return code not handed on as 0x81");
        }
        offset += view.size;
        segments += h.is_tp() ? 1 : 0;
        check(++messages <= size / 16 + 1, "more messages than the datagram can hold");
    }

    // The receive path agrees: as many whole messages (a TP message of one segment is
    // whole), the rest of a datagram that forms no message counted once.
    Tp_reassembler reassembler;
    Datagram_counters counters;
    std::vector<Incoming_message> whole;
    read_datagram(data, size, 1, Tp_reassembler::Time{}, reassembler, whole, counters);
    check(whole.size() == counters.messages && reassembler.counters().segments == segments &&
              whole.size() == messages - segments + reassembler.counters().completed &&
              counters.malformed == (offset < size ? 1u : 0u),
          "the receive path disagrees with the messages of the datagram");
    for (const auto& message : whole) {
        check(!message.header.is_tp() && message.payload.size() + 8 == message.header.length,
              "a message handed on with the TP flag or a wrong length");
    }
    return 0;
}
