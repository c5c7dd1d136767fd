#include "sim/vehicle/timer.h"

#include <utility>

namespace dmsim {

Timer::Timer() : thread_([this] { run(); }) {}

Timer::~Timer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void Timer::schedule(Clock::time_point deadline, Task task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push(Entry{deadline, next_sequence_++, std::move(task)});
    }
    wake_.notify_one();
}

void Timer::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const Clock::time_point deadline = queue_.top().deadline;
        if (Clock::now() < deadline) {
            // Woken early by a new, possibly earlier entry or by the destructor.
            wake_.wait_until(lock, deadline);
            continue;
        }
        // priority_queue::top is const: the task is copied out (it holds shared state only).
        Task task = queue_.top().task;
        queue_.pop();
        lock.unlock();
        task();
        task = nullptr;  // release what the task holds outside the lock
        lock.lock();
    }
}

}  // namespace dmsim
