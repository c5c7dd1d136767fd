#include "runtime_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

// The runtime threads' queue under load that never lets it run empty.

namespace {

using platform::runtime::detail::Worker;
using namespace std::chrono_literals;

// Jobs that each wait for one permit; the test hands out permits one at a time.
class Turnstile {
  public:
    // A job: waits (5 s at most) for a permit, takes it, and counts itself done.
    std::function<void()> job() {
        return [this] {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait_for(lock, 5s, [this] { return open_ || permits_ != 0; });
            if (permits_ != 0) {
                --permits_;
            }
            ++done_;
            changed_.notify_all();
        };
    }

    // One more job may pass; returns when `total` jobs have passed (false after 5 s).
    bool let_through(std::size_t total) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++permits_;
        changed_.notify_all();
        return changed_.wait_for(lock, 5s, [&] { return done_ >= total; });
    }

    // Every job passes from now on.
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t permits_ = 0;
    std::size_t done_ = 0;
    bool open_ = false;
};

// Opens the turnstile before the worker is stopped, so that its thread can be joined.
struct Opener {
    Turnstile& turnstile;
    ~Opener() { turnstile.open(); }
};

// A burst of jobs grows the queue; afterwards, with a handful queued at every moment,
// its storage returns to what that handful needs and stays there.
TEST(Worker, storage_follows_what_is_queued_while_the_queue_never_empties) {
    constexpr std::size_t burst = 2000;
    constexpr std::size_t steady = 8;  // queued while the load goes on
    constexpr std::size_t rounds = 3000;
    constexpr std::size_t warm_up = 4 * steady;  // rounds until the burst's room is given back
    constexpr std::size_t bound = 64;            // room for `steady` queued jobs, spare included

    Turnstile turnstile;
    Worker<std::function<void()>> worker;
    const Opener opener{turnstile};

    for (std::size_t i = 0; i < burst; ++i) {
        ASSERT_TRUE(worker.post(turnstile.job()));
    }
    EXPECT_GE(worker.storage(), burst);
    // Work the burst down to `steady` queued jobs, one in, one out after that.
    std::size_t passed = 0;
    while (passed + steady < burst) {
        ASSERT_TRUE(turnstile.let_through(++passed));
    }
    for (std::size_t round = 0; round < rounds; ++round) {
        ASSERT_TRUE(worker.post(turnstile.job()));
        ASSERT_TRUE(turnstile.let_through(++passed));
        if (round >= warm_up) {
            ASSERT_LE(worker.storage(), bound) << "after round " << round;
        }
    }
}

}  // namespace
