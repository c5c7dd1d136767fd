// The output lines of the simulator (answers, errors, trace, log) and its input lines.

#include "sim/cli/report.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <thread>
#include <vector>

#include "sim/io/line_reader.h"
#include "sim/io/log_sink.h"
#include "sim/io/trace.h"
#include "sim/io/utc_time.h"

namespace dmsim {
namespace {

using std::chrono::microseconds;

TEST(Report, TextAndJsonOfAnswersAndOfLinesThatAreNotRequests) {
    const Outcome answered{{0x62, 0xF1, 0x90, 0x41}, false};
    const Outcome cancelled{{}, true};
    EXPECT_EQ(text_line({0x22, 0xF1, 0x90}, answered), "22 F1 90 -> 62 F1 90 41");
    EXPECT_EQ(json_line({0x22, 0xF1, 0x90}, answered, microseconds(812)),
              R"({"request":"22F190","response":"62F19041","elapsed_us":812})");
    EXPECT_EQ(text_line({0x31, 0x02}, cancelled), "31 02 -> cancelled, no response");
    EXPECT_EQ(json_line({0x31, 0x02}, cancelled, microseconds(3)),
              R"({"request":"3102","cancelled":true,"elapsed_us":3})");
    EXPECT_EQ(text_error_line("22 G1", "bad"), "22 G1 -> error: bad");
    EXPECT_EQ(json_error_line("say \"hi\"", "bad"), R"({"request":"say \"hi\"","error":"bad"})");
    // Invalid UTF-8 from standard input must not stop the output.
    EXPECT_EQ(json_error_line("\xFF", "bad"), "{\"request\":\"\xEF\xBF\xBD\",\"error\":\"bad\"}");
}

// 2026-01-02T03:04:05.000006Z
const auto stamp =
    std::chrono::system_clock::time_point(std::chrono::seconds(1767323045)) + microseconds(6);

TEST(Report, TraceAndLogLinesCarryTheTimeAndNames) {
    EXPECT_EQ(utc_time(stamp), "2026-01-02T03:04:05.000006Z");
    const std::string service = "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus";
    const std::string instance = "diag";
    const Bytes request{0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(trace_line({service, instance, 1, "Read", request}, stamp),
              R"({"time":"2026-01-02T03:04:05.000006Z","service":")" + service +
                  R"(","instance":"diag","method":1,"method_name":"Read","request":"00000000"})");
    EXPECT_NE(trace_line({service, instance, 7, nullptr, request}, stamp)
                  .find(R"("method":7,"method_name":null)"),
              std::string::npos);

    // jsonl keeps a rendered incident byte for byte and quotes any other text.
    const std::string incident = R"({"2_b":1,"1_a":{"x":[1,2]}})";
    using platform::ara_log::Message;
    const Message document{ara::log::LogLevel::kDebug, "DIAG", incident};
    EXPECT_EQ(log_line(document, Log_format::text, stamp), "debug " + incident);
    EXPECT_EQ(
        log_line(document, Log_format::jsonl, stamp),
        R"({"time":"2026-01-02T03:04:05.000006Z","level":"debug","incident":)" + incident + "}");
    for (const char* text : {"rendering failed: \"x\"", "{\"cut\":", "{}\n{}", "\xFF"}) {
        const std::string line =
            log_line({ara::log::LogLevel::kError, "DIAG", text}, Log_format::jsonl, stamp);
        const auto parsed = nlohmann::json::parse(line);
        EXPECT_TRUE(parsed["incident"].is_string()) << line;
        EXPECT_EQ(parsed["level"], "error");
    }
}

// Lines come whole however the input is split; a line beyond the limit keeps its start
// only, and the one after it is read as usual.
TEST(Line_reader, KeepsLinesWithinItsLimit) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string input = "22 F1 90\r\n" + std::string(200'000, 'A') + "\n\n3E 00";
    std::thread writer([&] {
        for (std::size_t at = 0; at < input.size(); at += 70'000) {
            const std::string part = input.substr(at, 70'000);
            ASSERT_EQ(write(fds[1], part.data(), part.size()), static_cast<ssize_t>(part.size()));
        }
        close(fds[1]);
    });
    Line_reader reader(fds[0], 16);
    std::vector<std::string> lines;
    while (const auto line = reader.next()) {
        lines.push_back(line->text + (line->cut ? "|cut" : ""));
    }
    writer.join();
    close(fds[0]);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"22 F1 90", std::string(16, 'A') + "|cut", "", "3E 00"}));
}

}  // namespace
}  // namespace dmsim
