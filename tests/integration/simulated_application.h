#pragma once
// A simulated application service for the end-to-end tests: offers one service instance
// through the runtime stand-in, records every call that reaches it and answers each at
// once, later (held, then released from any thread) or never.
//
//   Simulated_application app(entry.service_id());
//   app.answer(1, 0, someip_record(layout, values));   // Read answers with this record

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "integration/wire_bytes.h"
#include "platform/runtime/application.h"

namespace integration {

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

class Simulated_application {
  public:
    // Decides per call: a reply to send at once, or nothing to hold the call. Runs on the
    // runtime's transport thread under no lock of this class.
    using Policy = std::function<std::optional<Reply>(const Received_call&)>;

    // Offers `service` under `instance` at once. Every method answers code 0 with an empty
    // payload until told otherwise.
    explicit Simulated_application(std::string service, std::string instance = "diag");
    // Withdraws the offer; held calls are dropped without an answer.
    ~Simulated_application();
    Simulated_application(const Simulated_application&) = delete;
    Simulated_application& operator=(const Simulated_application&) = delete;

    void answer(std::uint16_t method, std::uint8_t code, Bytes payload);
    // Calls of `method` stay unanswered until release_held().
    void hold(std::uint16_t method);
    // Replaces the per-method rules by `policy` (null restores them).
    void set_policy(Policy policy);
    // Off: calls are counted but not stored.
    void set_recording(bool on);

    // Answers every held call with (code, payload); returns how many there were.
    std::size_t release_held(std::uint8_t code, const Bytes& payload);
    // Answers every held call with the reply chosen for its method.
    std::size_t release_held(const std::function<Reply(std::uint16_t method)>& choose);
    // Destroys the held calls without answering them.
    void drop_held();

    void withdraw();
    void offer();
    bool offered() const { return offer_.active(); }

    std::vector<Received_call> calls() const;
    std::size_t call_count() const;
    std::size_t held_count() const;
    // True once at least `count` calls arrived; false when `timeout` passes first.
    bool wait_for_calls(std::size_t count,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  private:
    struct Rule {
        bool hold = false;
        Reply reply;
    };
    struct State {
        mutable std::mutex mutex;
        mutable std::condition_variable arrived;
        std::size_t count = 0;
        bool recording = true;
        std::vector<Received_call> calls;
        std::map<std::uint16_t, Rule> rules;
        Policy policy;
        std::vector<platform::runtime::Incoming_call> held;
    };
    static void handle(const std::shared_ptr<State>& state, platform::runtime::Incoming_call call);

    std::string service_;
    std::string instance_;
    std::shared_ptr<State> state_;
    platform::runtime::Offer offer_;
};

}  // namespace integration
