#include "log/raise_incident.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/log_capture.h"

namespace {

using ara::log::LogLevel;
using diag_test::Log_capture;
using zun::com::runtime::Instance_id;
using zun::com::runtime::Service_id;
namespace binding = kem::com::cpp_binding::log::incidents;

TEST(Raise_incident, GoesThroughTheLoggersTarget) {
    Log_capture capture(LogLevel::kDebug);
    ara::log::Logger context("TEST", "raise");
    kem::com::log::target::Dlt target(context);
    kem::com::log::Generic_logger logger("test", target);
    EXPECT_EQ(&logger.get_target(), &target);

    kem::com::log::raise_incident(
        logger, binding::Method_call_request_tx{Service_id{"S"}, Instance_id{"I"}, 0},
        std::map<std::string, std::string>{{"k", "v"}}, std::uint8_t{5});
    const auto records = capture.sink().records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::kDebug);
    EXPECT_EQ(nlohmann::json::parse(records[0].text)["2_data"],
              nlohmann::json::parse(R"({"1_map":{"k":"v"},"2_uint8":5})"));
}

}  // namespace
