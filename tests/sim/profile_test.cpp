#include "sim/profile.h"

#include <gtest/gtest.h>

#include <set>
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

TEST(Profile, RejectsWhatDoesNotFitWithFileAndPlace) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"{", "p.json: not valid JSON: "},
        {"6E666",
         "p.json: not valid JSON: "},  // beyond a double: out_of_range, kept as a regression
        {"[]", "p.json: the profile must be a JSON object, found array"},
        {R"({"vehicle": 1})", "p.json: vehicle: unknown key"},
        {R"({"instance": ""})", "p.json: instance: must be a non-empty string"},
        {R"({"doip": {"vin": "SHORT"}})", "p.json: doip.vin: expected a string of 17 characters"},
        {R"({"doip": {"eid": "0102"}})", "p.json: doip.eid: expected a hex string of 6 bytes"},
        {R"({"doip": {"logical_address": 4096}})", "doip.logical_address: expected a hex string"},
        {R"({"doip": {"port": 1}})", "p.json: doip.port: unknown key"},
        {R"({"dids": []})", "dids: must be an object keyed by identifier"},
        {R"({"dids": {"F19": {}}})", "dids.F19: an identifier is written as four hex"},
        {R"({"dids": {"GGGG": {}}})", "dids.GGGG: an identifier is written"},
        {R"({"dids": {"F190": {}, "f190": {}}})", "dids.f190: identifier listed twice"},
        {R"({"dids": {"1234": {}}})", "dids.1234: unknown data identifier"},
        {R"({"dids": {"0300": {}}})", "dids.0300: is a routine identifier"},
        {R"({"routines": {"F190": {}}})", "routines.F190: is a data identifier"},
        {R"({"routines": {"0202": {"Stop": {}}}})",
         "routines.0202.Stop: unknown method (this interface has Cancel, Start;"},
        {R"({"dids": {"F190": {"Start": {}}}})", "dids.F190.Start: unknown method"},
        {R"({"dids": {"F190": {"offered": 0}}})", "dids.F190.offered: must be true or false"},
        {R"({"dids": {"F190": {"Read": []}}})", "dids.F190.Read: must be an object"},
        {R"({"dids": {"F190": {"Read": {"value": []}}}})", "Read.value: unknown answer key"},
        {R"({"dids": {"F190": {"Read": {"values": []}}}})",
         "Read.values: expected 1 value (u8[17]), found 0"},
        {R"({"dids": {"F190": {"Read": {"values": "00"}}}})", "\"values\" must be an array"},
        {R"({"dids": {"F190": {"Read": {"values": ["00"]}}}})",
         "Read.values[0]: needs exactly 17 bytes, found 1 (u8[17]); Read output: u8[17]"},
        {R"({"dids": {"F190": {"Read": {"values": [17]}}}})", "values[0]: 17 is not a hex"},
        {R"({"dids": {"01AF": {"Read": {"values": [1, 2, "ABC"]}}}})",
         "values[2]: bad hex, odd number"},
        {R"({"dids": {"01AF": {"Read": {"values": [256, 2, ""]}}}})",
         "values[0]: 256 is out of range 0..255 (u8)"},
        {R"({"dids": {"01AF": {"Read": {"values": [-1, 2, ""]}}}})",
         "values[0]: -1 is out of range"},
        {R"({"dids": {"01AF": {"Read": {"values": [1, 65536, ""]}}}})",
         "values[1]: 65536 is out of range 0..65535 (u16)"},
        {R"({"dids": {"F189": {"Read": {"values": [4294967296]}}}})",
         "values[0]: 4294967296 is out of range 0..4294967295 (u32)"},
        {R"({"dids": {"F189": {"Read": {"values": [1.5]}}}})", "1.5 is not a whole number"},
        {R"({"dids": {"F189": {"Read": {"values": [true]}}}})", "true is not a whole number"},
        {R"({"dids": {"F189": {"Read": {"values": [18446744073709551616]}}}})",
         "is not a whole number"},
        {R"({"routines": {"0366": {"Stop": {"values": [1]}}}})",
         "expected 0 values (nothing), found 1"},
        {R"({"dids": {"F190": {"Read": {"payload": "0G"}}}})", "Read.payload: bad hex"},
        {R"({"dids": {"F190": {"Read": {"error": [300]}}}})",
         "Read.error[0]: must be a whole number 0..255"},
        {R"({"dids": {"F190": {"Read": {"error": 34}}}})", "must be an array of byte values"},
        {R"({"dids": {"F190": {"Read": {"error": []}}}})", "Read.error: needs at least one byte"},
        {R"({"dids": {"F190": {"Read": {"error": " "}}}})", "Read.error: needs at least one byte"},
        {R"({"$schema": 1})", "p.json: $schema: must be a string"},
        // The parser would keep the last of two equal keys.
        {R"({"instance": "a", "instance": "b"})", "p.json: instance: key given twice"},
        {R"({"dids": {"F190": {"Read": {}, "_c": [{"x": 1}], "Read": {}}}})",
         "p.json: dids.F190.Read: key given twice"},
        {R"({"dids": {"F190": {"_c": [{"x": 1, "x": 2}]}}})",
         "p.json: dids.F190._c[].x: key given twice"},
        {R"({"dids": {"F190": {"Read": {"return_code": -1}}}})", "Read.return_code: must be"},
        {R"({"dids": {"F190": {"Read": {"error": [1], "payload": "00"}}}})",
         "give only one of \"error\" and \"payload\""},
        {R"({"dids": {"F190": {"Read": {"error": [1], "return_code": 3}}}})",
         "\"return_code\" goes with \"payload\" only"},
        {R"({"dids": {"F190": {"Read": {"no_response": true, "delay_ms": 5}}}})",
         "\"no_response\": true never answers"},
        {R"({"dids": {"F190": {"Read": {"delay_ms": -5}}}})", "Read.delay_ms: must be a whole"},
        {R"({"dids": {"F190": {"Read": {"delay_ms": 3600001}}}})", "Read.delay_ms: must be"},
    };
    for (const Case& c : cases) {
        try {
            parse_profile(c.text, "p.json");
            ADD_FAILURE() << "accepted " << c.text;
        } catch (const Profile_error& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(c.message), std::string::npos) << c.text << "\n  -> " << what;
            EXPECT_EQ(what.rfind("p.json: ", 0), 0u) << what;
            // The record's layout appears once in a message, if at all.
            const auto output = what.find("output");
            EXPECT_TRUE(output == std::string::npos ||
                        what.find("output", output + 1) == std::string::npos)
                << what;
            EXPECT_TRUE(output == std::string::npos || what.find("expected") == std::string::npos)
                << what;
        }
    }
}

