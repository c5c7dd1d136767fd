// The runtime's thread pools: the worker loop and the process-wide pool behind
// Component_singleton::get_thread_pool_factory().

#include "exec/static_thread_pool.h"

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "binding/runtime/runtime.h"

namespace kem::com {

void static_thread_pool::sub_outstanding_work() noexcept {
    if (outstanding_work.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        // Under the mutex, so that a waiter between its check and its wait is not missed.
        std::lock_guard<std::mutex> lock(mutex);
        drained.notify_all();
    }
}

void static_thread_pool::wait_idle() {
    std::unique_lock<std::mutex> lock(mutex);
    drained.wait(lock, [this] {
        return outstanding_work.load(std::memory_order_acquire) == 0 || stopped();
    });
}

void static_thread_pool::run_worker() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wakeup.wait(lock, [this] { return stopped() || !queue.empty(); });
        if (stopped()) {
            return;
        }
        std::function<void()> item = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        item();
        item = nullptr;
        sub_outstanding_work();
        lock.lock();
    }
}

void static_thread_pool::stop() noexcept {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex);
        state.store(state_stopped, std::memory_order_release);
        dropped.swap(queue);
    }
    wakeup.notify_all();
    drained.notify_all();
    for (std::size_t i = 0; i < dropped.size(); ++i) {
        sub_outstanding_work();
    }
}

}  // namespace kem::com

namespace kem::com::runtime {
namespace {

constexpr unsigned process_pool_threads = 2;

// The worker threads of one pool. Destroying it stops the pool and joins them.
class Worker_threads {
  public:
    Worker_threads(static_thread_pool& pool, unsigned count) : pool_(pool) {
        try {
            for (unsigned i = 0; i < count; ++i) {
                threads_.emplace_back([this] { pool_.run_worker(); });
            }
        } catch (...) {
            shut_down();
            throw;
        }
    }
    Worker_threads(const Worker_threads&) = delete;
    Worker_threads& operator=(const Worker_threads&) = delete;
    ~Worker_threads() { shut_down(); }

  private:
    void shut_down() noexcept {
        pool_.stop();
        for (std::thread& thread : threads_) {
            // A worker that ends the process cannot wait for itself.
            if (thread.get_id() == std::this_thread::get_id()) {
                thread.detach();
            } else if (thread.joinable()) {
                thread.join();
            }
        }
    }

    static_thread_pool& pool_;
    std::vector<std::thread> threads_;
};

// Started on first use. The pool object itself is never destroyed, so that a post that
// arrives while the process exits finds a stopped pool rather than a destroyed one; its
// workers are joined when the runtime's statics are destroyed (at exit, or when the
// runtime library is unloaded).
static_thread_pool& process_pool() {
    static static_thread_pool* const pool = new static_thread_pool();
    static Worker_threads workers(*pool, process_pool_threads);
    return *pool;
}

class Process_thread_pool_factory final : public Thread_pool_factory {
  public:
    static_thread_pool* get_thread_pool(unsigned index) override {
        if (index != 0) {
            throw std::out_of_range("no thread pool with this index");
        }
        return &process_pool();
    }
};

}  // namespace

Thread_pool_factory::~Thread_pool_factory() = default;

std::shared_ptr<Thread_pool_factory> Component_singleton::get_thread_pool_factory() {
    // Never destroyed, like the pool: callers may still ask for it during exit.
    static const auto* const factory =
        new std::shared_ptr<Thread_pool_factory>(std::make_shared<Process_thread_pool_factory>());
    return *factory;
}

}  // namespace kem::com::runtime
