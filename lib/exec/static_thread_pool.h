#pragma once
// The communication runtime's pool of worker threads: a FIFO of work items that its
// workers take one at a time.
//
//   auto* pool = Component_singleton::get_thread_pool_factory()->get_thread_pool(0);
//   pool->post([] { /* runs on a worker */ });
//
// The runtime owns the pools and their threads; a pool outlives everything that posts
// to it. Only post() is compiled into the plug-in, the rest lives in the runtime.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <utility>

#include "exec/runtime_api.h"

namespace kem::com {

class ZUN_RUNTIME_API static_thread_pool {
  public:
    static_thread_pool() = default;
    static_thread_pool(const static_thread_pool&) = delete;
    static_thread_pool& operator=(const static_thread_pool&) = delete;

    // Queues the callable; a stopped pool drops it. Throws std::system_error when the
    // mutex cannot be locked and rethrows allocation failures; nothing is queued then.
    template <typename Work>
    void post(Work&& work);

    // Releases one unit of outstanding work: an item that has run, or a post's guard.
    // Never called with the pool mutex held.
    void sub_outstanding_work() noexcept;

    // Blocks until no work is outstanding or the pool is stopped. Not from a worker
    // while it runs an item (that item is outstanding itself).
    void wait_idle();

    // Worker loop, one call per worker thread: runs queued items in FIFO order and
    // returns once the pool is stopped. An item that throws ends the process.
    void run_worker();

    // Stops the pool for good: wakes every worker and drops the queued items. Waiting
    // for the workers to return is up to whoever owns their threads.
    void stop() noexcept;

    bool stopped() const noexcept { return state.load(std::memory_order_acquire) == state_stopped; }
    // Items queued or running, plus posts in progress.
    std::uint32_t outstanding() const noexcept {
        return outstanding_work.load(std::memory_order_relaxed);
    }

  private:
    static constexpr std::uint8_t state_stopped = 2;  // 0 while accepting work

    std::atomic<std::uint32_t> outstanding_work{0};
    std::atomic<std::uint8_t> state{0};
    std::mutex mutex;
    std::deque<std::function<void()>> queue;
    std::condition_variable wakeup;   // workers wait here for items or the stop
    std::condition_variable drained;  // wait_idle waits here
};

template <typename Work>
void static_thread_pool::post(Work&& work) {
    if (stopped()) {
        return;
    }
    // Guard: outstanding work stays above zero for the whole post.
    outstanding_work.fetch_add(1, std::memory_order_relaxed);
    std::unique_lock<std::mutex> lock(mutex, std::defer_lock);
    try {
        lock.lock();
        queue.emplace_back(std::forward<Work>(work));
    } catch (...) {
        if (lock.owns_lock()) {
            lock.unlock();
        }
        sub_outstanding_work();
        throw;
    }
    lock.unlock();
    wakeup.notify_one();
    outstanding_work.fetch_add(1, std::memory_order_relaxed);  // the queued item
    sub_outstanding_work();                                    // the guard
}

}  // namespace kem::com
