#include "someip/tp.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "someip/datagram.h"

// SOME/IP-TP: the segments on the wire, and reassembly with its bounds against hostile
// senders; whole messages out of datagrams.

namespace {

using namespace platform::runtime::someip;
using Time = Tp_reassembler::Time;
using std::chrono::milliseconds;

const Time t0{};

Header response_header() {
    Header header;
    header.service_id = 0xF1AF;
    header.method_id = 1;
    header.client_id = 1;
    header.session_id = 7;
    header.interface_version = 1;
    header.message_type = message_type::response;
    return header;
}

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return bytes;
}

Message_view view_of(const Bytes& datagram) {
    Message_view view;
    EXPECT_EQ(decode_message(datagram.data(), datagram.size(), view), Decode_status::ok);
    return view;
}

// The TP word of a segment: offset in bytes and the more flag.
std::pair<std::uint32_t, bool> tp_word(const Bytes& datagram) {
    const std::uint32_t word = static_cast<std::uint32_t>(datagram.at(16)) << 24 |
                               static_cast<std::uint32_t>(datagram.at(17)) << 16 |
                               static_cast<std::uint32_t>(datagram.at(18)) << 8 | datagram.at(19);
    return {word & 0xFFFFFFF0, (word & 1) != 0};
}

TEST(Tp_segmenter, a_4096_byte_payload_goes_as_three_segments_and_comes_back_whole) {
    const Bytes payload = pattern(4096);
    const auto segments = segment_message(response_header(), payload.data(), payload.size());
    ASSERT_EQ(segments.size(), 3u);
    const std::uint32_t offsets[] = {0, 1392, 2784};
    const std::size_t sizes[] = {1392, 1392, 1312};
    // Offsets 0, 87 and 174 in 16-byte units, then the more-segments flag.
    const Bytes tp_bytes[] = {{0, 0, 0, 0x01}, {0, 0, 0x05, 0x71}, {0, 0, 0x0A, 0xE0}};
    for (std::size_t i = 0; i < 3; ++i) {
        const Message_view view = view_of(segments[i]);
        EXPECT_EQ(view.header.message_type, 0xA0) << i;
        EXPECT_EQ(view.header.length, 8 + 4 + sizes[i]) << i;
        EXPECT_EQ(tp_word(segments[i]), std::make_pair(offsets[i], i < 2)) << i;
        EXPECT_EQ(Bytes(segments[i].begin() + 16, segments[i].begin() + 20), tp_bytes[i]) << i;
    }

    Tp_reassembler reassembler;
    Reassembled out;
    EXPECT_EQ(reassembler.add(1, view_of(segments[0]), t0, out), Tp_result::incomplete);
    EXPECT_EQ(reassembler.add(1, view_of(segments[1]), t0, out), Tp_result::incomplete);
    ASSERT_EQ(reassembler.add(1, view_of(segments[2]), t0, out), Tp_result::complete);
    Header expected = response_header();
    expected.length = 8 + 4096;
    EXPECT_EQ(out.header, expected);
    EXPECT_EQ(out.payload, payload);
    EXPECT_EQ(reassembler.in_progress(), 0u);
}

TEST(Tp_segmenter, segments_only_above_1392_bytes) {
    const struct {
        std::size_t size;
        std::size_t datagrams;
    } cases[] = {{0, 1}, {1392, 1}, {1393, 2}, {2784, 2}, {2785, 3}, {65536, 48}};
    for (const auto& c : cases) {
        const Bytes payload = pattern(c.size);
        const auto datagrams = segment_message(response_header(), payload.data(), payload.size());
        EXPECT_EQ(datagrams.size(), c.datagrams) << c.size;
        EXPECT_EQ(view_of(datagrams[0]).header.is_tp(), c.datagrams > 1) << c.size;
    }
}

