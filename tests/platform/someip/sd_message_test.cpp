#include "someip/sd_message.h"

#include <gtest/gtest.h>
#include <tuple>

#include "someip/sd_packing.h"
#include "someip/sd_sessions.h"

// The SD message codec against hostile input, packing into datagrams of at most 1,416
// bytes, and the session ids and reboot flags on both sides.

namespace {

using namespace platform::runtime::someip;

const Ipv4_endpoint vehicle{{127, 0, 0, 2}, 30501, l4_protocol::udp};

// Type, option runs (index, index, count, count), service, instance, major, TTL, minor.
Sd_entry offer_of(std::uint16_t service_id) {
    return {entry_type::offer_service, 0, 0, 1, 0, service_id, 1, 1, 3, 0};
}

Sd_message one_offer() {
    return {sd_flag::reboot | sd_flag::unicast,
            {offer_of(0x0102)},
            {Sd_option::ipv4_endpoint(vehicle)}};
}

TEST(Sd_message, an_offer_has_the_expected_bytes_and_decodes_back) {
    const Bytes bytes = encode_sd(one_offer(), 5);
    const Bytes expected{
        0xFF, 0xFF, 0x81, 0x00, 0x00, 0x00, 0x00, 0x30,  // message id, length 48
        0x00, 0x00, 0x00, 0x05, 0x01, 0x01, 0x02, 0x00,  // client 0, session 5, NOTIFICATION
        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,  // reboot + unicast, entries: 16
        0x01, 0x00, 0x00, 0x10, 0x01, 0x02, 0x00, 0x01,  // offer, run 0 x1, service, instance
        0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00,  // major 1, TTL 3, minor 0
        0x00, 0x00, 0x00, 0x0C,                          // options: 12
        0x00, 0x09, 0x04, 0x00, 127,  0,    0,    2,     // IPv4 endpoint
        0x00, 0x11, 0x77, 0x25,                          // UDP, port 30501
    };
    EXPECT_EQ(bytes, expected);
    Sd_message decoded;
    std::uint16_t session = 0;
    ASSERT_EQ(decode_sd(bytes.data(), bytes.size(), decoded, session), Sd_status::ok);
    EXPECT_EQ(session, 5);
    EXPECT_EQ(decoded.flags, 0xC0);
    EXPECT_EQ(decoded.entries, one_offer().entries);
    EXPECT_EQ(decoded.options.at(0).endpoint(), vehicle);
}

TEST(Sd_message, malformed_messages_are_refused_with_their_reason) {
    const Bytes good = encode_sd(one_offer(), 1);
    // Offsets in `good`: length at 4, entries length at 20, the entry's option run at 25
    // and counts at 27, options length at 40, the option's length at 44. Each case sets
    // bytes, then cuts or pads to `size` with the length field following.
    const std::size_t n = good.size();
    using S = Sd_status;
    const std::tuple<const char*, std::size_t, std::vector<std::pair<std::size_t, std::uint8_t>>,
                     Sd_status>
        cases[] = {
            {"empty", 0, {}, S::too_short},
            {"header only", 16, {}, S::too_short},
            {"length beyond the datagram", n, {{7, 49}}, S::bad_length},
            {"other method", n, {{3, 0x01}}, S::not_sd},
            {"REQUEST", n, {{14, 0x00}}, S::not_sd},
            {"interface version 2", n, {{13, 2}}, S::not_sd},
            {"protocol version 2", n, {{12, 2}}, S::not_sd},
            {"entries length 15", n, {{23, 15}}, S::bad_entries},
            {"entries length beyond", n, {{23, 48}}, S::bad_entries},
            {"entries length 0xFFFFFFF0",
             n,
             {{20, 0xFF}, {21, 0xFF}, {22, 0xFF}, {23, 0xF0}},
             S::bad_entries},
            {"options length beyond", n, {{43, 13}}, S::bad_options},
            {"options length missing", 24, {{23, 0}}, S::too_short},
            {"bytes after the options", n + 1, {}, S::bad_length},
            {"option runs past its array", n, {{45, 10}}, S::bad_option},
            {"endpoint option of length 8", n - 1, {{45, 8}, {43, 11}}, S::bad_option},
            {"first run index beyond", n, {{25, 1}}, S::bad_option_index},
            {"first run count beyond", n, {{27, 0x20}}, S::bad_option_index},
            {"second run beyond", n, {{26, 1}, {27, 0x11}}, S::bad_option_index},
            {"second run index 255", n, {{26, 0xFF}, {27, 0x11}}, S::bad_option_index},
            // Unknown option types are kept for the entries to skip; index 0 with count 0 is no
            // run.
            {"unknown option type", n, {{46, 0x01}, {26, 0x07}}, S::ok},
        };
    for (const auto& [name, size, set, status] : cases) {
        Bytes bytes = good;
        for (const auto& [at, value] : set) {
            bytes[at] = value;
        }
        if (size != n) {
            bytes.resize(size);
            if (size >= 8) {
                patch_u32(bytes, 4, static_cast<std::uint32_t>(size - 8));
            }
        }
        Sd_message message;
        std::uint16_t session = 0;
        EXPECT_EQ(decode_sd(bytes.data(), bytes.size(), message, session), status) << name;
        if (status == S::ok) {
            EXPECT_FALSE(message.options.at(0).endpoint());
        }
    }
}

TEST(Sd_packing, offering_109_services_takes_several_messages_of_at_most_1416_bytes) {
    for (const bool shared : {true, false}) {
        std::vector<Sd_outgoing_entry> outgoing_entries;
        for (std::uint16_t id = 1; id <= 109; ++id) {
            Ipv4_endpoint endpoint = vehicle;
            endpoint.port = static_cast<std::uint16_t>(shared ? 30501 : 40000 + id);
            outgoing_entries.push_back({offer_of(id), {Sd_option::ipv4_endpoint(endpoint)}});
        }
        Sd_writer writer;
        const auto datagrams = writer.write({std::nullopt, outgoing_entries});
        EXPECT_GE(datagrams.size(), 2u) << shared;
        std::uint16_t next_id = 1;
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            const Bytes& bytes = datagrams[i];
            EXPECT_LE(bytes.size(), max_sd_message);
            Sd_message message;
            std::uint16_t session = 0;
            ASSERT_EQ(decode_sd(bytes.data(), bytes.size(), message, session), Sd_status::ok);
            EXPECT_EQ(session, i + 1);
            EXPECT_EQ(message.flags, sd_flag::reboot | sd_flag::unicast);
            if (shared) {
                EXPECT_EQ(message.options.size(), 1u);
            }
            for (const auto& entry : message.entries) {
                EXPECT_EQ(entry.service_id, next_id);
                const auto options = message.options_of(entry);
                ASSERT_EQ(options.size(), 1u);
                EXPECT_EQ(options[0]->endpoint()->port, shared ? 30501 : 40000 + next_id);
                ++next_id;
            }
        }
        EXPECT_EQ(next_id, 110) << "every entry sent once, in order";
    }
}

