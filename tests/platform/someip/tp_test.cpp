#include "someip/tp.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "someip/datagram.h"

// SOME/IP-TP: the segments on the wire, and reassembly with its bounds against hostile
// senders; whole messages out of datagrams.

namespace {

using namespace platform::runtime::someip;
using Time = Tp_reassembler::Time;
using std::chrono::milliseconds;

const Time t0{};

// Service 0xF1AF, method 1, length, client 1, session, protocol 1, interface 1, RESPONSE.
Header response_header(std::uint16_t session = 7) {
    return {0xF1AF, 1, 8, 1, session, 1, 1, message_type::response};
}

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return bytes;
}

std::vector<Bytes> segments_of(std::size_t size, std::uint16_t session = 7) {
    const Bytes payload = pattern(size);
    return segment_message(response_header(session), payload.data(), payload.size());
}

Message_view view_of(const Bytes& datagram) {
    Message_view view;
    EXPECT_EQ(decode_message(datagram.data(), datagram.size(), view), Decode_status::ok);
    return view;
}

// Every segment is accepted or dropped for one reason; every message started ends somehow.
void expect_accounted(const Tp_reassembler& r, const char* name = "") {
    const Tp_counters& n = r.counters();
    EXPECT_EQ(n.segments, n.accepted + n.dropped()) << name;
    EXPECT_EQ(n.started, n.completed + n.expired + n.discarded + r.in_progress()) << name;
}

TEST(Tp_segmenter, segments_above_1392_bytes_at_16_byte_offsets_and_they_come_back_whole) {
    const std::pair<std::size_t, std::size_t> counts[] = {{0, 1},    {1392, 1}, {1393, 2},
                                                          {2784, 2}, {2785, 3}, {65536, 48}};
    for (const auto& [size, datagrams] : counts) {
        const auto segments = segments_of(size);
        EXPECT_EQ(segments.size(), datagrams) << size;
        EXPECT_EQ(view_of(segments[0]).header.is_tp(), datagrams > 1) << size;
    }
    const auto segments = segments_of(4096);
    ASSERT_EQ(segments.size(), 3u);
    // TP headers: offsets 0, 87 and 174 in 16-byte units, the more flag on all but the last.
    const Bytes tp[] = {{0, 0, 0x00, 0x01}, {0, 0, 0x05, 0x71}, {0, 0, 0x0A, 0xE0}};
    const std::size_t sizes[] = {1392, 1392, 1312};
    Tp_reassembler reassembler;
    Reassembled out;
    for (std::size_t i = 0; i < 3; ++i) {
        const Message_view view = view_of(segments[i]);
        EXPECT_EQ(view.header.message_type, 0xA0) << i;
        EXPECT_EQ(view.header.length, 8 + 4 + sizes[i]) << i;
        EXPECT_EQ(Bytes(segments[i].begin() + 16, segments[i].begin() + 20), tp[i]) << i;
        EXPECT_EQ(reassembler.add(1, view, t0, out),
                  i < 2 ? Tp_result::incomplete : Tp_result::complete);
    }
    Header expected = response_header();
    expected.length = 8 + 4096;
    EXPECT_EQ(out.header, expected);
    EXPECT_EQ(out.payload, pattern(4096));
    EXPECT_EQ(reassembler.in_progress(), 0u);
}

// A 3-segment message (1392 + 1392 + 16 bytes) sent in a hostile way: what arrives whole,
// and which counter each dropped segment lands in.
TEST(Tp_reassembler, hostile_or_late_segment_sequences_are_dropped_and_counted) {
    const auto good = segments_of(2800);
    ASSERT_EQ(good.size(), 3u);
    using Change = std::function<void(Bytes&)>;
    const auto word = [](std::uint32_t w) -> Change {
        return [w](Bytes& b) { patch_u32(b, 16, w); };
    };
    const auto byte = [](std::size_t at, std::uint8_t v) -> Change {
        return [=](Bytes& b) { b[at] = v; };
    };
    const auto cut = [](std::size_t keep) -> Change {
        return [keep](Bytes& b) {
            b.resize(keep);
            patch_u32(b, 4, static_cast<std::uint32_t>(keep - 8));
        };
    };
    // `sent` names the segments in the order sent; a letter is that segment with `change`.
    // The last segment comes `late` ms after the others: a message has 2 seconds.
    using C = Tp_counters;
    const std::tuple<const char*, const char*, Change, int, bool, std::uint64_t C::*, std::uint64_t>
        cases[] = {
            {"in order, the last after 1999 ms", "012", nullptr, 1999, true, &C::accepted, 3},
            {"the last after 2000 ms", "012", nullptr, 2000, false, &C::expired, 1},
            {"duplicate", "0112", nullptr, 0, true, &C::overlapping, 1},
            {"swapped", "021", nullptr, 0, false, &C::out_of_order, 2},
            {"gap", "0b2", word((1392 + 16) | 1), 0, false, &C::out_of_order, 2},
            {"size not a multiple of 16", "0b2", cut(16 + 4 + 1000), 0, false, &C::inconsistent, 1},
            {"empty middle segment", "0b12", cut(20), 0, false, &C::inconsistent, 1},
            {"no TP header", "0b12", cut(19), 0, true, &C::malformed, 1},
            {"other interface version", "0b12", byte(13, 2), 0, false, &C::inconsistent, 1},
            {"other return code", "0b2", byte(15, 1), 0, false, &C::inconsistent, 1},
            {"offset beyond the limit", "0b2", word(0xFFFFFFF0 | 1), 0, false, &C::oversized, 1},
            {"last segment beyond the limit", "01c", word(65536), 0, false, &C::oversized, 1},
        };
    for (const auto& [name, sent, change, late, complete, counter, count] : cases) {
        Tp_reassembler reassembler;
        Reassembled out;
        int completed = 0;
        for (const char* at = sent; *at; ++at) {
            Bytes segment = good.at(*at >= 'a' ? *at - 'a' : *at - '0');
            if (*at >= 'a') {
                change(segment);
            }
            const Time when = t0 + milliseconds(at[1] ? 0 : late);
            if (reassembler.add(9, view_of(segment), when, out) == Tp_result::complete) {
                ++completed;
                EXPECT_EQ(out.payload, pattern(2800)) << name;
            }
        }
        EXPECT_EQ(completed, complete ? 1 : 0) << name;
        EXPECT_EQ(reassembler.counters().*counter, count) << name;
        expect_accounted(reassembler, name);
    }
    Tp_reassembler idle;  // expired without another segment arriving
    Reassembled out;
    idle.add(1, view_of(good[0]), t0, out);
    idle.expire(t0 + milliseconds(2000));
    EXPECT_EQ(idle.bytes_held(), 0u);
}

