#include "sim/vehicle/timer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace dmsim {
namespace {

using namespace std::chrono_literals;

TEST(Timer, RunsTasksInDeadlineOrderAndDropsTheOnesNotDue) {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<int> order;
    auto record = [&](int n) {
        return [&, n] {
            std::lock_guard<std::mutex> lock(mutex);
            order.push_back(n);
            done.notify_all();
        };
    };
    auto dropped = std::make_shared<int>(0);
    {
        Timer timer;
        const auto now = Timer::Clock::now();
        timer.schedule(now + 30ms, record(3));
        timer.schedule(now + 10ms, record(1));
        timer.schedule(now + 10ms, record(2));
        timer.schedule(now + std::chrono::hours(1), [dropped, &order] { order.push_back(9); });
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return order.size() == 3; });
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(dropped.use_count(), 1);  // the pending task was destroyed, not run
}

}  // namespace
}  // namespace dmsim
