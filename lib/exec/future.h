#pragma once
// Promise and Future of one asynchronous result, with a cleanup and a continuation hook.
//
//   auto promise = std::make_shared<zun::com::Promise<Output>>();
//   zun::com::Future<Output> future = promise->get_future();  // later: promise->set_value(...)
//
// A thin layer over std::promise / std::future: the standard shared state holds the
// result and does all waiting; future_detail::State adds the two hooks. The runtime's
// futures use these very classes, so their layout is shared with it.
//
// Result of one pair:        Hooks of its State:
//
//   pending --set_value------> ready        cleanup:      installed by the promise side,
//      |    set_exception        ^                        run once by ~Future
//      +---~Promise (abandon)----+          continuation: run once by the delivery, or
//           stores broken_promise                         discarded by ~Future (first wins)
//
// Contract: State::mutex guards both hooks and is never held while a hook runs; no
// other lock is taken while it is held. Waiting never takes it.

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <utility>

namespace zun::com {

template <typename T>
class Future;
template <typename T>
class Promise;

namespace future_detail {

// The hooks shared by one Promise and its Future. Both start empty; destroying the State
// destroys what it still holds without running it.
struct State {
    std::mutex mutex;
    std::function<void()> cleanup;       // run by the Future's destructor
    std::function<void()> continuation;  // run after a result has been stored
};

[[noreturn]] inline void throw_no_state() {
    throw std::future_error(std::future_errc::no_state);
}

// The State's half of giving up a Future, the same for every T: under the lock, destroys
// the continuation (a later delivery runs nothing) and takes the cleanup out; then runs the
// cleanup outside the lock (a throwing cleanup is ignored) and drops the reference.
// Terminates if the mutex cannot be locked. A continuation's captures must therefore not
// lock this State when destroyed. Kept out of line: it is shared by every instantiation
// instead of being copied into each.
[[gnu::noinline]] inline void give_up_state(std::shared_ptr<State>& state) noexcept {
    if (state) {
        std::function<void()> cleanup;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->continuation = nullptr;
            cleanup.swap(state->cleanup);
        }
        if (cleanup) {
            try {
                cleanup();
            } catch (...) {
            }
        }
    }
    state.reset();
}

// Runs and destroys a continuation taken out of a State (outside its lock).
[[gnu::noinline]] inline void run_continuation(std::function<void()>& continuation) {
    if (continuation) {
        std::function<void()> taken = std::move(continuation);
        taken();
    }
}

// What Promise<T> and Promise<void> have in common; only set_value differs.
template <typename T>
class Promise_core {
  public:
    Promise_core() : state_(std::make_shared<State>()) {}
    // Takes a new State (empty hooks, not shared with another pair) that the caller keeps
    // inside an object of its own, such as the runtime's record of one call.
    explicit Promise_core(std::shared_ptr<State> state) : state_(std::move(state)) {}
    Promise_core(const Promise_core&) = delete;
    Promise_core& operator=(const Promise_core&) = delete;
    Promise_core(Promise_core&&) noexcept = default;

    // An abandoned promise still wakes its waiters with broken_promise and runs a
    // registered continuation. Terminates on any failure.
    ~Promise_core() { abandon(); }

    // Throws future_already_retrieved on a second call, no_state on a moved-from promise.
    Future<T> get_future() {
        if (!state_) {
            throw_no_state();
        }
        return Future<T>(promise_.get_future(), state_);
    }

    // Throws promise_already_satisfied when a result is already stored.
    void set_exception(std::exception_ptr error) {
        deliver([&error](std::promise<T>& promise) { promise.set_exception(std::move(error)); });
    }

    // The hooks, for installing a cleanup (lock State::mutex while swapping it).
    // Empty on a moved-from promise.
    const std::shared_ptr<State>& state() const noexcept { return state_; }

  protected:
    Promise_core& operator=(Promise_core&& other) noexcept {
        if (this != &other) {
            abandon();
            promise_ = std::move(other.promise_);
            state_ = std::move(other.state_);
        }
        return *this;
    }

    template <typename Store>
    void deliver(Store&& store) {
        if (!state_) {
            throw_no_state();
        }
        std::function<void()> continuation;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            // Throws no_state or promise_already_satisfied; the continuation stays put then.
            store(promise_);
            continuation.swap(state_->continuation);
        }
        run_continuation(continuation);
    }

