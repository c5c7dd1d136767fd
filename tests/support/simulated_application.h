#pragma once
// A simulated application service: offers one instance through the runtime stand-in, records
// every call that reaches it and answers each at once, later (held, then released from any
// thread) or never.
//
//   Simulated_application app(entry.service_id());
//   app.answer(1, 0, {0x07});   // method 1 answers return code 0 with payload 07

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/application.h"
#include "support/wire_bytes.h"

namespace support {

struct Received_call {
    std::string service;
    std::string instance;
    std::uint16_t method_id;
    Bytes payload;
};

struct Reply {
    std::uint8_t code = 0;
    Bytes payload;
};

// Threads: calls arrive on the runtime's transport thread, which runs a policy under no lock
// of this class; every member may be called from any other thread.
class Simulated_application {
  public:
    // Decides per call: a reply to send at once, or none to hold the call.
    using Policy = std::function<std::optional<Reply>(const Received_call&)>;

    // Offered at once; every method answers code 0 with no payload until told otherwise.
    explicit Simulated_application(std::string service, std::string instance = "diag")
        : service_(std::move(service)), instance_(std::move(instance)) {
        offer();
    }
    // Withdrawing waits for a running handler; held calls are then dropped unanswered.
    ~Simulated_application() {
        withdraw();
        std::vector<platform::runtime::Incoming_call> held;  // destroyed after the lock
        std::lock_guard<std::mutex> lock(mutex_);
        held.swap(held_);
    }
    Simulated_application(const Simulated_application&) = delete;
    Simulated_application& operator=(const Simulated_application&) = delete;

    void answer(std::uint16_t method, std::uint8_t code, Bytes payload) {
        std::lock_guard<std::mutex> lock(mutex_);
        rules_[method] = Reply{code, std::move(payload)};
    }
    // Calls of `method` stay unanswered until released.
    void hold(std::uint16_t method) {
        std::lock_guard<std::mutex> lock(mutex_);
        rules_[method] = std::nullopt;
    }
    // Replaces the per-method rules.
    void set_policy(Policy policy) {
        std::lock_guard<std::mutex> lock(mutex_);
        policy_ = std::move(policy);
    }

    // Answers every held call with the reply chosen for its method; returns how many.
    std::size_t release_held(const std::function<Reply(std::uint16_t method)>& choose) {
        std::vector<platform::runtime::Incoming_call> held;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            held.swap(held_);
        }
        for (auto& call : held) {
            Reply reply = choose(call.method_id());
            call.respond(reply.code, std::move(reply.payload));
        }
        return held.size();
    }
    std::size_t release_held(std::uint8_t code, const Bytes& payload) {
        return release_held([&](std::uint16_t) { return Reply{code, payload}; });
    }

    void withdraw() { offer_.withdraw(); }
    void offer() {
        offer_ = platform::runtime::offer_service(
            service_, instance_, [this](platform::runtime::Incoming_call call) { handle(call); });
    }

    std::vector<Received_call> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::size_t call_count() const { return calls().size(); }
    // True once `count` calls have arrived; false after 10 s.
    bool wait_for_calls(std::size_t count) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return calls_.size() >= count; });
    }

  private:
    void handle(platform::runtime::Incoming_call& call) {
        Received_call received{call.service(), call.instance(), call.method_id(), call.payload()};
        std::optional<Reply> reply = Reply{};
        Policy policy;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            policy = policy_;
            const auto rule = rules_.find(received.method_id);
            if (!policy && rule != rules_.end()) {
                reply = rule->second;
            }
        }
        if (policy) {
            reply = policy(received);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back(std::move(received));
            if (!reply) {
                held_.push_back(std::move(call));
            }
        }
        arrived_.notify_all();
        if (reply) {
            call.respond(reply->code, std::move(reply->payload));
        }
    }

    const std::string service_;
    const std::string instance_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Received_call> calls_;
    std::map<std::uint16_t, std::optional<Reply>> rules_;  // nullopt: hold
    Policy policy_;
    std::vector<platform::runtime::Incoming_call> held_;
    platform::runtime::Offer offer_;  // first to go: withdrawn before the state above
};

}  // namespace support
