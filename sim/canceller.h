#pragma once
// --cancel-after: a second thread that cancels a request still waiting after a time limit,
// as a manager does when a tester gives up.
//
//   dmsim::Canceller canceller(std::chrono::milliseconds(500));
//   canceller.begin_request();
//   canceller.watch([&] { return extension->cancel(meta); });
//   code = extension->read(meta, data);
//   bool cancelled = canceller.unwatch();

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/operation_watch.h"

namespace dmsim {

class Canceller : public Operation_watch {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts the canceller's thread.
    explicit Canceller(std::chrono::milliseconds after);
    // Stops the thread; a watch still running is abandoned without a cancel.
    ~Canceller() override;
    Canceller(const Canceller&) = delete;
    Canceller& operator=(const Canceller&) = delete;

    // Starts the clock of a request: every operation watched until the next begin_request
    // shares the limit `after` from now.
    void begin_request() override;

    // Watches one extension operation that the calling thread is about to run: once the
    // request's limit has passed and the watch is still on, `cancel` runs on the
    // canceller's thread; it runs again every retry interval while the watch stays on (a
    // cancel that arrives before the operation started waiting is lost by the extension).
    // At most one watch at a time, set and ended by the same thread.
    void watch(std::function<bool()> cancel) override;

    // Ends the watch and returns whether a cancel ran and returned true. Waits for a cancel
    // call in progress to return.
    bool unwatch() override;

    static constexpr std::chrono::milliseconds retry_interval{50};

  private:
    void run();

    const std::chrono::milliseconds after_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Clock::time_point deadline_{};
    std::function<bool()> cancel_;  // set while a watch is on
    bool cancelling_ = false;       // a cancel call runs outside the lock; unwatch waits
    bool fired_ = false;
    bool stopping_ = false;
    std::thread thread_;  // last: starts after the members above exist
};

}  // namespace dmsim
