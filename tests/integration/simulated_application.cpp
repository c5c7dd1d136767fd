// Simulated application service over the runtime stand-in's application side.

#include "integration/simulated_application.h"

#include <utility>

namespace integration {

Simulated_application::Simulated_application(std::string service, std::string instance)
    : service_(std::move(service)),
      instance_(std::move(instance)),
      state_(std::make_shared<State>()) {
    offer();
}

Simulated_application::~Simulated_application() {
    offer_.withdraw();
    drop_held();
}

void Simulated_application::answer(std::uint16_t method, std::uint8_t code, Bytes payload) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rules[method] = Rule{false, Reply{code, std::move(payload)}};
}

void Simulated_application::hold(std::uint16_t method) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rules[method] = Rule{true, {}};
}

void Simulated_application::set_policy(Policy policy) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->policy = std::move(policy);
}

void Simulated_application::set_recording(bool on) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->recording = on;
}

std::size_t Simulated_application::release_held(std::uint8_t code, const Bytes& payload) {
    return release_held([&](std::uint16_t) { return Reply{code, payload}; });
}

std::size_t Simulated_application::release_held(
    const std::function<Reply(std::uint16_t method)>& choose) {
    std::vector<platform::runtime::Incoming_call> held;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        held.swap(state_->held);
    }
    for (auto& call : held) {
        auto reply = choose(call.method_id());
        call.respond(reply.code, std::move(reply.payload));
    }
    return held.size();
}

void Simulated_application::drop_held() {
    std::vector<platform::runtime::Incoming_call> held;
    std::lock_guard<std::mutex> lock(state_->mutex);
    held.swap(state_->held);
    // `held` is destroyed after the lock is released (declared first).
}

void Simulated_application::withdraw() {
    offer_.withdraw();
}

void Simulated_application::offer() {
    auto state = state_;
    offer_ = platform::runtime::offer_service(
        service_, instance_,
        [state](platform::runtime::Incoming_call call) { handle(state, std::move(call)); });
}

std::vector<Received_call> Simulated_application::calls() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->calls;
}

std::size_t Simulated_application::call_count() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->count;
}

std::size_t Simulated_application::held_count() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->held.size();
}

bool Simulated_application::wait_for_calls(std::size_t count,
                                           std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->arrived.wait_for(lock, timeout, [&] { return state_->count >= count; });
}

void Simulated_application::handle(const std::shared_ptr<State>& state,
                                   platform::runtime::Incoming_call call) {
    Received_call received{call.service(), call.instance(), call.method_id(), call.payload()};
    Policy policy;
    std::optional<Reply> reply;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        policy = state->policy;
        if (!policy) {
            const auto rule = state->rules.find(received.method_id);
            if (rule == state->rules.end()) {
                reply = Reply{};
            } else if (!rule->second.hold) {
                reply = rule->second.reply;
            }
        }
    }
    if (policy)
        reply = policy(received);
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!reply)
            state->held.push_back(std::move(call));
        ++state->count;
        if (state->recording)
            state->calls.push_back(std::move(received));
    }
    state->arrived.notify_all();
    if (reply)
        call.respond(reply->code, std::move(reply->payload));
}

}  // namespace integration
