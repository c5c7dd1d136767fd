// Fuzz target: SOME/IP-TP reassembly. The input first chooses a message (payload size and
// contents), which this target cuts into segments by the TP rules on its own (1,392 bytes,
// offsets in 16-byte units, the more flag on all but the last) and compares with the
// segmenter's; then it plays a schedule of deliveries taken from the rest of the input: a
// segment in any order, duplicated or corrupted, another sender's segment, time steps.
// Each check below names the fault it catches.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "someip/tp.h"

namespace {

using namespace platform::runtime::someip;
using std::chrono::milliseconds;

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "someip_tp_fuzz: %s\n", what);
        std::abort();
    }
}

// The segments of `payload` under the RESPONSE header below, built here from the rules alone.
std::vector<Bytes> segments_of(const Bytes& payload) {
    std::vector<Bytes> out;
    for (std::size_t offset = 0; offset < payload.size(); offset += 1392) {
        const std::size_t n = std::min<std::size_t>(1392, payload.size() - offset);
        const bool more = offset + n < payload.size();
        Bytes s{0xF1, 0xAF, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0x42, 1, 1, 0xA0, 0, 0, 0, 0, 0};
        patch_u32(s, 4, static_cast<std::uint32_t>(8 + 4 + n));
        patch_u32(s, 16, static_cast<std::uint32_t>((offset / 16) << 4 | (more ? 1 : 0)));
        s.insert(s.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                 payload.begin() + static_cast<std::ptrdiff_t>(offset + n));
        out.push_back(std::move(s));
    }
    return out;
}

void check_counts(const Tp_reassembler& r) {
    const Tp_counters& n = r.counters();
    check(n.segments == n.accepted + n.dropped(), "a segment neither accepted nor dropped");
    check(n.started == n.completed + n.expired + n.discarded + r.in_progress(),
          "a message started but not accounted for");
    const Tp_limits& l = r.limits();
    check(r.bytes_held() <= l.max_peers * l.max_messages_per_peer * l.max_message &&
              r.in_progress() <= l.max_peers * l.max_messages_per_peer,
          "more held than the limits allow");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::size_t payload_size = static_cast<std::size_t>(data[0] << 8 | data[1]) % 9000 + 1393;
    Bytes payload(payload_size);
    for (std::size_t i = 0; i < payload_size; ++i) {
        payload[i] = static_cast<std::uint8_t>(data[2] + i * data[3]);
    }
    const std::vector<Bytes> segments = segments_of(payload);
    // Service 0xF1AF, method 1, client 1, session 0x42, interface version 1, RESPONSE.
    Header header{0xF1AF, 1, 8, 1, 0x0042, 1, 1, message_type::response};
    check(segment_message(header, payload.data(), payload.size()) == segments,
          "the segmenter disagrees with the TP rules");
    header.length = static_cast<std::uint32_t>(8 + payload.size());  // as reassembled

    // Messages up to 16,384 bytes (above every payload chosen here), 4 per sender, and room
    // for every sender of the schedule.
    const Tp_limits limits{16384, 4, 16};
    Tp_reassembler reassembler(limits);
    const Tp_reassembler::Time start{};
    Tp_reassembler::Time now = start;
    bool in_order = true;
    bool corrupted = false;  // a corrupted payload byte may well be reassembled
    std::size_t next = 0;
    bool completed = false;
    Reassembled out;

    const auto deliver = [&](std::uint64_t peer, const Bytes& bytes) {
        Message_view view;
        if (decode_message(bytes.data(), bytes.size(), view) != Decode_status::ok ||
            !view.header.is_tp()) {
            return;
        }
        if (reassembler.add(peer, view, now, out) == Tp_result::complete && peer == 1 &&
            out.header.message_id() == header.message_id() &&
            out.header.request_id() == header.request_id() &&
            out.header.message_type == message_type::response) {
            check(corrupted || (out.payload == payload && out.header == header),
                  "a reassembled message differs from the one segmented");
            completed = true;
        }
        check_counts(reassembler);
    };

    for (std::size_t i = 4; i + 1 < size; i += 2) {
        const std::uint8_t op = data[i];
        const std::uint8_t arg = data[i + 1];
        switch (op % 6) {
            case 0:  // the next segment in order
            case 1:
                if (next < segments.size()) {
                    deliver(1, segments[next++]);
                }
                break;
            case 2:  // any segment, perhaps again
                in_order = false;
                deliver(1, segments[arg % segments.size()]);
                break;
            case 3: {  // a segment with a corrupted byte
                in_order = false;
                corrupted = true;
                Bytes bytes = segments[arg % segments.size()];
                bytes[(arg * 7u) % bytes.size()] ^= static_cast<std::uint8_t>(op | 1);
                deliver(1, bytes);
                break;
            }
            case 4:  // another sender's copy
                deliver(2 + arg % 12, segments[arg % segments.size()]);
                break;
            case 5:  // time passes
                now += milliseconds(arg * 10);
                reassembler.expire(now);
                check_counts(reassembler);
                break;
        }
    }
    check(!in_order || next < segments.size() || now - start >= limits.timeout || completed,
          "segments delivered in order within the time did not complete");
    return 0;
}
