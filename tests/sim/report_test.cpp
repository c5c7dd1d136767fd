#include "sim/report.h"

#include <gtest/gtest.h>

#include "sim/trace.h"

namespace dmsim {
namespace {

using std::chrono::microseconds;

TEST(Report, TextAndJsonOfAnAnswer) {
    const Outcome answered{{0x62, 0xF1, 0x90, 0x41}, false};
    EXPECT_EQ(text_line({0x22, 0xF1, 0x90}, answered), "22 F1 90 -> 62 F1 90 41");
    EXPECT_EQ(json_line({0x22, 0xF1, 0x90}, answered, microseconds(812)),
              R"({"request":"22F190","response":"62F19041","elapsed_us":812})");
}

TEST(Report, ACancelledRequestHasNoResponse) {
    const Outcome cancelled{{}, true};
    EXPECT_EQ(text_line({0x31, 0x02, 0x02, 0x9A}, cancelled),
              "31 02 02 9A -> cancelled, no response");
    EXPECT_EQ(json_line({0x31, 0x02, 0x02, 0x9A}, cancelled, microseconds(300000)),
              R"({"request":"3102029A","cancelled":true,"elapsed_us":300000})");
}

TEST(Report, ErrorLinesKeepTheInputEvenWhenItIsNotText) {
    EXPECT_EQ(text_error_line("22 G1", "bad"), "22 G1 -> error: bad");
    EXPECT_EQ(json_error_line("say \"hi\"", "bad"), R"({"request":"say \"hi\"","error":"bad"})");
    // Invalid UTF-8 from standard input must not stop the output.
    EXPECT_EQ(json_error_line("\xFF", "bad"), "{\"request\":\"\xEF\xBF\xBD\",\"error\":\"bad\"}");
}

TEST(Report, TraceLineNamesServiceInstanceMethodAndPayload) {
    EXPECT_EQ(trace_line("orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus",
                         "diag", 1, {0x00, 0x00, 0x00, 0x00}),
              R"({"service":"orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus",)"
              R"("instance":"diag","method":1,"request":"00000000"})");
}

}  // namespace
}  // namespace dmsim
