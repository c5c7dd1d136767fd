// The UDS framing of the services the ECU passes to the extensions: 22, 2E and 31.

#include "sim/ecu/uds_router.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_extension.h"

namespace dmsim {
namespace {

class Router : public ::testing::Test {
  protected:
    Router() {
        vin.data = parse_hex("5A554E");
        status.data = {0x01};
        routine.min_request = 3;
    }
    std::string ask(const char* request, Read_limits limits = {}) {
        const Uds_router router({{0xF190, &vin}, {0x0102, &status}}, {{0x0300, &routine}}, limits);
        return to_hex(router.answer(parse_hex(request), {}).response, ' ');
    }

    support::Fake_did vin;
    support::Fake_did status;
    support::Fake_routine routine;
};

TEST_F(Router, RequestsAndTheirAnswers) {
    const struct {
        const char* request;
        const char* answer;
    } cases[] = {
        {"22 F190", "62 F1 90 5A 55 4E"},
        {"22 0102 F190 0102", "62 01 02 01 F1 90 5A 55 4E 01 02 01"},
        {"22", "7F 22 13"},
        {"22 F1", "7F 22 13"},
        {"22 F190 01", "7F 22 13"},
        // DIDs not served are left out; only a request with none served is refused.
        {"22 1234 F190 4321", "62 F1 90 5A 55 4E"},
        {"22 1234 4321", "7F 22 31"},
        {"2E F190", "7F 2E 13"},
        {"2E 1234 00", "7F 2E 31"},
        {"31 01 0300 01", "7F 31 13"},  // the extension's own code
        {"31 01 03", "7F 31 13"},
        {"31 04 0300", "7F 31 12"},
        {"31 81 0300", "7F 31 12"},
        {"31 01 0301", "7F 31 31"},
        {"19 02", "7F 19 11"},
        {"62 F190", "7F 62 11"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ask(c.request), c.answer) << c.request;
    }
    EXPECT_EQ(routine.calls, (std::vector<std::string>{"start 01"}));
}

TEST_F(Router, TheFirstFailingReadDecidesAndLaterDidsAreNotRead) {
    status.code = 0x22;
    vin.code = 0x33;
    EXPECT_EQ(ask("22 0102 F190"), "7F 22 22");
    EXPECT_EQ(vin.reads, 0);
}

TEST_F(Router, MultiDidReadsAreBoundedInCountAndAnswerSize) {
    const Read_limits limits{3, 10};
    EXPECT_EQ(ask("22 0102 0102 0102", limits), "62 01 02 01 01 02 01 01 02 01");
    EXPECT_EQ(ask("22 0102 0102 0102 0102", limits), "7F 22 13");
    // 62 + F190 + 3 bytes + 0102 + 1 byte is 9 bytes; a second VIN (11) does not fit in 10.
    EXPECT_EQ(ask("22 F190 0102", limits), "62 F1 90 5A 55 4E 01 02 01");
    EXPECT_EQ(ask("22 F190 F190", limits), "7F 22 14");
}

TEST_F(Router, WriteAndRoutineControlPassTheBytesAfterTheIdentifier) {
    EXPECT_EQ(ask("2E F190 AA BB"), "6E F1 90");
    EXPECT_EQ(vin.written, parse_hex("AABB"));
    vin.code = 0x72;
    EXPECT_EQ(ask("2E F190 00"), "7F 2E 72");
    EXPECT_EQ(ask("31 01 0300 010203"), "71 01 03 00 A0");
    EXPECT_EQ(ask("31 02 0300 FFFFFF"), "71 02 03 00 A0");
    EXPECT_EQ(ask("31 03 0300 000000 44"), "71 03 03 00 A0");
    EXPECT_EQ(routine.calls,
              (std::vector<std::string>{"start 010203", "stop FFFFFF", "results 00000044"}));
}

}  // namespace
}  // namespace dmsim