TEST(Tp_reassembler, the_limits_on_messages_per_sender_senders_and_message_size_hold) {
    Tp_reassembler reassembler(Tp_limits{4096, 4, 3});  // 4,096-byte messages, 3 senders
    Reassembled out;
    for (std::uint16_t session = 1; session <= 5; ++session) {
        reassembler.add(1, view_of(segments_of(1500, session).at(0)), t0, out);
    }
    EXPECT_EQ(reassembler.in_progress(), 4u);
    EXPECT_EQ(reassembler.counters().too_many, 1u);
    for (std::uint64_t peer = 2; peer <= 4; ++peer) {
        reassembler.add(peer, view_of(segments_of(1500, 5).at(0)), t0, out);
    }
    EXPECT_EQ(reassembler.in_progress(), 6u);
    EXPECT_EQ(reassembler.counters().too_many, 2u);

    // A message of exactly the limit passes; one of 16 bytes more is discarded.
    for (const std::size_t size : {4096, 4112}) {
        Tp_result last = Tp_result::dropped;
        for (const auto& segment : segments_of(size, 9)) {
            last = reassembler.add(2, view_of(segment), t0, out);
        }
        EXPECT_EQ(last == Tp_result::complete, size == 4096) << size;
    }
    EXPECT_EQ(reassembler.counters().oversized, 1u);
    EXPECT_EQ(reassembler.counters().discarded, 1u);
}

// Many senders each start as many large messages as they may and never finish them: what
// is held stays within the limits, and a legitimate message still arrives whole.
TEST(Tp_reassembler, a_flood_of_unfinished_messages_holds_bounded_memory) {
    Tp_reassembler reassembler;
    Reassembled out;
    std::size_t most = 0;
    for (std::uint64_t peer = 100; peer < 400; ++peer) {
        for (std::uint16_t session = 1; session <= 6; ++session) {
            auto segments = segments_of(65536, session);
            segments.pop_back();
            for (const auto& segment : segments) {
                reassembler.add(peer, view_of(segment), t0 + milliseconds(peer), out);
            }
        }
        most = std::max(most, reassembler.bytes_held());
    }
    const Tp_limits& limits = reassembler.limits();
    EXPECT_LE(most, limits.max_peers * limits.max_messages_per_peer * limits.max_message);
    Tp_result last = Tp_result::dropped;
    for (const auto& segment : segments_of(4096)) {
        last = reassembler.add(1, view_of(segment), t0 + milliseconds(5000), out);
    }
    ASSERT_EQ(last, Tp_result::complete);
    EXPECT_EQ(out.payload, pattern(4096));
    expect_accounted(reassembler);
}

TEST(Read_datagram, hands_on_whole_messages_and_counts_what_forms_none) {
    Tp_reassembler reassembler;
    Datagram_counters counters;
    std::vector<Incoming_message> out;
    const auto read = [&](const Bytes& bytes) {
        read_datagram(bytes.data(), bytes.size(), 1, t0, reassembler, out, counters);
    };
    Bytes two = encode_message(response_header(), Bytes{1, 2, 3});
    const Bytes empty = encode_message(response_header(), Bytes{});
    two.insert(two.end(), empty.begin(), empty.end());
    read(two);
    Bytes trailing = empty;
    trailing.push_back(0);
    read(trailing);
    read(Bytes(15, 0));
    for (const auto& segment : segments_of(4096)) {
        read(segment);
    }
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].payload, (Bytes{1, 2, 3}));
    EXPECT_TRUE(out[1].payload.empty());
    EXPECT_EQ(out[3].payload, pattern(4096));
    EXPECT_EQ(out[3].header.message_type, message_type::response);
    EXPECT_EQ(counters.datagrams, 6u);
    EXPECT_EQ(counters.messages, 4u);
    EXPECT_EQ(counters.malformed, 2u);
}

}  // namespace
