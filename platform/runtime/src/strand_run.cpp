// The runtime's side of a strand: the run() item that a post hands to the pool.

#include "exec/strand.h"

#include <memory>

namespace kem::com {

// One call per burst: executes tasks until the queue is empty. A task may destroy the
// strand itself (by releasing its last holder); the destructor then runs on this thread,
// returns at once from join and destroys the queue. To notice that, the queue's head
// holds a placeholder while a task executes: if the placeholder is destroyed behind our
// back, the strand is gone and must not be touched again.
void Strand::run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!tasks.empty()) {
        auto token = std::make_shared<char>();
        std::weak_ptr<char> strand_alive = token;
        std::function<void()> task([token = std::move(token)] {});
        task.swap(tasks.front());
        running_thread.store(pthread_self(), std::memory_order_relaxed);
        lock.unlock();

        task();
        task = nullptr;  // its captures may hold the strand's last owner
        if (strand_alive.expired()) {
            return;
        }

        lock.lock();
        running_thread.store(0, std::memory_order_relaxed);
        tasks.pop_front();  // the placeholder
        --pending;
    }
    if (state == stopping) {
        state = stopped;
    }
    // Notified under the lock: a joiner may destroy the strand as soon as it can lock.
    idle.notify_all();
}

}  // namespace kem::com
