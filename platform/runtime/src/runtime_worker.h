#pragma once
// A runtime thread with a FIFO of jobs: the discovery thread and the transport thread are
// two of these. The thread starts with the first job and ends at stop(). A job is any
// movable callable; the queue reuses its storage, so a steady stream of jobs allocates
// nothing once the queue has grown to its working size, and its storage follows what is
// queued: a queue that never runs empty is compacted as it goes, and the room a burst
// needed is given back once the burst is worked off.
//
//   Worker<std::function<void()>> discovery;
//   discovery.post([] { /* runs on the discovery thread */ });

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace platform::runtime::detail {

// The worker whose loop runs on this thread. Initial-exec TLS: the runtime library is
// linked by its users, never loaded late, and this is read on every request.
[[gnu::tls_model("initial-exec")]] inline thread_local const void* current_worker = nullptr;

template <class Job>
class Worker {
  public:
    Worker() = default;
    ~Worker() { stop(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Queues a job behind the ones already queued. After stop() the job is destroyed
    // without running and the result is false. An exception thrown by a job is swallowed.
    bool post(Job job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopped_) {
                return false;  // the job is destroyed on the way out, after the lock
            }
            if (!thread_.joinable()) {
                thread_ = std::thread(&Worker::loop, this);
            }
            jobs_.push_back(std::move(job));
            ++posted_;
        }
        // Woken after the unlock, the thread does not block again on the lock just held.
        wakeup_.notify_one();
        return true;
    }

    // True on this worker's thread, also while a job runs that called back into us.
    bool running_in_this_thread() const noexcept { return current_worker == this; }

    // Blocks until no job is queued or running (or the worker is stopped).
    // Precondition: not on this worker's thread.
    void wait_idle() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++idle_waiters_;
        idle_.wait(lock, [this] { return stopped_ || (queued() == 0 && !busy_); });
        --idle_waiters_;
    }

    // Number of jobs accepted by post() so far.
    std::uint64_t posted() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return posted_;
    }

    // Room for jobs the queue holds now: queued ones, taken ones not yet compacted away and
    // spare room.
    std::size_t storage() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return jobs_.capacity();
    }

    // Drops the queued jobs (destroyed on this thread, outside the lock, before the wait),
    // lets a running job finish and joins the thread (detaches it when called on the thread
    // itself). Idempotent.
    void stop() {
        std::vector<Job> dropped;
        std::thread thread;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
            dropped.swap(jobs_);
            head_ = 0;
            thread = std::move(thread_);
        }
        wakeup_.notify_all();
        idle_.notify_all();
        // Dropped before waiting for a running job: what they hold is released at once.
        dropped.clear();
        if (thread.joinable()) {
            if (thread.get_id() == std::this_thread::get_id()) {
                thread.detach();
            } else {
                thread.join();
            }
        }
    }

  private:
    std::size_t queued() const noexcept { return jobs_.size() - head_; }

    // After a job was taken: once the taken jobs at the front are at least as many as the
    // queued ones, moves the queued ones to the front (each job moves about once, however
    // long the queue stays busy); then gives back room beyond a few times what is left.
    // The taken jobs are moved-from: destroying them here runs nothing.
    void reclaim() {
        if (head_ < queued()) {
            return;
        }
        jobs_.erase(jobs_.begin(), jobs_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
        if (jobs_.capacity() > spare_factor * std::max(jobs_.size(), min_room)) {
            jobs_.shrink_to_fit();  // gives room back, or keeps it when it cannot
        }
    }

    void loop() {
        current_worker = this;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wakeup_.wait(lock, [this] { return stopped_ || queued() != 0; });
            if (stopped_) {
                break;
            }
            {
                Job job = std::move(jobs_[head_]);
                ++head_;
                reclaim();
                busy_ = true;
                lock.unlock();
                try {
                    job();
                } catch (...) {
                    // A job's failure is its own; the thread keeps serving the queue.
                }
            }  // the job is destroyed outside the lock
            lock.lock();
            busy_ = false;
            if (queued() == 0 && idle_waiters_ != 0) {
                idle_.notify_all();
            }
        }
        busy_ = false;
        current_worker = nullptr;
    }

    // Room kept whatever the queue's length, and how many times the queued jobs' room
    // may stay reserved.
    static constexpr std::size_t min_room = 16;
    static constexpr std::size_t spare_factor = 4;

    // A leaf lock: nothing else is locked, and no job runs or is destroyed, while it is held.
    mutable std::mutex mutex_;
    std::condition_variable wakeup_;  // a job was queued, or stop
    std::condition_variable idle_;    // the queue ran empty with no job running, or stop
    std::vector<Job> jobs_;           // queued jobs are [head_, end)
    std::size_t head_ = 0;
    bool busy_ = false;
    bool stopped_ = false;
    unsigned idle_waiters_ = 0;  // threads in wait_idle()
    std::uint64_t posted_ = 0;
    std::thread thread_;
};

}  // namespace platform::runtime::detail
