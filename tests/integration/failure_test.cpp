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

// Which response becomes which exception is the binding's (tests/binding); here the
// extension's side of each kind of outcome.
TEST(Failure, data_identifier_answers) {
    const auto& entry = expected_did(0x0411);
    const struct {
        const char* what;
        std::uint8_t code;
        Bytes payload;
        std::uint8_t expected;
    } answers[] = {
        {"transport error", 0x81, {}, 0x10},
        {"not available", 0xFF, {}, 0x10},
        {"undecodable record", 0, encode(entry.output, 0x05, 0).uds, 0x10},
        {"application error with code 0", 2, {0x00}, 0},
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