TEST(Sd_sessions, each_destination_counts_on_its_own_and_the_reboot_flag_clears_on_wrap) {
    Sd_writer writer;
    const Ipv4_endpoint peer{{127, 0, 0, 1}, 30490};
    const auto session_of = [](const Bytes& bytes) { return bytes.at(10) << 8 | bytes.at(11); };
    const Sd_send multicast{std::nullopt, {{offer_of(1), {}}}};
    const Sd_send unicast{peer, {{offer_of(1), {}}}};
    EXPECT_EQ(session_of(writer.write(multicast).at(0)), 1);
    EXPECT_EQ(session_of(writer.write(multicast).at(0)), 2);
    EXPECT_EQ(session_of(writer.write(unicast).at(0)), 1);
    EXPECT_EQ(session_of(writer.write(multicast).at(0)), 3);

    Sd_session_book book;
    for (int i = 1; i <= 0xFFFF; ++i) {
        const Sd_stamp stamp = book.next(std::nullopt);
        ASSERT_TRUE(stamp.reboot);
        ASSERT_EQ(stamp.session_id, i);
    }
    const Sd_stamp wrapped = book.next(std::nullopt);
    EXPECT_EQ(wrapped.session_id, 1);
    EXPECT_FALSE(wrapped.reboot);
    EXPECT_TRUE(book.next(peer).reboot);

    Sd_session_book small(2);
    for (std::uint16_t port = 1; port <= 50; ++port) {
        small.next(Ipv4_endpoint{{10, 0, 0, 1}, port});
    }
    EXPECT_LE(small.peers(), 2u);
}

TEST(Reboot_detector, a_set_flag_after_a_clear_one_or_a_session_that_does_not_grow) {
    const Ipv4_endpoint sender{{127, 0, 0, 2}, 30490};
    // Unicast or multicast, reboot flag, session id, and whether that means a reboot.
    const std::tuple<bool, bool, std::uint16_t, bool> steps[] = {
        {false, true, 1, false},        // first message
        {false, true, 2, false},        // counting up after start
        {false, true, 2, true},         // same session again with the flag
        {false, true, 3, false},        //
        {true, true, 1, false},         // unicast is followed apart
        {false, false, 1, false},       // wrapped: flag clear
        {false, false, 0xFFFF, false},  // ids without the flag never mean a reboot
        {false, true, 0x9000, true},    // flag set again
        {true, true, 1, true},          // unicast session back to 1
    };
    Reboot_detector detector;
    for (const auto& [unicast, reboot, session, rebooted] : steps) {
        EXPECT_EQ(detector.observe(sender, unicast, reboot, session), rebooted) << session;
    }
    Reboot_detector small(4);
    for (std::uint16_t port = 1; port <= 100; ++port) {
        small.observe(Ipv4_endpoint{{10, 0, 0, 1}, port}, false, true, 1);
    }
    EXPECT_LE(small.senders(), 4u);
}

}  // namespace
