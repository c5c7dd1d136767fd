#pragma once
// A runtime thread with a FIFO of jobs: the discovery thread and the transport thread are
// two of these. The thread starts with the first job and ends at stop().
//
//   Worker transport;
//   transport.post([] { /* runs on the transport thread */ });

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace platform::runtime::detail {

class Worker {
  public:
    using Job = std::function<void()>;

    Worker() = default;
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Queues a job behind the ones already queued. After stop() the job is destroyed
    // without running and the result is false. An exception thrown by a job is swallowed.
    bool post(Job job);

    // True on this worker's thread, also while a job runs that called back into us.
    bool running_in_this_thread() const noexcept;

    // Blocks until no job is queued or running (or the worker is stopped).
    // Precondition: not on this worker's thread.
    void wait_idle();

    // Number of jobs accepted by post() so far.
    std::uint64_t posted() const;

    // Drops the queued jobs, lets a running job finish and joins the thread (detaches it
    // when called on the thread itself). Idempotent.
    void stop();

  private:
    void loop();

    // A leaf lock: nothing else is locked, and no job runs or is destroyed, while it is held.
    mutable std::mutex mutex_;
    std::condition_variable wakeup_;  // a job was queued, or stop
    std::condition_variable idle_;    // the queue ran empty with no job running, or stop
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stopped_ = false;
    std::uint64_t posted_ = 0;
    std::thread thread_;
};

}  // namespace platform::runtime::detail
