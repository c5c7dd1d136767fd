#include "exec/future.h"

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace zun::com {
namespace {

using namespace std::chrono_literals;

std::future_errc error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::future_error& error) {
        return static_cast<std::future_errc>(error.code().value());
    }
    ADD_FAILURE() << "no std::future_error";
    return {};
}

// Counts its runs and checks that the State mutex is free while it runs.
template <typename T>
std::function<void()> hook(Promise<T>& promise, std::atomic<int>& runs) {
    return [state = promise.state(), &runs] {
        EXPECT_TRUE(state->mutex.try_lock()) << "hook runs under the State mutex";
        state->mutex.unlock();
        ++runs;
    };
}

// Installed the way the binding does it.
template <typename T>
void add_cleanup(Promise<T>& promise, std::function<void()> cleanup) {
    std::lock_guard<std::mutex> lock(promise.state()->mutex);
    promise.state()->cleanup.swap(cleanup);
}

TEST(Future, ValueCrossesThreadsOnceAndCleanupRunsAtDestruction) {
    auto promise = std::make_shared<Promise<std::string>>();
    std::atomic<int> cleanups{0};
    auto future = std::make_unique<Future<std::string>>(promise->get_future());
    add_cleanup(*promise, hook(*promise, cleanups));
    EXPECT_EQ(error_of([&] { promise->get_future(); }), std::future_errc::future_already_retrieved);

    std::thread([promise] { promise->set_value("answer"); }).join();
    EXPECT_EQ(error_of([&] { promise->set_value("again"); }),
              std::future_errc::promise_already_satisfied);
    EXPECT_EQ(future->wait_for(1ms), std::future_status::ready);
    EXPECT_EQ(future->get(), "answer");
    EXPECT_EQ(error_of([&] { future->get(); }), std::future_errc::no_state);
    EXPECT_EQ(cleanups, 0);
    future.reset();
    EXPECT_EQ(cleanups, 1);
}

TEST(Future, GivenUpFutureRunsThrowingCleanupOnceAndNeverTheContinuation) {
    Promise<int> promise;
    std::atomic<int> cleanups{0};
    std::atomic<int> continuations{0};
    {
        Future<int> future = promise.get_future();
        add_cleanup(promise, [count = hook(promise, cleanups)] {
            count();
            throw std::runtime_error("cleanup failed");
        });
        future.set_continuation(hook(promise, continuations));
        Future<int> moved = std::move(future);
        EXPECT_FALSE(future.is_ready());
        EXPECT_EQ(error_of([&] { future.wait_for(0s); }), std::future_errc::no_state);
    }
    EXPECT_EQ(cleanups, 1);
    promise.set_value(7);
    EXPECT_EQ(continuations, 0);
}

// Giving up a Future destroys its continuation while the State is still locked: the probe
// captured by the continuation looks at the lock from another thread as it dies.
TEST(Future, GivenUpFutureDestroysItsContinuationUnderTheLock) {
    Promise<int> promise;
    struct Probe {
        std::shared_ptr<future_detail::State> state;
        bool* locked;
        ~Probe() {
            *locked = std::async(std::launch::async, [this] {
                          bool free = state->mutex.try_lock();
                          if (free) {
                              state->mutex.unlock();
                          }
                          return !free;
                      }).get();
        }
    };
    bool locked = false;
    {
        Future<int> future = promise.get_future();
        auto probe = std::make_shared<Probe>();
        probe->state = promise.state();
        probe->locked = &locked;
        future.set_continuation([probe] {});
    }
    EXPECT_TRUE(locked);
}

TEST(Future, AbandonedPromiseWakesWaiterWithBrokenPromise) {
    for (bool with_continuation : {false, true}) {
        auto promise = std::make_unique<Promise<int>>();
        Future<int> future = promise->get_future();
        std::atomic<int> continuations{0};
        if (with_continuation) {
            future.set_continuation(hook(*promise, continuations));
        }
        std::atomic<bool> waiting{false};
        std::exception_ptr seen;  // inspected after the join only
        std::thread waiter([&] {
            waiting = true;
            try {
                future.get();
            } catch (...) {
                seen = std::current_exception();
            }
        });
        while (!waiting) {
            std::this_thread::yield();
        }
        promise.reset();
        waiter.join();
        EXPECT_EQ(error_of([&] { std::rethrow_exception(seen); }),
                  std::future_errc::broken_promise);
        EXPECT_EQ(continuations, with_continuation ? 1 : 0);
    }
}

TEST(Future, DeliveryRacingDestructionRunsEachHookAtMostOnce) {
    for (int round = 0; round < 300; ++round) {
        auto promise = std::make_shared<Promise<int>>();
        auto future = std::make_unique<Future<int>>(promise->get_future());
        std::atomic<int> cleanups{0};
        std::atomic<int> continuations{0};
        add_cleanup(*promise, [&] { ++cleanups; });
        future->set_continuation([&] { ++continuations; });
        std::thread deliverer([promise] { promise->set_value(1); });
        future.reset();
        deliverer.join();
        EXPECT_EQ(cleanups, 1);
        EXPECT_LE(continuations, 1);
    }
}

}  // namespace
}  // namespace zun::com
