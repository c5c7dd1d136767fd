#include "ara/log/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "log/log_capture.h"
#include "platform/ara_log/control.h"
#include "platform/ara_log/recording_sink.h"
#include "platform/ara_log/sink.h"

namespace {

using ara::log::LogLevel;
using ara::log::LogStream;
using diag_test::Log_capture;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Ara_log, ThresholdDefaultsToWarnAndBoundsEnabledLevels) {
    EXPECT_EQ(platform::ara_log::threshold(), LogLevel::kWarn);
    ara::log::Logger logger("TEST", "threshold");
    EXPECT_TRUE(logger.IsLogEnabled(LogLevel::kFatal));
    EXPECT_TRUE(logger.IsLogEnabled(LogLevel::kWarn));
    EXPECT_FALSE(logger.IsLogEnabled(LogLevel::kInfo));
    EXPECT_FALSE(logger.IsLogEnabled(LogLevel::kOff));

    Log_capture capture(LogLevel::kVerbose);
    EXPECT_TRUE(logger.IsLogEnabled(LogLevel::kVerbose));
    EXPECT_FALSE(logger.IsLogEnabled(LogLevel::kOff));
    EXPECT_FALSE(logger.IsLogEnabled(static_cast<LogLevel>(7)));

    platform::ara_log::set_threshold(LogLevel::kOff);
    EXPECT_FALSE(logger.IsLogEnabled(LogLevel::kFatal));
}

TEST(Ara_log, CreateLoggerKeepsOneLoggerPerContext) {
    auto& first = ara::log::CreateLogger("CTXA", "first");
    EXPECT_EQ(&first, &ara::log::CreateLogger("CTXA", "again"));
    EXPECT_NE(&first, &ara::log::CreateLogger("CTXB", "other"));
}

TEST(Ara_log, StreamEmitsOneMessageOnDestructionOnlyIfEnabled) {
    Log_capture capture(LogLevel::kInfo);
    ara::log::Logger logger("TEST", "streams");
    {
        LogStream stream(LogLevel::kInfo, logger);
        stream << "a" << std::string("b") << static_cast<const char*>(nullptr) << "c";
        EXPECT_EQ(capture.sink().size(), 0u);
    }
    LogStream(LogLevel::kDebug, logger) << "dropped";
    LogStream(LogLevel::kOff, logger) << "dropped";

    const auto records = capture.sink().records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::kInfo);
    EXPECT_EQ(records[0].context_id, "TEST");
    EXPECT_EQ(records[0].text, "abc");
}

// The default sink: standard error, "<level name> <text>" per line.
TEST(Ara_log, DefaultSinkWritesLevelNameAndTextToStandardError) {
    Log_capture capture(LogLevel::kVerbose);
    platform::ara_log::set_sink(nullptr);
    ara::log::Logger logger("TEST", "console");
    testing::internal::CaptureStderr();
    for (std::uint8_t level = 1; level <= 6; ++level) {
        LogStream(static_cast<LogLevel>(level), logger) << "{\"k\":1}";
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "fatal {\"k\":1}\nerror {\"k\":1}\nwarn {\"k\":1}\ninfo {\"k\":1}\n"
              "debug {\"k\":1}\nverbose {\"k\":1}\n");
}

TEST(Ara_log, FileSinkTruncatesAndWritesLines) {
    const std::string path = testing::TempDir() + "ara_log_file_sink.log";
    { std::ofstream(path) << "old content\n"; }
    Log_capture capture(LogLevel::kDebug);
    platform::ara_log::set_sink(std::make_shared<platform::ara_log::File_sink>(path));
    ara::log::Logger logger("TEST", "file");
    LogStream(LogLevel::kDebug, logger) << "one";
    LogStream(LogLevel::kWarn, logger) << "two";
    EXPECT_EQ(read_file(path), "debug one\nwarn two\n");  // flushed after every line

    EXPECT_THROW(platform::ara_log::File_sink("/nonexistent-dir/x.log"), std::system_error);
}

class Throwing_sink : public platform::ara_log::Sink {
  protected:
    void do_write(const platform::ara_log::Message&) override {
        throw std::runtime_error("disk full");
    }
};

TEST(Ara_log, FailingSinkDoesNotReachTheCaller) {
    Log_capture capture(LogLevel::kWarn);
    platform::ara_log::set_sink(std::make_shared<Throwing_sink>());
    ara::log::Logger logger("TEST", "failing");
    EXPECT_NO_THROW(LogStream(LogLevel::kError, logger) << "lost");
}

// Every message goes wholly to one of the sinks while another thread keeps swapping them.
TEST(Ara_log, ConcurrentLoggingWhileSinksAreSwapped) {
    Log_capture capture(LogLevel::kInfo);
    auto other = std::make_shared<platform::ara_log::Recording_sink>();
    auto& logger = ara::log::CreateLogger("CONC", "concurrency");
    constexpr int threads = 4;
    constexpr int messages = 300;

    std::atomic<bool> done{false};
    std::thread swapper([&] {
        std::shared_ptr<platform::ara_log::Sink> next = other;
        while (!done.load()) {
            next = platform::ara_log::set_sink(next);
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&logger, t] {
            for (int i = 0; i < messages; ++i) {
                LogStream(LogLevel::kInfo, logger) << "t" << std::to_string(t);
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    done = true;
    swapper.join();

    const auto lines_a = capture.sink().lines();
    const auto lines_b = other->lines();
    EXPECT_EQ(lines_a.size() + lines_b.size(), static_cast<std::size_t>(threads * messages));
    for (const auto* lines : {&lines_a, &lines_b}) {
        for (const auto& line : *lines) {
            ASSERT_TRUE(line == "info t0" || line == "info t1" || line == "info t2" ||
                        line == "info t3")
                << line;
        }
    }
}

}  // namespace
