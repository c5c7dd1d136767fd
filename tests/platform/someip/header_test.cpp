#include "someip/header.h"

#include <gtest/gtest.h>
#include <tuple>

#include "someip/return_codes.h"
#include "someip/session_counter.h"

// The SOME/IP header codec, the serving side's verdicts, the return-code mapping and the
// session counter. Several messages in one datagram: see the Read_datagram test.

namespace {

using namespace platform::runtime::someip;

// Service 0x0102, method 1, length, client 1, session 0x1234, protocol 1, interface 1.
Header request_header() {
    return {0x0102, 0x0001, 8, 0x0001, 0x1234, 1, 1};
}

TEST(Someip_header, encodes_big_endian_and_decodes_back) {
    const Bytes payload{0xAA, 0xBB, 0xCC};
    const Bytes bytes = encode_message(request_header(), payload);
    const Bytes expected{0x01, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x01,
                         0x12, 0x34, 0x01, 0x01, 0x00, 0x00, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(bytes, expected);

    Message_view view;
    ASSERT_EQ(decode_message(bytes.data(), bytes.size(), view), Decode_status::ok);
    Header header = request_header();
    header.length = 11;
    EXPECT_EQ(view.header, header);
    EXPECT_EQ(Bytes(view.payload, view.payload + view.payload_size), payload);
    EXPECT_EQ(view.size, bytes.size());
}

TEST(Someip_header, malformed_datagrams_are_reported_not_read) {
    const Bytes good = encode_message(request_header(), Bytes{1, 2, 3, 4});
    auto with_length = [&](std::uint32_t length) {
        Bytes bytes = good;
        patch_u32(bytes, 4, length);
        return bytes;
    };
    const std::pair<Bytes, Decode_status> cases[] = {
        {{}, Decode_status::too_short},
        {Bytes(good.begin(), good.begin() + 15), Decode_status::too_short},
        {with_length(7), Decode_status::bad_length},
        {with_length(13), Decode_status::bad_length},  // one past the datagram
        {with_length(0xFFFFFFFF), Decode_status::bad_length},
    };
    for (const auto& [bytes, status] : cases) {
        Message_view view;
        EXPECT_EQ(decode_message(bytes.data(), bytes.size(), view), status) << bytes.size();
    }
}

TEST(Someip_header, the_serving_side_answers_each_bad_request_with_its_error) {
    const Served_service served{1, {0, 1}};
    const Service_lookup lookup = [&](std::uint16_t id) {
        return id == 0x0102 ? &served : nullptr;
    };
    // Each case sets header bytes of a good request: service at 0, method at 2, protocol
    // version at 12, interface version at 13, message type at 14.
    using V = Request_verdict;
    const std::tuple<const char*, std::vector<std::pair<std::size_t, std::uint8_t>>,
                     Request_verdict, std::uint8_t>
        cases[] = {
            {"good", {}, V::serve, 0x00},
            {"unknown service", {{1, 0x03}}, V::answer_error, 0x02},
            {"unknown method", {{3, 2}}, V::answer_error, 0x03},
            {"wrong interface version", {{13, 2}}, V::answer_error, 0x08},
            {"protocol before service", {{12, 2}, {0, 0x09}}, V::answer_error, 0x07},
            {"NOTIFICATION", {{14, message_type::notification}}, V::drop, 0},
            {"TP segment", {{14, message_type::tp_flag}}, V::drop, 0},
        };
    for (const auto& [name, set, verdict, code] : cases) {
        Bytes bytes = encode_message(request_header(), Bytes{});
        for (const auto& [at, value] : set) {
            bytes[at] = value;
        }
        Message_view view;
        ASSERT_EQ(decode_message(bytes.data(), bytes.size(), view), Decode_status::ok);
        const Request_check check = check_request(view.header, lookup);
        EXPECT_EQ(check.verdict, verdict) << name;
        EXPECT_EQ(check.return_code, code) << name;
    }
}

TEST(Someip_header, a_reply_echoes_message_id_request_id_and_interface_version) {
    Header request = request_header();
    request.interface_version = 7;
    request.protocol_version = 3;
    Header reply = reply_header(request, message_type::error, 0x02);
    EXPECT_EQ(reply.message_id(), request.message_id());
    EXPECT_EQ(reply.request_id(), request.request_id());
    EXPECT_EQ(reply.interface_version, 7);
    EXPECT_EQ(reply.protocol_version, 1);
    EXPECT_EQ(reply.return_code, 0x02);
    EXPECT_FALSE(is_reply(request));
    reply.message_type = message_type::error | message_type::tp_flag;
    EXPECT_TRUE(is_reply(reply));
    reply.protocol_version = 2;
    EXPECT_FALSE(is_reply(reply));
}

// Handler codes 0x01-0x3E travel as ERROR 0x21-0x5E, 0x81-0x9F as ERROR 0x01-0x1F, 0 as
// RESPONSE; any other code goes as ERROR 0x01, and any other arrival becomes 0x81.
TEST(Return_codes, each_code_maps_to_the_wire_and_back_and_bad_arrivals_become_0x81) {
    for (int code = 0; code <= 0xFF; ++code) {
        const auto byte = static_cast<std::uint8_t>(code);
        const bool application = code >= 0x01 && code <= 0x3E;
        const bool generic = code >= 0x81 && code <= 0x9F;
        const Wire_code wire = to_wire(byte);
        EXPECT_EQ(wire.carried, code == 0 || application || generic) << code;
        EXPECT_EQ(wire.message_type, code == 0 ? message_type::response : message_type::error);
        EXPECT_EQ(wire.return_code, code == 0     ? 0
                                    : application ? code + 0x20
                                    : generic     ? code - 0x80
                                                  : 0x01)
            << code;
        EXPECT_EQ(from_wire(wire.message_type, wire.return_code).code, wire.carried ? byte : 0x81);

        const Handler_code response = from_wire(message_type::response, byte);
        EXPECT_EQ(response.valid, code == 0) << code;
        EXPECT_EQ(response.code, code == 0 ? 0 : 0x81) << code;
        const Handler_code error = from_wire(message_type::error, byte);
        const bool valid = (code >= 0x01 && code <= 0x1F) || (code >= 0x21 && code <= 0x5E);
        EXPECT_EQ(error.valid, valid) << code;
        EXPECT_EQ(error.code, !valid ? 0x81 : code <= 0x1F ? code + 0x80 : code - 0x20) << code;
    }
    EXPECT_FALSE(from_wire(message_type::request, 0).valid);
}

TEST(Session_counter, counts_from_1_skips_0_and_pending_ids_and_gives_0_when_all_are) {
    Session_counter counter;
    const auto pending = [](std::uint16_t id) { return id == 2 || id == 4; };
    EXPECT_EQ(counter.next(), 1);
    EXPECT_EQ(counter.next(pending), 3);
    EXPECT_EQ(counter.next(pending), 5);
    EXPECT_EQ(counter.next([](std::uint16_t) { return true; }), 0);
    EXPECT_EQ(counter.next([](std::uint16_t id) { return id != 5; }), 5);
    for (int i = 6; i < 0xFFFF; ++i) {
        counter.next();
    }
    EXPECT_EQ(counter.next(), 0xFFFF);
    EXPECT_EQ(counter.next(), 1);
}

}  // namespace
