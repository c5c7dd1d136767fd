#include "sim/canceller.h"

#include <utility>

namespace dmsim {

Canceller::Canceller(std::chrono::milliseconds after) : after_(after), thread_([this] { run(); }) {}

Canceller::~Canceller() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Canceller::begin_request() {
    std::lock_guard<std::mutex> lock(mutex_);
    deadline_ = Clock::now() + after_;
}

void Canceller::watch(std::function<bool()> cancel) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancel_ = std::move(cancel);
        fired_ = false;
    }
    changed_.notify_all();
}

bool Canceller::unwatch() {
    std::function<bool()> done;  // destroyed outside the lock
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !cancelling_; });
    done = std::move(cancel_);
    cancel_ = nullptr;
    const bool fired = fired_;
    fired_ = false;
    lock.unlock();
    changed_.notify_all();
    return fired;
}

void Canceller::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (!cancel_) {
            changed_.wait(lock);
            continue;
        }
        if (Clock::now() < deadline_) {
            changed_.wait_until(lock, deadline_);
            continue;
        }
        // Due: cancel outside the lock; the watch cannot end meanwhile (unwatch waits).
        std::function<bool()> cancel = cancel_;
        cancelling_ = true;
        lock.unlock();
        const bool accepted = cancel();
        lock.lock();
        cancelling_ = false;
        fired_ = fired_ || accepted;
        deadline_ = Clock::now() + retry_interval;
        changed_.notify_all();
    }
}

}  // namespace dmsim