// A 3-segment message (1392 + 1392 + 16 bytes) sent in a hostile way: what arrives whole,
// and which counter each dropped segment lands in.
TEST(Tp_reassembler, hostile_segment_sequences_are_dropped_and_counted) {
    const Bytes payload = pattern(2800);
    const auto good = segment_message(response_header(), payload.data(), payload.size());
    ASSERT_EQ(good.size(), 3u);
    const auto with = [&](std::size_t index, const std::function<void(Bytes&)>& change) {
        Bytes bytes = good.at(index);
        change(bytes);
        return bytes;
    };
    const auto set_word = [](std::uint32_t word) {
        return [word](Bytes& b) { patch_u32(b, 16, word); };
    };
    const auto cut = [](std::size_t keep) {
        return [keep](Bytes& b) {
            b.resize(keep);
            patch_u32(b, 4, static_cast<std::uint32_t>(keep - 8));
        };
    };
    struct Case {
        const char* name;
        std::vector<Bytes> sent;
        bool complete;
        std::uint64_t Tp_counters::*counter;
        std::uint64_t count;
    };
    const Case cases[] = {
        {"in order", {good[0], good[1], good[2]}, true, &Tp_counters::accepted, 3},
        {"duplicate", {good[0], good[1], good[1], good[2]}, true, &Tp_counters::overlapping, 1},
        {"overlapping start",
         {good[0], good[1], with(2, set_word(1392 | 0)), good[2]},
         true,
         &Tp_counters::overlapping,
         1},
        {"swapped", {good[0], good[2], good[1]}, false, &Tp_counters::out_of_order, 2},
        {"first missing", {good[1], good[2]}, false, &Tp_counters::out_of_order, 2},
        {"gap",
         {good[0], with(1, set_word((1392 + 16) | 1)), good[2]},
         false,
         &Tp_counters::out_of_order,
         2},
        {"size not a multiple of 16",
         {good[0], with(1, cut(16 + 4 + 1000)), good[2]},
         false,
         &Tp_counters::inconsistent,
         1},
        {"empty middle segment",
         {good[0], with(1, cut(20)), good[1], good[2]},
         false,
         &Tp_counters::inconsistent,
         1},
        {"no TP header",
         {good[0], with(1, cut(19)), good[1], good[2]},
         true,
         &Tp_counters::malformed,
         1},
        {"other interface version",
         {good[0], with(1, [](Bytes& b) { b[13] = 2; }), good[1], good[2]},
         false,
         &Tp_counters::inconsistent,
         1},
        {"other return code",
         {good[0], with(1, [](Bytes& b) { b[15] = 1; }), good[2]},
         false,
         &Tp_counters::inconsistent,
         1},
        {"offset beyond the limit",
         {good[0], with(1, set_word(0xFFFFFFF0 | 1)), good[2]},
         false,
         &Tp_counters::oversized,
         1},
        {"last segment beyond the limit",
         {good[0], good[1], with(2, set_word(65536))},
         false,
         &Tp_counters::oversized,
         1},
    };
    for (const auto& c : cases) {
        Tp_reassembler reassembler;
        Reassembled out;
        bool complete = false;
        for (const auto& segment : c.sent) {
            if (reassembler.add(9, view_of(segment), t0, out) == Tp_result::complete) {
                EXPECT_FALSE(complete) << c.name << ": completed twice";
                complete = true;
                EXPECT_EQ(out.payload, payload) << c.name;
            }
        }
        const Tp_counters& n = reassembler.counters();
        EXPECT_EQ(complete, c.complete) << c.name;
        EXPECT_EQ(n.*c.counter, c.count) << c.name;
        EXPECT_EQ(n.segments, n.accepted + n.dropped()) << c.name;
        EXPECT_EQ(n.started, n.completed + n.expired + n.discarded + reassembler.in_progress())
            << c.name;
    }
}

TEST(Tp_reassembler, a_message_has_2_seconds_to_complete) {
    const Bytes payload = pattern(2000);
    const auto segments = segment_message(response_header(), payload.data(), payload.size());
    for (const auto& [delay, complete] :
         {std::make_pair(milliseconds(1999), true), std::make_pair(milliseconds(2000), false)}) {
        Tp_reassembler reassembler;
        Reassembled out;
        reassembler.add(1, view_of(segments[0]), t0, out);
        EXPECT_EQ(reassembler.add(1, view_of(segments[1]), t0 + delay, out) == Tp_result::complete,
                  complete);
        EXPECT_EQ(reassembler.counters().expired, complete ? 0u : 1u);
        EXPECT_EQ(reassembler.in_progress(), 0u);
    }
    Tp_reassembler idle;
    Reassembled out;
    idle.add(1, view_of(segments[0]), t0, out);
    idle.expire(t0 + milliseconds(2000));
    EXPECT_EQ(idle.in_progress(), 0u);
    EXPECT_EQ(idle.bytes_held(), 0u);
}

