#include "sim/uds_router.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dmsim {
namespace {

using kem::dm::types::MetaInfo;
using kem::dm::types::UDSResponseCodeType;

struct Fake_did : kem::dm::foundation::extension::Extension_data_identifier {
    UDSResponseCodeType code = 0;
    Bytes data;
    int reads = 0;
    Bytes written;

    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    UDSResponseCodeType read(const MetaInfo&, std::vector<std::uint8_t>& response) override {
        ++reads;
        response.insert(response.end(), data.begin(), data.end());
        return code;
    }
    UDSResponseCodeType write(const MetaInfo&, std::vector<std::uint8_t>& bytes) override {
        written = bytes;
        return code;
    }
};

struct Fake_routine : kem::dm::foundation::extension::Extension_routine_control {
    std::vector<std::string> calls;  // "start 010203"

    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    UDSResponseCodeType answer(const char* name, const Bytes& request, Bytes& response) {
        calls.push_back(std::string(name) + " " + to_hex(request));
        response.push_back(0xA0);
        return request.size() < 3 ? 0x13 : 0;
    }
    UDSResponseCodeType start(Bytes& request, const MetaInfo&, Bytes& response) override {
        return answer("start", request, response);
    }
    UDSResponseCodeType stop(Bytes& request, const MetaInfo&, Bytes& response) override {
        return answer("stop", request, response);
    }
    UDSResponseCodeType request_results(Bytes& request, const MetaInfo&, Bytes& response) override {
        return answer("results", request, response);
    }
};

class Router : public ::testing::Test {
  protected:
    Router() {
        vin.data = parse_hex("5A554E");
        status.data = {0x01};
    }
    std::string ask(const char* request) {
        const Uds_router router({{0xF190, &vin}, {0x0102, &status}}, {{0x0300, &routine}});
        return to_hex(router.answer(parse_hex(request), {}).response, ' ');
    }

    Fake_did vin;
    Fake_did status;
    Fake_routine routine;
};

TEST_F(Router, ReadsEveryDidInOrder) {
    EXPECT_EQ(ask("22 F190"), "62 F1 90 5A 55 4E");
    EXPECT_EQ(ask("22 0102 F190 0102"), "62 01 02 01 F1 90 5A 55 4E 01 02 01");
}

TEST_F(Router, ReadFailuresAndLengthsGiveNegativeResponses) {
    EXPECT_EQ(ask("22"), "7F 22 13");
    EXPECT_EQ(ask("22 F1"), "7F 22 13");
    EXPECT_EQ(ask("22 F190 01"), "7F 22 13");
    // DIDs not served are left out; only a request with none served is refused.
    EXPECT_EQ(ask("22 1234 F190 4321"), "62 F1 90 5A 55 4E");
    EXPECT_EQ(ask("22 1234 4321"), "7F 22 31");
    vin.reads = 0;
    // The first failing read decides; later DIDs are not read.
    status.code = 0x22;
    vin.code = 0x33;
    EXPECT_EQ(ask("22 0102 F190"), "7F 22 22");
    EXPECT_EQ(vin.reads, 0);
}

TEST_F(Router, MultiDidReadsAreBoundedInCountAndAnswerSize) {
    const Uds_router router({{0xF190, &vin}, {0x0102, &status}}, {}, Read_limits{3, 10});
    const auto ask_limited = [&](const char* request) {
        return to_hex(router.answer(parse_hex(request), {}).response, ' ');
    };
    EXPECT_EQ(ask_limited("22 0102 0102 0102"), "62 01 02 01 01 02 01 01 02 01");
    EXPECT_EQ(ask_limited("22 0102 0102 0102 0102"), "7F 22 13");
    // 62 + F190 + 3 bytes + 0102 + 1 byte is 9 bytes; a second VIN (11) does not fit in 10.
    EXPECT_EQ(ask_limited("22 F190 0102"), "62 F1 90 5A 55 4E 01 02 01");
    EXPECT_EQ(ask_limited("22 F190 F190"), "7F 22 14");
}

TEST_F(Router, WritePassesTheDataAfterTheDid) {
    EXPECT_EQ(ask("2E F190 AA BB"), "6E F1 90");
    EXPECT_EQ(vin.written, parse_hex("AABB"));
    EXPECT_EQ(ask("2E F190"), "7F 2E 13");
    EXPECT_EQ(ask("2E 1234 00"), "7F 2E 31");
    vin.code = 0x72;
    EXPECT_EQ(ask("2E F190 00"), "7F 2E 72");
}

TEST_F(Router, RoutineControlMapsSubFunctionsAndPassesOptionBytes) {
    EXPECT_EQ(ask("31 01 0300 010203"), "71 01 03 00 A0");
    EXPECT_EQ(ask("31 02 0300 FFFFFF"), "71 02 03 00 A0");
    EXPECT_EQ(ask("31 03 0300 000000 44"), "71 03 03 00 A0");
    EXPECT_EQ(routine.calls,
              (std::vector<std::string>{"start 010203", "stop FFFFFF", "results 00000044"}));
    EXPECT_EQ(ask("31 01 0300 01"), "7F 31 13");  // the extension's own code
    EXPECT_EQ(ask("31 01 03"), "7F 31 13");
    EXPECT_EQ(ask("31 04 0300"), "7F 31 12");
    EXPECT_EQ(ask("31 81 0300"), "7F 31 12");
    EXPECT_EQ(ask("31 01 0301"), "7F 31 31");
    EXPECT_EQ(routine.calls.size(), 4u);
}

TEST_F(Router, OtherServicesAreNotSupported) {
    EXPECT_EQ(ask("19 02"), "7F 19 11");
    EXPECT_EQ(ask("62 F190"), "7F 62 11");
    EXPECT_EQ(ask(""), "");
}

}  // namespace
}  // namespace dmsim
