#include "binding/runtime/runtime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/log_capture.h"
#include "log/raise_incident.h"

// The front-end logger that the runtime stand-in supplies.
namespace {

using ara::log::LogLevel;
using diag_test::Log_capture;
using zun::com::runtime::Instance_id;
using zun::com::runtime::Service_id;
namespace binding = kem::com::cpp_binding::log::incidents;

TEST(Front_end_logger, FollowsTheProcessThresholdAndWritesAsAcom) {
    auto& logger = ara::com::logger();
    EXPECT_EQ(&logger, &ara::com::logger());

    Log_capture capture(LogLevel::kInfo);
    const binding::Method_call_request_cancelled cancelled{Service_id{"S"}, Instance_id{"I"}, 3};
    const binding::Method_call_request_tx request{Service_id{"S"}, Instance_id{"I"}, 3};
    kem::com::log::raise_incident(logger, cancelled);
    kem::com::log::raise_incident(logger, request);
    platform::ara_log::set_threshold(LogLevel::kWarn);
    kem::com::log::raise_incident(logger, cancelled);

    const auto records = capture.sink().records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::kInfo);
    EXPECT_EQ(records[0].context_id, "ACOM");
    EXPECT_EQ(nlohmann::json::parse(records[0].text)["1_incident"]["1_id"],
              "Method_call_request_cancelled");
}

// Incidents come from the caller's thread and from runtime threads at the same time.
TEST(Front_end_logger, ConcurrentRaisingKeepsLinesWhole) {
    Log_capture capture(LogLevel::kDebug);
    constexpr int threads = 6;
    constexpr int incidents = 200;
    std::vector<std::thread> raisers;
    for (int t = 0; t < threads; ++t) {
        raisers.emplace_back([t] {
            const std::map<std::string, std::string> meta{{"thread", std::to_string(t)}};
            for (int i = 0; i < incidents; ++i) {
                kem::com::log::raise_incident(
                    ara::com::logger(),
                    binding::Method_call_request_tx{Service_id{"S"}, Instance_id{"I"},
                                                    static_cast<std::uint16_t>(i)},
                    meta);
            }
        });
    }
    for (auto& raiser : raisers) {
        raiser.join();
    }

    const auto texts = capture.sink().texts();
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(threads * incidents));
    std::vector<int> per_thread(threads, 0);
    for (const auto& text : texts) {
        const auto document = nlohmann::json::parse(text);
        ++per_thread.at(std::stoi(document["2_data"]["1_map"]["thread"].get<std::string>()));
    }
    EXPECT_EQ(per_thread, std::vector<int>(threads, incidents));
}

}  // namespace
