// The output lines of the simulator (answers, errors, trace, log) and its input lines.

#include "sim/cli/report.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <thread>
#include <vector>

#include "sim/cli/someip_setup.h"
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

// What --someip says when services are still missing after the wait: which, the SD traffic
// seen, and the hint that fits it; and the counts of the summary at exit.
TEST(Report, ServicesMissingAfterTheWaitAndTheCountsAtExit) {
    platform::runtime::Someip_report report;
    report.searched = 5;
    report.found = 1;
    report.missing = {"a::d_0102::A", "a::d_0103::B", "a::r_0300::C", "D"};
    platform::runtime::Someip_settings settings;
    const auto text = [&] {
        return missing_services_text(report, settings, std::chrono::milliseconds(3000));
    };
    const struct {
        std::uint64_t sd_messages, other_version;
        std::vector<std::array<std::uint8_t, 4>> peers;
        std::vector<std::string> expected;
    } cases[] = {
        {0,
         0,
         {},
         {"no SD message came from another host (SD port 30490, group 224.244.224.245)",
          "ip route add 224.0.0.0/4", "--sd-peer ADDRESS"}},
        {0, 0, {{10, 0, 0, 2}, {10, 0, 0, 3}}, {"peers 10.0.0.2, 10.0.0.3", "their --sd-peer"}},
        {7,
         2,
         {},
         {"7 messages, offers from 127.0.0.2, 2 offers of searched services with another",
          "deployments differ"}},
        {7, 0, {}, {"offers from 127.0.0.2\n", "no host seen offers them"}},
    };
    report.offer_senders = {"127.0.0.2"};
    for (const auto& c : cases) {
        report.sd_messages = c.sd_messages;
        report.offers_other_version = c.other_version;
        settings.sd_peers = c.peers;
        EXPECT_EQ(text().rfind("dmsim: 4 of 5 services not found after 3000 ms: d_0102::A, "
                               "d_0103::B, r_0300::C and 1 more\n",
                               0),
                  0u)
            << text();
        for (const std::string& part : c.expected) {
            EXPECT_NE(text().find(part), std::string::npos) << part << " in\n" << text();
        }
    }
    EXPECT_EQ(someip_counts(report), "found=1/5, sd_messages=7");
    report.found = 5;
    report.counters = {{"tp_timeout", 1}, {"short_datagram", 3}};
    EXPECT_EQ(text(), "");
    EXPECT_EQ(someip_counts(report), "found=5/5, sd_messages=7, tp_timeout=1, short_datagram=3");
}

}  // namespace
}  // namespace dmsim
