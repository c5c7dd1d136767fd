#pragma once
// A thread that runs tasks at their deadlines: the simulated applications' delayed answers.
// One thread and a deadline queue serve every delay, so no call sleeps on its own.
//
//   dmsim::Timer timer;
//   timer.schedule(std::chrono::steady_clock::now() + 200ms, [call] { call->respond(0, {}); });

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace dmsim {

class Timer {
  public:
    using Clock = std::chrono::steady_clock;
    using Task = std::function<void()>;

    Timer();
    // Stops the thread; tasks not yet due are destroyed without running.
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Runs `task` on the timer thread once `deadline` has passed; tasks with the same
    // deadline run in the order scheduled. Thread-safe. A task must not throw.
    void schedule(Clock::time_point deadline, Task task);

  private:
    struct Entry {
        Clock::time_point deadline;
        std::uint64_t sequence;
        Task task;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.deadline != b.deadline ? a.deadline > b.deadline : a.sequence > b.sequence;
        }
    };

    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::priority_queue<Entry, std::vector<Entry>, Later> queue_;
    std::uint64_t next_sequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;  // last: starts after the members above exist
};

}  // namespace dmsim
