// Failures on the way back from the application end as a general reject with nothing
// written; an application error answers its code, even 0.

#include "host/extensions.h"

#include <gtest/gtest.h>

#include "host/application.h"
#include "host/built_plugin.h"
#include "support/expected_catalogue.h"
#include "support/wire_bytes.h"

namespace {

using namespace support;
using host::Simulated_application;

TEST(Failure, data_identifier_answers) {
    const auto& entry = expected_did(0x0411);  // u8, u16, u8[12], u32
    const Bytes record = encode(entry.output, 0x05, 0).someip;
    Bytes short_array = record;  // array length field 11 where 12 are needed
    short_array[6] = 0x0B;
    const struct {
        const char* what;
        std::uint8_t code;
        Bytes payload;
        std::uint8_t expected;
    } answers[] = {
        {"transport 0x81", 0x81, {}, 0x10},
        {"not available", 0xFF, {}, 0x10},
        {"unknown code 0x83", 0x83, record, 0x10},
        {"application error without code", 2, {}, 0x10},
        {"application error with code 0", 2, {0x00}, 0},
        {"record one byte short", 0, Bytes(record.begin(), record.end() - 1), 0x10},
        {"array length below its size", 0, short_array, 0x10},
    };
    Simulated_application app(entry.service_id());
    auto did = host::connect_did(host::built_plugin(), entry.id);
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.what);
        app.answer(entry.read_method, answer.code, answer.payload);
        Bytes response{0xEE};
        EXPECT_EQ(did->read(request_meta(), response), answer.expected);
        EXPECT_EQ(response, Bytes{0xEE});
    }
}

}  // namespace
