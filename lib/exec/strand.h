#pragma once
// A strand runs the tasks posted to it one at a time, in posting order, on the threads
// of a runtime pool.
//
//   auto strand = std::make_shared<kem::com::Strand>(pool);
//   strand->internal_post([] { /* never overlaps another task of this strand */ });
//
// state:  running --join, tasks pending--> stopping --queue drained by run()--> stopped
//            |                                                                   ^
//            +-------------join on an empty strand, or ~Strand ------------------+
// running and stopping accept tasks; stopped drops them. There is no way back.
//
// Lock order: strand mutex before pool mutex (a post hands run() to the pool under the
// strand lock). Neither is held while a task executes. Always create it with
// std::make_shared; it must not outlive its pool.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

#include <pthread.h>

#include "exec/interface.h"
#include "exec/runtime_api.h"
#include "exec/static_thread_pool.h"

namespace kem::com {

// Something that executes tasks on threads of its own choosing.
class Task_dispatcher : public zun::com::Interface {
  public:
    // True while the calling thread executes one of this dispatcher's tasks.
    virtual bool running_in_this_thread() const = 0;
};

class Strand : Task_dispatcher {
  public:
    explicit Strand(static_thread_pool* pool) : pool(pool) {}
    Strand(const Strand&) = delete;
    Strand& operator=(const Strand&) = delete;

    // Stops the strand and joins it; tasks still queued are destroyed without running.
    // Joining waits for the queue to drain unless called from one of the strand's tasks.
    ~Strand() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            state = stopped;
        }
        join();
    }

    bool running_in_this_thread() const override {
        return running_thread.load(std::memory_order_relaxed) == pthread_self();
    }

    // Queues the task; a stopped strand destroys it without running it.
    template <typename Task>
    void internal_post(Task&& task);

    // Stops the strand: it keeps executing what is queued, then drops new tasks. Waits
    // until nothing is queued or executing, unless called from one of the strand's own
    // tasks (it then returns at once).
    void join() {
        std::unique_lock<std::mutex> lock(mutex);
        if (state == running) {
            state = pending != 0 ? stopping : stopped;
        }
        if (!running_in_this_thread()) {
            idle.wait(lock, [this] { return state == stopped && pending == 0; });
        }
    }

    // Executes the queued tasks; called on a pool thread by the item that internal_post
    // handed to the pool. Defined by the runtime.
    ZUN_RUNTIME_API void run();

  private:
    void queue(std::function<void()> queued);

    static constexpr std::uint8_t running = 0;
    static constexpr std::uint8_t stopping = 1;
    static constexpr std::uint8_t stopped = 2;

    static_thread_pool* const pool;
    std::mutex mutex;
    std::uint8_t state = running;              // guarded by mutex
    std::uint32_t pending = 0;                 // tasks queued or executing; guarded by mutex
    std::condition_variable idle;              // signalled when stopped and empty
    std::atomic<pthread_t> running_thread{0};  // executing thread, 0 when none; read unlocked
    std::deque<std::function<void()>> tasks;   // guarded by mutex
};

template <typename Task>
void Strand::internal_post(Task&& task) {
    queue(std::function<void()>(std::forward<Task>(task)));
}

// The untyped half of internal_post, shared by every task type.
inline void Strand::queue(std::function<void()> queued) {
    // `queued` is a parameter: a dropped task is destroyed after unlocking.
    std::lock_guard<std::mutex> lock(mutex);
    if (state == stopped) {
        return;
    }
    tasks.push_back(std::move(queued));
    if (++pending == 1) {
        // Only the first task of a burst hands run() to the pool.
        try {
            pool->post([this] { run(); });
        } catch (...) {
            tasks.pop_back();
            --pending;
            throw;
        }
    }
}

}  // namespace kem::com
