#include "platform/ara_log/dlt_sink.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ara_log/control.h"
#include "platform/dlt_daemon.h"

// The DLT sink against a real daemon of our own: what dlt-receive shows is what the sink
// was given. The DLT library reads its environment once per process, so each test with a
// daemon runs in a process of its own (as CTest runs them); a second one in the same
// process skips.

namespace {

using namespace std::chrono_literals;
using ara::log::LogLevel;
using dlt_test::Dlt_daemon;
using dlt_test::Dlt_reader;
using platform::ara_log::split_text;

// The parts as dlt-receive would print them, joined by the shipped dlt-join.awk.
std::string join(const std::vector<std::string>& parts) {
    const std::string received =
        (std::filesystem::temp_directory_path() / ("dlt-split-" + std::to_string(::getpid())))
            .string();
    {
        std::ofstream out(received, std::ios::binary);
        for (const auto& part : parts) {
            out << "2026/01/01 10:00:00.000000 1 000 ECU1 APP- CTX- log info V 1 [" << part
                << "]\n";
        }
    }
    const auto joined = dlt_test::join_with_script(received, "APP");
    std::filesystem::remove(received);
    return joined.size() == 1 ? joined[0].substr(5)
                              : "<" + std::to_string(joined.size()) + " lines>";
}

TEST(Dlt_split, long_texts_go_in_numbered_parts_within_the_limit_that_join_to_the_text) {
    EXPECT_EQ(split_text("{\"a\":1}", 64, 7), std::vector<std::string>{"{\"a\":1}"});
    EXPECT_EQ(split_text(std::string(64, 'x'), 64, 7).size(), 1u);

    // Over 1000 bytes with two- and three-byte characters in parts of 64 (the prefix grows
    // from one to two digits of n), 100 and 999 bytes.
    std::string text;
    for (int i = 0; text.size() < 1000; ++i) {
        text += std::to_string(i) + (i % 3 == 0 ? "\xC3\xA4" : "\xE2\x82\xAC");
    }
    for (std::size_t limit : {64u, 100u, 999u}) {
        const auto parts = split_text(text, limit, 4711);
        ASSERT_GT(parts.size(), 1u) << limit;
        EXPECT_EQ(parts.front().rfind("#4711 1/" + std::to_string(parts.size()) + " ", 0), 0u);
        for (const auto& part : parts) {
            EXPECT_LE(part.size(), limit);
            const std::string piece = part.substr(part.find(' ', part.find(' ') + 1) + 1);
            EXPECT_NE(static_cast<unsigned char>(piece.front()) & 0xC0, 0x80)
                << "piece starts inside a character";
        }
        EXPECT_EQ(join(parts), text) << limit;
    }
    // A text that a reader would take for a part is wrapped even though it fits.
    const auto wrapped = split_text("#1 1/2 not a part", 64, 3);
    EXPECT_EQ(wrapped, std::vector<std::string>{"#3 1/1 #1 1/2 not a part"});
    EXPECT_EQ(join(wrapped), "#1 1/2 not a part");
}

// Each test process may initialise the DLT library once.
bool first_dlt_user_in_this_process() {
    static bool used = false;
    return !std::exchange(used, true);
}

struct Threshold_restore {
    LogLevel previous = platform::ara_log::threshold();
    ~Threshold_restore() {
        platform::ara_log::set_sink(nullptr);
        platform::ara_log::set_threshold(previous);
    }
};

void log_at(LogLevel level, const std::string& text) {
    static ara::log::Logger& logger = ara::log::CreateLogger("TEST", "DLT sink tests");
    ara::log::LogStream(level, logger) << text;
}

TEST(Dlt_sink, levels_map_one_to_one_and_the_dlt_context_follows_the_threshold) {
    if (!first_dlt_user_in_this_process()) {
        GTEST_SKIP() << "the DLT library is already initialised in this process";
    }
    Dlt_daemon daemon;
    daemon.start();
    daemon.point_environment();
    Dlt_reader reader(daemon);
    Threshold_restore restore;

    // Registered at warn, below the daemon's default of info.
    platform::ara_log::set_threshold(LogLevel::kWarn);
    auto sink = std::make_shared<platform::ara_log::Dlt_sink>("LVL", "DIAG");
    platform::ara_log::set_sink(sink);
    // Written to the sink directly, past ara::log: DLT itself drops what the threshold drops.
    sink->write({LogLevel::kInfo, "TEST", "below the threshold"});
    log_at(LogLevel::kWarn, "at warn");

    platform::ara_log::set_threshold(LogLevel::kVerbose);
    const std::vector<std::pair<LogLevel, std::string>> levels = {
        {LogLevel::kFatal, "fatal"}, {LogLevel::kError, "error"}, {LogLevel::kWarn, "warn"},
        {LogLevel::kInfo, "info"},   {LogLevel::kDebug, "debug"}, {LogLevel::kVerbose, "verbose"}};
    for (const auto& [level, name] : levels) {
        log_at(level, "line at " + name);
    }
    const auto got = reader.wait_for("LVL", 7);
    ASSERT_EQ(got.size(), 7u) << dlt_test::read_file(daemon.directory() + "/daemon.log");
    EXPECT_EQ(got[0].level, "warn");
    EXPECT_EQ(got[0].text, "at warn");
    for (std::size_t i = 0; i < levels.size(); ++i) {
        EXPECT_EQ(got[i + 1].context, "DIAG");
        EXPECT_EQ(got[i + 1].level, levels[i].second);
        EXPECT_EQ(got[i + 1].text, "line at " + levels[i].second);
    }
}

// Lines written before the daemon starts, the parts of a long one included, are kept by
// the library and arrive with the later ones.
TEST(Dlt_sink, without_a_daemon_it_says_so_once_and_a_later_daemon_gets_the_lines) {
    if (!first_dlt_user_in_this_process()) {
        GTEST_SKIP() << "the DLT library is already initialised in this process";
    }
    Dlt_daemon daemon;  // not started yet
    daemon.point_environment();
    Threshold_restore restore;
    platform::ara_log::set_threshold(LogLevel::kInfo);

    testing::internal::CaptureStderr();
    auto sink = std::make_shared<platform::ara_log::Dlt_sink>("LATE", "DIAG");
    platform::ara_log::set_sink(sink);
    std::string large;
    for (int i = 0; large.size() < 20000; ++i) {
        large += std::to_string(i) + ",";
    }
    log_at(LogLevel::kInfo, large);
    log_at(LogLevel::kInfo, "before the daemon");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("no DLT daemon"), said.rfind("no DLT daemon")) << said;
    EXPECT_NE(said.find("no DLT daemon reads " + daemon.directory() + "/dlt"), std::string::npos)
        << said;

    daemon.start();
    Dlt_reader reader(daemon);
    // The library attaches to the daemon on a later write (bounded).
    std::vector<std::string> lines;
    auto arrived = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), "info " + text) != lines.end();
    };
    for (int i = 0; i < 50 && !arrived("after the daemon"); ++i) {
        log_at(LogLevel::kInfo, "after the daemon");
        reader.wait_for("LATE", SIZE_MAX, 100ms);
        lines = reader.joined("LATE");
    }
    EXPECT_TRUE(arrived("after the daemon"));
    EXPECT_TRUE(arrived("before the daemon"));
    EXPECT_TRUE(arrived(large));
}

}  // namespace