TEST(Profile, UnreadableFileIsAProfileError) {
    EXPECT_THROW(load_profile_file("/nonexistent/vehicle.json"), Profile_error);
    EXPECT_THROW(load_profile_file("/"), Profile_error);
}

TEST(Profile, BuiltInServesEveryIdentifierAndShowsEveryAnswerKind) {
    const Vehicle_profile profile = parse_profile(builtin_profile_text(), builtin_profile_name);
    ASSERT_EQ(profile.services.size(), 109u);
    const nlohmann::json text = nlohmann::json::parse(builtin_profile_text());
    EXPECT_EQ(text["dids"].size(), 83u);
    EXPECT_EQ(text["routines"].size(), 26u);
    std::set<std::string> kinds;
    for (const char* section : {"dids", "routines"}) {
        for (const auto& [id, methods] : text[section].items()) {
            for (const auto& [name, given] : methods.items()) {
                if (name == "offered") {
                    kinds.insert(name);
                } else if (given.is_object()) {
                    for (const auto& [key, value] : given.items()) {
                        kinds.insert(key);
                    }
                }
            }
        }
    }
    for (const char* kind :
         {"values", "payload", "error", "return_code", "delay_ms", "no_response", "offered"}) {
        EXPECT_EQ(kinds.count(kind), 1u) << kind;
    }
}

}  // namespace
}  // namespace dmsim
