#include "sim/vehicle/profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace dmsim {
namespace {

const Service_profile& entry(const Vehicle_profile& profile, Service_kind kind, std::uint16_t id) {
    for (const Service_profile& service : profile.services) {
        if (service.service->kind == kind && service.service->identifier == id) {
            return service;
        }
    }
    throw std::logic_error("no such service");
}

const Answer& answer(const Vehicle_profile& profile, Service_kind kind, std::uint16_t id,
                     const char* method) {
    const Service_profile& service = entry(profile, kind, id);
    return service.answers.at(service.service->method(method)->id);
}

Bytes hex(const char* text) {
    return parse_hex(text);
}

TEST(Profile, EncodesValuesByTheRecordLayout) {
    const Vehicle_profile profile = parse_profile(R"({
        "dids": {
            "F190": {"Read": {"values": ["5A554E31444D3553583052303030303432"]}},
            "01af": {"Read": {"values": [1, 515, "AA BB"]}},
            "0411": {"Read": {"values": [255, 65535, "000102030405060708090A0B", 4294967295]}}
        },
        "routines": {"0254": {"Start": {"values": [1, 2, 3, 4660, ""]}}}
    })",
                                                  "p.json");
    EXPECT_EQ(answer(profile, Service_kind::did, 0xF190, "Read").payload,
              hex("00000011 5A554E31444D3553583052303030303432"));
    EXPECT_EQ(answer(profile, Service_kind::did, 0x01AF, "Read").payload,
              hex("01 0203 00000002 AABB"));
    EXPECT_EQ(answer(profile, Service_kind::did, 0x0411, "Read").payload,
              hex("FF FFFF 0000000C 000102030405060708090A0B FFFFFFFF"));
    EXPECT_EQ(answer(profile, Service_kind::routine, 0x0254, "Start").payload,
              hex("01 02 03 1234 00000000"));
}

TEST(Profile, EveryOtherAnswerKind) {
    const Vehicle_profile profile = parse_profile(R"({
        "$schema": "vehicle.schema.json", "_note": "ignored", "instance": "rig",
        "dids": {
            "0102": {"_why": "x", "Read": {"payload": "07", "return_code": 1}},
            "0261": {"Read": {"payload": "00 01"}},
            "0448": {"Read": {"error": [34]}, "Cancel": {"no_response": true}},
            "17F2": {"Read": {"return_code": 255, "delay_ms": 250}},
            "1188": {"offered": false}
        },
        "routines": {"0300": {"Start": {"error": "112233"}, "Stop": {}}}
    })",
                                                  "p.json");
    EXPECT_EQ(profile.instance, "rig");
    const Answer& raw = answer(profile, Service_kind::did, 0x0102, "Read");
    EXPECT_EQ(raw.return_code, 1);
    EXPECT_EQ(raw.payload, hex("07"));
    EXPECT_EQ(answer(profile, Service_kind::did, 0x0261, "Read").payload, hex("0001"));
    const Answer& error = answer(profile, Service_kind::did, 0x0448, "Read");
    EXPECT_EQ(error.return_code, 2);
    EXPECT_EQ(error.payload, hex("22"));
    EXPECT_FALSE(answer(profile, Service_kind::did, 0x0448, "Cancel").respond);
    const Answer& late = answer(profile, Service_kind::did, 0x17F2, "Read");
    EXPECT_EQ(late.return_code, 255);
    EXPECT_TRUE(late.payload.empty());
    EXPECT_EQ(late.delay, std::chrono::milliseconds(250));
    EXPECT_FALSE(entry(profile, Service_kind::did, 0x1188).offered);
    EXPECT_EQ(answer(profile, Service_kind::routine, 0x0300, "Start").payload, hex("112233"));
    // An empty answer and everything left out: a record of zeros, at once.
    EXPECT_EQ(answer(profile, Service_kind::routine, 0x0300, "Stop").payload, hex("00"));
    const Answer& left_out = answer(profile, Service_kind::did, 0x0189, "Read");
    EXPECT_TRUE(left_out.respond);
    EXPECT_EQ(left_out.payload.size(), 1u + 52 * 12);
    EXPECT_EQ(answer(profile, Service_kind::did, 0x01AF, "Read").payload, hex("00 0000 00000000"));
}

// The rules by example, in the table that the JSON Schema's test reads too.
TEST(Profile, RejectsWhatDoesNotFitWithFileAndPlace) {
    std::ifstream table(BAD_PROFILES);
    ASSERT_TRUE(table) << BAD_PROFILES;
    int cases = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto first = line.find(" <= ");
        const auto second = line.find(" <= ", first + 4);
        ASSERT_NE(second, std::string::npos) << line;
        const std::string message = line.substr(first + 4, second - first - 4);
        const std::string text = line.substr(second + 4);
        ++cases;
        if (line.rfind("accepted", 0) == 0) {
            EXPECT_NO_THROW(parse_profile(text, "p.json")) << text;
            continue;
        }
        try {
            parse_profile(text, "p.json");
            ADD_FAILURE() << "accepted " << text;
        } catch (const Profile_error& e) {
            const std::string what = e.what();
            EXPECT_EQ(what.rfind("p.json: ", 0), 0u) << what;
            EXPECT_NE(what.find(message), std::string::npos) << text << "\n  -> " << what;
            // The record's layout appears once in a message, if at all.
            const auto output = what.find("output");
            EXPECT_TRUE(output == std::string::npos ||
                        (what.find("output", output + 1) == std::string::npos &&
                         what.find("expected") == std::string::npos))
                << what;
        }
    }
    EXPECT_GE(cases, 50);
}

TEST(Profile, UnreadableFileIsAProfileError) {
    EXPECT_THROW(load_profile_file("/nonexistent/vehicle.json"), Profile_error);
    EXPECT_THROW(load_profile_file("/"), Profile_error);
}

// The built-in profile is the example the README points to: it uses every kind of answer.
TEST(Profile, BuiltInServesEveryIdentifierAndShowsEveryAnswerKind) {
    EXPECT_EQ(parse_profile(builtin_profile_text(), builtin_profile_name).services.size(), 109u);
    const std::string text(builtin_profile_text());
    for (const char* kind : {"\"values\":", "\"payload\":", "\"error\":", "\"return_code\":",
                             "\"delay_ms\":", "\"no_response\":", "\"offered\":"}) {
        EXPECT_NE(text.find(kind), std::string::npos) << kind;
    }
}

}  // namespace
}  // namespace dmsim
