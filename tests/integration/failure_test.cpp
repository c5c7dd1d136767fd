// Failures on the way back from the application: transport codes, malformed records and
// malformed application errors all end as a general reject with nothing written.

#include "integration/simulated_application.h"

#include <gtest/gtest.h>

#include "integration/expected_catalogue.h"
#include "integration/plugin_host.h"
#include "integration/wire_bytes.h"

namespace integration {
namespace {

struct Answer {
    const char* what;
    std::uint8_t code;
    Bytes payload;
    std::uint8_t expected;
};

TEST(Failure, DataIdentifierResponses) {
    const auto& entry = expected_did(0x0411);  // u8, u16, u8[12], u32
    const auto values = make_values(entry.output, 0x05, 0);
    const auto record = someip_record(entry.output, values);
    Bytes short_record(record.begin(), record.end() - 1);
    Bytes short_array = record;  // array length field 11 where 12 are needed
    short_array[3 + 3] = 0x0B;
    const std::vector<Answer> answers{
        {"transport 0x81", 0x81, {}, 0x10},
        {"transport 0x82", 0x82, {}, 0x10},
        {"transport 0x86", 0x86, {}, 0x10},
        {"not available 0xff", 0xFF, {}, 0x10},
        {"unknown code 0x83", 0x83, record, 0x10},
        {"application error without code", 2, {}, 0x10},
        {"application error with code 0", 2, {0x00}, 0},
        {"application error with surplus", 2, {0x22, 0xFF}, 0x22},
        {"record one byte short", 0, short_record, 0x10},
        {"array length below its size", 0, short_array, 0x10},
        {"empty record", 0, {}, 0x10},
    };

    Simulated_application app(entry.service_id());
    auto did = connect_did(entry.id);
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.what);
        app.answer(entry.read_method(), answer.code, answer.payload);
        Bytes response{0xEE};
        EXPECT_EQ(did->read(request_meta(), response), answer.expected);
        EXPECT_EQ(response, Bytes{0xEE});
    }

    // Surplus bytes after the record are ignored.
    app.answer(entry.read_method(), 0, concat(record, {0x99, 0x98}));
    Bytes response;
    EXPECT_EQ(did->read(request_meta(), response), 0);
    EXPECT_EQ(hex(response), hex(uds_record(values)));
}

TEST(Failure, FullRoutineResponses) {
    const auto& entry = expected_rid(0x029A);  // Start u8 x3, RequestResults u8 x5, bytes
    const std::vector<Answer> answers{
        {"transport 0x81", 0x81, {}, 0x10},
        {"not available 0xff", 0xFF, {}, 0x10},
        {"application error with two codes", 2, {0x11, 0x22}, 0x10},
        {"record one byte short", 0, {0x01, 0x02}, 0x10},
    };
    Simulated_application app(entry.service_id());
    auto rid = connect_rid(entry.id);
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.what);
        app.answer(entry.start_method(), answer.code, answer.payload);
        Bytes request{0x01, 0x02};
        Bytes response{0xEE};
        EXPECT_EQ(rid->start(request, request_meta(), response), answer.expected);
        EXPECT_EQ(response, Bytes{0xEE});
    }

    // A sequence whose length field runs past the payload.
    auto results =
        someip_record(*entry.request_results, make_values(*entry.request_results, 0x01, 2));
    results[5 + 3] = 0x03;
    app.answer(entry.request_results_method(), 0, results);
    Bytes request;
    Bytes response;
    EXPECT_EQ(rid->request_results(request, request_meta(), response), 0x10);
    EXPECT_TRUE(response.empty()) << hex(response);
}

}  // namespace
}  // namespace integration