  private:
    void abandon() noexcept {
        if (!state_) {
            return;
        }
        std::function<void()> continuation;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            continuation.swap(state_->continuation);
            // A registered continuation means no result was stored yet.
            if (continuation) {
                promise_.set_exception(
                    std::make_exception_ptr(std::future_error(std::future_errc::broken_promise)));
            }
            // Give up the standard promise under the lock (it stores broken_promise when
            // nothing was delivered): a continuation registered afterwards then finds the
            // result ready and runs at once instead of waiting for a delivery that never comes.
            std::promise<T> released(std::move(promise_));
        }
        state_.reset();
        run_continuation(continuation);
    }

    std::promise<T> promise_;
    std::shared_ptr<State> state_;
};

}  // namespace future_detail

// The producing side of one result. Resolve it once with set_value or set_exception.
template <typename T>
class Promise : public future_detail::Promise_core<T> {
  public:
    Promise() = default;
    explicit Promise(std::shared_ptr<future_detail::State> state)
        : future_detail::Promise_core<T>(std::move(state)) {}
    Promise(Promise&&) noexcept = default;
    Promise& operator=(Promise&&) noexcept = default;

    // Stores the value, wakes all waiters, then runs the continuation on this thread.
    // Throws promise_already_satisfied when a result is already stored.
    void set_value(T&& value) {
        this->deliver([&value](std::promise<T>& promise) { promise.set_value(std::move(value)); });
    }
};

template <>
class Promise<void> : public future_detail::Promise_core<void> {
  public:
    Promise() = default;
    Promise(Promise&&) noexcept = default;
    Promise& operator=(Promise&&) noexcept = default;

    void set_value() {
        deliver([](std::promise<void>& promise) { promise.set_value(); });
    }
};

// The consuming side of one result. Movable, not copyable; a moved-from Future is not
// valid and runs no hook. Destroying it runs the cleanup and discards the continuation;
// it never waits for the result.
template <typename T>
class Future {
  public:
    Future() noexcept = default;
    Future(const Future&) = delete;
    Future& operator=(const Future&) = delete;
    Future(Future&& other) noexcept = default;
    Future& operator=(Future&& other) noexcept {
        if (this != &other) {
            give_up();
            future_ = std::move(other.future_);
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~Future() { give_up(); }

    // True from get_future() until get() or a move-from.
    bool valid() const noexcept { return future_.valid(); }

    // Never blocks; false on a Future that is not valid.
    bool is_ready() const {
        return state_ && future_.valid() &&
               future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    // Throws no_state when not valid.
    template <typename Rep, typename Period>
    std::future_status wait_for(const std::chrono::duration<Rep, Period>& timeout) const {
        if (!future_.valid()) {
            future_detail::throw_no_state();
        }
        return future_.wait_for(timeout);
    }

    // Blocks until the result is stored; returns the value or rethrows the stored
    // exception. The Future is not valid afterwards (its cleanup still runs at destruction).
    T get() {
        if (!future_.valid()) {
            future_detail::throw_no_state();
        }
        return future_.get();
    }

    // Runs continuation once a result is stored: at once on this thread when it already
    // is, otherwise on the delivering thread. Replaces an earlier continuation.
    // Throws no_state when not valid.
    void set_continuation(std::function<void()> continuation) {
        if (!state_ || !future_.valid()) {
            future_detail::throw_no_state();
        }
        std::function<void()> replaced;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            // Deliveries store under this lock, so readiness cannot change meanwhile.
            if (future_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
                replaced = std::exchange(state_->continuation, std::move(continuation));
                return;
            }
        }
        continuation();
    }

  private:
    friend class future_detail::Promise_core<T>;

    Future(std::future<T> future, std::shared_ptr<future_detail::State> state) noexcept
        : future_(std::move(future)), state_(std::move(state)) {}

    // Terminates if the State mutex cannot be locked; a throwing cleanup is ignored.
    void give_up() noexcept {
        future_detail::give_up_state(state_);
        future_ = std::future<T>();
    }

    std::future<T> future_;
    std::shared_ptr<future_detail::State> state_;
};

}  // namespace zun::com
