#include "binding/runtime/runtime.h"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace kem::com {
namespace {

TEST(Deadline_guard, ReportsElapsedMillisecondsOnlyWhenLate) {
    std::vector<unsigned long> reports;
    {
        Deadline_guard in_time(60000, [&](unsigned long ms) { reports.push_back(ms); });
    }
    {
        Deadline_guard late(2, [&](unsigned long ms) { reports.push_back(ms); });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_GE(reports[0], 3u);
    EXPECT_NO_THROW({
        Deadline_guard throwing(0, [](unsigned long) { throw std::runtime_error("late"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
}

}  // namespace
}  // namespace kem::com
