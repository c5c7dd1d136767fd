#include "log/dlt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "log/incidents.h"
#include "log/log_capture.h"

namespace {

using ara::log::LogLevel;
using diag_test::Log_capture;
using kem::com::log::target::Dlt;
using zun::com::runtime::Instance_id;
using zun::com::runtime::Service_id;
using zun::com::runtime::Service_id_literal;
namespace front = ara::com::log::incidents;
namespace binding = kem::com::cpp_binding::log::incidents;

// Counts how often the incident text of a record is built.
int record_renderings = 0;

struct Counting_record {
    std::uint8_t value = 7;
    template <class F>
    void visit(F& f) {
        ++record_renderings;
        f(value);
    }
};

struct Failing_record {
    template <class F>
    void visit(F&) {
        throw std::runtime_error("broken record");
    }
};

class Dlt_test : public testing::Test {
  protected:
    ara::log::Logger logger_{"TEST", "dlt"};
    Dlt dlt_{logger_};
    const Service_id service_{"S"};
    const Instance_id instance_{"I"};
};

TEST_F(Dlt_test, TraceImplKeepsValidLevelsAndWritesOthersAtDebug) {
    Log_capture capture(LogLevel::kVerbose);
    for (std::uint8_t level = 0; level <= 7; ++level) {
        dlt_.trace_impl("L" + std::to_string(level), static_cast<LogLevel>(level));
    }
    const auto records = capture.sink().records();
    ASSERT_EQ(records.size(), 8u);
    const LogLevel expected[] = {LogLevel::kDebug,   LogLevel::kFatal, LogLevel::kError,
                                 LogLevel::kWarn,    LogLevel::kInfo,  LogLevel::kDebug,
                                 LogLevel::kVerbose, LogLevel::kDebug};
    for (std::size_t k = 0; k < records.size(); ++k) {
        EXPECT_EQ(records[k].level, expected[k]) << k;
        EXPECT_EQ(records[k].text, "L" + std::to_string(k));
        EXPECT_EQ(records[k].context_id, "TEST");
    }
}

TEST_F(Dlt_test, EmptyTextWritesNothing) {
    Log_capture capture(LogLevel::kVerbose);
    dlt_.trace_impl("", LogLevel::kFatal);
    EXPECT_EQ(capture.sink().size(), 0u);
}

// Each incident is written at its fixed level.
TEST_F(Dlt_test, IncidentLevels) {
    Log_capture capture(LogLevel::kVerbose);
    dlt_.trace(binding::Find_service_handler_exception{service_, instance_});
    dlt_.trace(binding::Method_call_request_err{service_, instance_, 1, 0x81});
    dlt_.trace(binding::Method_call_response_invalid_code{service_, instance_, 1, 0x83});
    dlt_.trace(binding::Method_call_deserializer_exception{service_, instance_, 1, 0}, "short");
    dlt_.trace(binding::Find_service_handler_performance{service_, instance_, 501});
    dlt_.trace(front::Find_service_start{Service_id_literal{"S"}, instance_}, std::string("1"));
    dlt_.trace(front::Find_service_stop{Service_id_literal{"S"}}, std::string("1"));
    dlt_.trace(binding::Find_service_result{service_, instance_},
               std::vector<zun::com::runtime::Service_handle>{});
    dlt_.trace(binding::Service_proxy_constructed{service_, instance_, true, true});
    dlt_.trace(binding::Method_call_request_cancelled{service_, instance_, 1});
    dlt_.trace(binding::Method_call_request_tx{service_, instance_, 1},
               std::map<std::string, std::string>{});
    dlt_.trace(binding::Method_call_response_rx{service_, instance_, 1, 2},
               std::string("Exception: X::UDSServiceFailed::2"));

    const std::vector<std::pair<std::string, LogLevel>> expected = {
        {"Find_service_handler_exception", LogLevel::kFatal},
        {"Method_call_request_err", LogLevel::kError},
        {"Method_call_response_invalid_code", LogLevel::kError},
        {"Method_call_deserializer_exception", LogLevel::kError},
        {"Find_service_handler_performance", LogLevel::kWarn},
        {"Find_service_start", LogLevel::kInfo},
        {"Find_service_stop", LogLevel::kInfo},
        {"Find_service_result", LogLevel::kInfo},
        {"Service_proxy_constructed", LogLevel::kInfo},
        {"Method_call_request_cancelled", LogLevel::kInfo},
        {"Method_call_request_tx", LogLevel::kDebug},
        {"Method_call_response_rx", LogLevel::kDebug},
    };
    const auto records = capture.sink().records();
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
        const auto document = nlohmann::json::parse(records[k].text);
        EXPECT_EQ(document["1_incident"]["1_id"], expected[k].first);
        EXPECT_EQ(records[k].level, expected[k].second) << expected[k].first;
    }
}

TEST_F(Dlt_test, DisabledLevelBuildsNoText) {
    Log_capture capture(LogLevel::kInfo);
    record_renderings = 0;
    dlt_.trace(binding::Method_call_response_rx{service_, instance_, 1, 0}, Counting_record{});
    dlt_.trace(binding::Method_call_request_tx{service_, instance_, 1}, Counting_record{});
    EXPECT_EQ(record_renderings, 0);
    dlt_.trace(front::Find_service_start{Service_id_literal{"S"}, instance_}, std::string("4"));
    EXPECT_EQ(capture.sink().size(), 1u);

    platform::ara_log::set_threshold(LogLevel::kDebug);
    dlt_.trace(binding::Method_call_response_rx{service_, instance_, 1, 0}, Counting_record{});
    EXPECT_EQ(record_renderings, 1);
    EXPECT_EQ(capture.sink().size(), 2u);
}

// A target that overrides the two hooks sees exactly what the raising steps hand it.
class Recording_target : public Dlt {
  public:
    using Dlt::Dlt;
    bool enabled = true;
    std::vector<std::pair<std::string, LogLevel>> calls;

    bool is_log_enabled(LogLevel) override { return enabled; }
    void trace_impl(const std::string& text, LogLevel level) override {
        calls.emplace_back(text, level);
    }
};

TEST_F(Dlt_test, OverridingTargetGetsEmptyTextOnRenderingFailureAndNothingWhenDisabled) {
    Recording_target target(logger_);
    target.trace(binding::Method_call_response_rx{service_, instance_, 1, 0}, Failing_record{});
    ASSERT_EQ(target.calls.size(), 1u);
    EXPECT_EQ(target.calls[0], std::make_pair(std::string(), LogLevel::kDebug));

    target.enabled = false;
    record_renderings = 0;
    target.trace(binding::Method_call_response_rx{service_, instance_, 1, 0}, Counting_record{});
    EXPECT_EQ(target.calls.size(), 1u);
    EXPECT_EQ(record_renderings, 0);
}

}  // namespace
