#include "host/application.h"

#include <chrono>
#include <memory>
#include <utility>

namespace host {

Simulated_application::Simulated_application(std::string service, std::string instance,
                                             Recording recording)
    : service_(std::move(service)), instance_(std::move(instance)), recording_(recording) {
    offer();
}

Simulated_application::~Simulated_application() {
    withdraw();
    std::vector<platform::runtime::Incoming_call> held;  // destroyed after the lock
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(held_);
}

void Simulated_application::set_rule(std::uint16_t method, Rule rule) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[method] = std::move(rule);
}

void Simulated_application::answer(std::uint16_t method, std::uint8_t code, Bytes payload) {
    answer(method, code, std::move(payload), std::chrono::milliseconds(0));
}

void Simulated_application::answer(std::uint16_t method, std::uint8_t code, Bytes payload,
                                   std::chrono::milliseconds delay) {
    set_rule(method, Rule{Rule::Kind::answer,
                          std::make_shared<const Reply>(Reply{code, std::move(payload)}), delay});
}

void Simulated_application::hold(std::uint16_t method) {
    set_rule(method, Rule{Rule::Kind::hold, nullptr});
}

void Simulated_application::drop(std::uint16_t method) {
    set_rule(method, Rule{Rule::Kind::drop, nullptr});
}

void Simulated_application::drop_others() {
    std::lock_guard<std::mutex> lock(mutex_);
    other_rule_ = Rule{Rule::Kind::drop, nullptr};
}

void Simulated_application::set_policy(Policy policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    policy_ = std::move(policy);
}

void Simulated_application::set_observer(Observer observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

void Simulated_application::set_scheduler(Scheduler scheduler) {
    std::lock_guard<std::mutex> lock(mutex_);
    scheduler_ = std::move(scheduler);
}

std::size_t Simulated_application::release_held(
    const std::function<Reply(std::uint16_t method)>& choose) {
    std::vector<platform::runtime::Incoming_call> held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held.swap(held_);
    }
    for (auto& call : held) {
        Reply reply = choose(call.method_id());
        call.respond(reply.code, reply.payload);
    }
    return held.size();
}

std::size_t Simulated_application::release_held(std::uint8_t code, const Bytes& payload) {
    return release_held([&](std::uint16_t) { return Reply{code, payload}; });
}

void Simulated_application::withdraw() {
    offer_.withdraw();
}

void Simulated_application::offer() {
    offer_ = platform::runtime::offer_service(
        service_, instance_, [this](platform::runtime::Incoming_call call) { handle(call); });
}

std::vector<Received_call> Simulated_application::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::size_t Simulated_application::call_count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return call_count_;
}

bool Simulated_application::wait_for_calls(std::size_t count) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return call_count_ >= count; });
}

Received_call Simulated_application::received_of(const platform::runtime::Incoming_call& call) {
    const platform::runtime::Bytes_view payload = call.payload();
    return Received_call{call.service(), call.instance(), call.method_id(),
                         Bytes(payload.begin(), payload.end())};
}

void Simulated_application::count_locked(const Rule& rule, Received_call& received,
                                         platform::runtime::Incoming_call& call) {
    ++call_count_;
    if (recording_ == Recording::calls) {
        calls_.push_back(std::move(received));
    }
    if (rule.kind == Rule::Kind::hold) {
        held_.push_back(std::move(call));
    }
}

void Simulated_application::handle(platform::runtime::Incoming_call& call) {
    const std::uint16_t method = call.method_id();
    Received_call received;
    if (recording_ == Recording::calls) {
        received = received_of(call);
    }
    Rule rule;
    Policy policy;
    Observer observer;
    Scheduler scheduler;
    bool counted = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        policy = policy_;
        observer = observer_;
        scheduler = scheduler_;
        if (!policy) {
            const auto found = rules_.find(method);
            rule = found != rules_.end() ? found->second : other_rule_;
        }
        // Nothing runs before the call is counted: one pass under the lock.
        if (!policy && !observer) {
            count_locked(rule, received, call);
            counted = true;
        }
    }
    if (!counted) {
        if ((policy || observer) && recording_ != Recording::calls) {
            received = received_of(call);
        }
        if (observer) {
            observer(received);
        }
        if (policy) {
            std::optional<Reply> reply = policy(received);
            rule = reply
                       ? Rule{Rule::Kind::answer, std::make_shared<const Reply>(std::move(*reply))}
                       : Rule{Rule::Kind::hold, nullptr};
        }
        std::lock_guard<std::mutex> lock(mutex_);
        count_locked(rule, received, call);
    }
    arrived_.notify_all();
    if (rule.kind != Rule::Kind::answer) {
        return;  // held, or dropped: the call ends here unanswered
    }
    if (rule.delay.count() > 0 && scheduler) {
        // The call is move-only and scheduled tasks are copyable: share it.
        auto delayed = std::make_shared<platform::runtime::Incoming_call>(std::move(call));
        scheduler(rule.delay, [delayed, reply = std::move(rule.reply)] {
            delayed->respond(reply ? reply->code : 0, reply ? reply->payload : Bytes{});
        });
        return;
    }
    static const Reply empty;
    const Reply& reply = rule.reply ? *rule.reply : empty;
    call.respond(reply.code, reply.payload);
}

}  // namespace host
