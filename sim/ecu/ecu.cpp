#include "sim/ecu/ecu.h"

#include <algorithm>
#include <utility>

namespace dmsim {

namespace {

void append_u16(Bytes& out, long long value) {
    const auto clamped = static_cast<std::uint16_t>(std::clamp(value, 0LL, 0xFFFFLL));
    out.push_back(static_cast<std::uint8_t>(clamped >> 8));
    out.push_back(static_cast<std::uint8_t>(clamped & 0xFF));
}

}  // namespace

Pending_watch::Pending_watch(const Ecu_options& options)
    : options_(options), thread_([this] { run(); }) {}

Pending_watch::~Pending_watch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Pending_watch::start(Notify pending) {
    Notify previous;  // destroyed outside the lock
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto now = Clock::now();
        previous = std::exchange(pending_, std::move(pending));
        active_ = true;
        sent_ = 0;
        next_pending_ = now + options_.p2;
        cancel_at_.reset();
        if (options_.cancel_after) {
            cancel_at_ = now + *options_.cancel_after;
        }
        if (verdict_ != Verdict::abandoned) {
            verdict_ = Verdict::running;
        }
    }
    changed_.notify_all();
}

unsigned Pending_watch::finish() {
    Notify done;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    active_ = false;
    done = std::move(pending_);
    pending_ = nullptr;
    return sent_;
}

void Pending_watch::abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        verdict_ = Verdict::abandoned;
        next_cancel_ = Clock::now();
    }
    changed_.notify_all();
}

Pending_watch::Verdict Pending_watch::verdict() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return verdict_;
}

void Pending_watch::watch(std::function<bool()> cancel) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancel_ = std::move(cancel);
        fired_ = false;
        next_cancel_ = Clock::now();
    }
    changed_.notify_all();
}

bool Pending_watch::unwatch() {
    std::function<bool()> done;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    done = std::move(cancel_);
    cancel_ = nullptr;
    return std::exchange(fired_, false);
}

void Pending_watch::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (!active_) {
            changed_.wait(lock);
            continue;
        }
        const auto now = Clock::now();
        if (verdict_ == Verdict::running && cancel_at_ && now >= *cancel_at_) {
            verdict_ = Verdict::cancel_after;
        }
        if (verdict_ == Verdict::running && now >= next_pending_) {
            if (sent_ >= options_.max_pending) {
                verdict_ = Verdict::limit;
            } else {
                // Pending answer outside the lock; finish waits for it to return.
                Notify pending = pending_;
                ++sent_;
                next_pending_ += options_.pending_interval;
                busy_ = true;
                lock.unlock();
                if (pending) {
                    pending();
                }
                lock.lock();
                busy_ = false;
                changed_.notify_all();
                continue;
            }
        }
        if (verdict_ != Verdict::running && cancel_ && now >= next_cancel_) {
            std::function<bool()> cancel = cancel_;
            busy_ = true;
            lock.unlock();
            const bool accepted = cancel();
            lock.lock();
            busy_ = false;
            fired_ = fired_ || accepted;
            next_cancel_ = Clock::now() + retry_interval;
            changed_.notify_all();
            continue;
        }
        if (verdict_ == Verdict::running) {
            auto wake = next_pending_;
            if (cancel_at_) {
                wake = std::min(wake, *cancel_at_);
            }
            changed_.wait_until(lock, wake);
        } else if (cancel_) {
            changed_.wait_until(lock, next_cancel_);
        } else {
            changed_.wait(lock);
        }
    }
}

Ecu::Ecu(Uds_router::Did_map dids, Uds_router::Rid_map rids, Ecu_options options)
    : options_(std::move(options)), router_(std::move(dids), std::move(rids), options_.limits) {}

Outcome Ecu::answer(const Bytes& request, const kem::dm::types::MetaInfo& meta, Tester& tester,
                    const std::function<void(const Bytes&)>& pending) const {
    if (request.empty()) {
        return {};
    }
    const auto now = Pending_watch::Clock::now();
    if (now - tester.last_request_ > options_.s3) {
        tester.session_ = default_session;
    }
    tester.last_request_ = now;

    const std::uint8_t service = request[0];
    Bytes effective = request;
    bool suppress = false;
    if ((service == sid_session_control || service == sid_tester_present ||
         service == sid_routine_control) &&
        request.size() >= 2 && (request[1] & suppress_bit) != 0) {
        suppress = true;
        effective[1] &= static_cast<std::uint8_t>(~suppress_bit);
    }

    Outcome outcome;
    if (service == sid_session_control) {
        outcome = session_control(effective, tester);
    } else if (service == sid_tester_present) {
        outcome = tester_present(effective);
    } else {
        Pending_watch& watch = tester.watch_;
        const Bytes pending_answer = {negative_response, service, response_pending};
        watch.start([&pending, &pending_answer] {
            if (pending) {
                pending(pending_answer);
            }
        });
        outcome = router_.answer(effective, meta, &watch);
        outcome.pending = watch.finish();
        switch (watch.verdict()) {
            case Pending_watch::Verdict::limit:
                outcome.response = {negative_response, service, general_reject};
                outcome.cancelled = false;
                break;
            case Pending_watch::Verdict::abandoned:
                outcome.response.clear();
                outcome.cancelled = true;
                break;
            default:
                break;
        }
    }
    // A tester that saw a pending answer waits for the final one, suppressed or not.
    if (suppress && outcome.pending == 0 && !outcome.response.empty() &&
        outcome.response[0] != negative_response) {
        outcome.response.clear();
        outcome.suppressed = true;
    }
    return outcome;
}

Outcome Ecu::session_control(const Bytes& request, Tester& tester) const {
    if (request.size() != 2) {
        return negative(sid_session_control, incorrect_length);
    }
    const std::uint8_t session = request[1];
    if (session != default_session && session != extended_session) {
        return negative(sid_session_control, sub_function_not_supported);
    }
    tester.session_ = session;
    Outcome outcome;
    outcome.response = {sid_session_control + positive_offset, session};
    append_u16(outcome.response, options_.p2.count());
    append_u16(outcome.response, options_.p2_star.count() / 10);
    return outcome;
}

Outcome Ecu::tester_present(const Bytes& request) const {
    if (request.size() != 2) {
        return negative(sid_tester_present, incorrect_length);
    }
    if (request[1] != 0x00) {
        return negative(sid_tester_present, sub_function_not_supported);
    }
    return {{sid_tester_present + positive_offset, 0x00}};
}

}  // namespace dmsim
