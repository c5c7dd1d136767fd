#include "runtime_worker.h"

#include <utility>

namespace platform::runtime::detail {
namespace {

// The worker whose loop runs on this thread; trivially destructible on purpose (no
// thread-exit hook, which matters when the library is unloaded with dlclose).
thread_local const Worker* current_worker = nullptr;

}  // namespace

Worker::~Worker() {
    stop();
}

bool Worker::post(Job job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopped_) {
            if (!thread_.joinable()) {
                thread_ = std::thread(&Worker::loop, this);
            }
            jobs_.push_back(std::move(job));
            ++posted_;
            wakeup_.notify_one();
            return true;
        }
    }
    return false;  // the job is destroyed here, outside the lock
}

bool Worker::running_in_this_thread() const noexcept {
    return current_worker == this;
}

void Worker::wait_idle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return stopped_ || (jobs_.empty() && !busy_); });
}

std::uint64_t Worker::posted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
}

void Worker::stop() {
    std::deque<Job> dropped;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        dropped.swap(jobs_);
        thread = std::move(thread_);
    }
    wakeup_.notify_all();
    idle_.notify_all();
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

void Worker::loop() {
    current_worker = this;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wakeup_.wait(lock, [this] { return stopped_ || !jobs_.empty(); });
        if (stopped_) {
            break;
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A job's failure is its own; the thread keeps serving the queue.
        }
        job = nullptr;
        lock.lock();
        busy_ = false;
        if (jobs_.empty()) {
            idle_.notify_all();
        }
    }
    busy_ = false;
    current_worker = nullptr;
}

}  // namespace platform::runtime::detail
