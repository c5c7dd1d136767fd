#include "proxy/proxy.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "services/d_0261/d_0261.h"
#include "services/d_0447/d_0447.h"
#include "support/log_capture.h"

namespace {

using nlohmann::json;
using support::Log_capture;

// Each interface numbers its discoveries from 0; under --gtest_repeat the numbers of both
// interfaces (used nowhere else in this executable) carry on alike.
TEST(Proxy, discovery_start_and_stop_are_logged_with_the_handle_number) {
    using namespace orlak::services::diag;
    using Front = ara::com::internal::proxy::Proxy<d_0447::DataIdentifier_Timezone>;
    using Other = ara::com::internal::proxy::Proxy<d_0261::DataIdentifier_OBDDrivingCycleSetOnce>;
    static bool first_run = true;
    const auto other = Other::StartFindService([](std::vector<Other::Handle_type>) {}, "front");
    Other::StopFindService(Other::StartFindService([](std::vector<Other::Handle_type>) {}, "x"));
    Log_capture log(ara::log::LogLevel::kInfo);
    const auto first = Front::StartFindService([](std::vector<Front::Handle_type>) {}, "front");
    const auto second = Front::StartFindService([](std::vector<Front::Handle_type>) {}, "front");
    Front::StopFindService(first);
    Front::StopFindService(second);
    Other::StopFindService(other);

    if (std::exchange(first_run, false)) {
        EXPECT_EQ(first.id, 0u);
    }
    EXPECT_EQ(other.id, first.id);
    EXPECT_EQ(second.id, first.id + 1);
    const json service = json::parse(R"({"1_id": "Service_id",
        "2_char const*": "orlak::services::diag::d_0447::DataIdentifier_Timezone"})");
    const auto starts = log.incidents("Find_service_start");
    const auto stops = log.incidents("Find_service_stop");
    ASSERT_EQ(starts.size(), 2u);
    ASSERT_EQ(stops.size(), 3u);
    for (int k = 0; k < 2; ++k) {
        const auto number = std::to_string(k == 0 ? first.id : second.id);
        EXPECT_EQ(starts[k].level, ara::log::LogLevel::kInfo);
        EXPECT_EQ(starts[k].document,
                  (json{{"1_incident",
                         {{"1_id", "Find_service_start"},
                          {"2_service_id", service},
                          {"3_instance_id", {{"1_id", "Instance_id"}, {"2_string", "front"}}}}},
                        {"2_data", {{"1_string", number}}}}));
        EXPECT_EQ(stops[k].level, ara::log::LogLevel::kInfo);
        EXPECT_EQ(stops[k].document,
                  (json{{"1_incident", {{"1_id", "Find_service_stop"}, {"2_service_id", service}}},
                        {"2_data", {{"1_string", number}}}}));
    }
}

}  // namespace