TEST(Tp_reassembler, at_most_4_messages_per_sender_and_a_bounded_number_of_senders) {
    Tp_limits limits;
    limits.max_peers = 3;
    Tp_reassembler reassembler(limits);
    const Bytes payload = pattern(1500);
    const auto first_of = [&](std::uint16_t session) {
        Header header = response_header();
        header.session_id = session;
        return segment_message(header, payload.data(), payload.size()).at(0);
    };
    Reassembled out;
    for (std::uint16_t session = 1; session <= 5; ++session) {
        reassembler.add(1, view_of(first_of(session)), t0, out);
    }
    EXPECT_EQ(reassembler.in_progress(), 4u);
    EXPECT_EQ(reassembler.counters().too_many, 1u);
    reassembler.add(2, view_of(first_of(5)), t0, out);
    reassembler.add(3, view_of(first_of(5)), t0, out);
    reassembler.add(4, view_of(first_of(5)), t0, out);
    EXPECT_EQ(reassembler.in_progress(), 6u);
    EXPECT_EQ(reassembler.counters().too_many, 2u);
}

TEST(Tp_reassembler, the_message_limit_is_configurable) {
    Tp_limits limits;
    limits.max_message = 4000;
    const Bytes payload = pattern(4096);
    const auto segments = segment_message(response_header(), payload.data(), payload.size());
    Tp_reassembler reassembler(limits);
    Reassembled out;
    for (const auto& segment : segments) {
        EXPECT_NE(reassembler.add(1, view_of(segment), t0, out), Tp_result::complete);
    }
    EXPECT_EQ(reassembler.counters().oversized, 1u);
    EXPECT_EQ(reassembler.counters().discarded, 1u);
}

// Many senders each start as many large messages as they may and never finish them: what
// is held stays within the limits, and a legitimate message still arrives whole.
TEST(Tp_reassembler, a_flood_of_unfinished_messages_holds_bounded_memory) {
    Tp_reassembler reassembler;
    const Bytes big = pattern(65536);
    Header header = response_header();
    Reassembled out;
    std::size_t most = 0;
    for (std::uint64_t peer = 100; peer < 400; ++peer) {
        for (std::uint16_t session = 1; session <= 6; ++session) {
            header.session_id = session;
            auto segments = segment_message(header, big.data(), big.size());
            segments.pop_back();
            for (const auto& segment : segments) {
                reassembler.add(peer, view_of(segment), t0 + milliseconds(peer), out);
            }
        }
        most = std::max(most, reassembler.bytes_held());
    }
    const Tp_limits& limits = reassembler.limits();
    EXPECT_LE(most, limits.max_peers * limits.max_messages_per_peer * limits.max_message);
    const auto segments = segment_message(response_header(), big.data(), 4096);
    Tp_reassembler::Time later = t0 + milliseconds(5000);
    Tp_result last = Tp_result::dropped;
    for (const auto& segment : segments) {
        last = reassembler.add(1, view_of(segment), later, out);
    }
    ASSERT_EQ(last, Tp_result::complete);
    EXPECT_EQ(out.payload, Bytes(big.begin(), big.begin() + 4096));
    const Tp_counters& n = reassembler.counters();
    EXPECT_EQ(n.segments, n.accepted + n.dropped());
    EXPECT_EQ(n.started, n.completed + n.expired + n.discarded + reassembler.in_progress());
}

}  // namespace

namespace {

TEST(Read_datagram, hands_on_whole_messages_and_counts_what_forms_none) {
    Tp_reassembler reassembler;
    Datagram_counters counters;
    std::vector<Incoming_message> out;
    const auto read = [&](const Bytes& bytes) {
        read_datagram(bytes.data(), bytes.size(), 1, t0, reassembler, out, counters);
    };
    Bytes two = encode_message(response_header(), Bytes{1, 2, 3});
    const Bytes second = encode_message(response_header(), Bytes{});
    two.insert(two.end(), second.begin(), second.end());
    read(two);
    Bytes trailing = second;
    trailing.push_back(0);
    read(trailing);
    read(Bytes(15, 0));
    const Bytes big = pattern(4096);
    for (const auto& segment : segment_message(response_header(), big.data(), big.size())) {
        read(segment);
    }
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(out[3].payload, big);
    EXPECT_EQ(out[3].header.message_type, message_type::response);
    EXPECT_EQ(counters.datagrams, 6u);
    EXPECT_EQ(counters.messages, 4u);
    EXPECT_EQ(counters.malformed, 2u);
}

}  // namespace
