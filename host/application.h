#pragma once
// A simulated application service: offers one instance of a service through the runtime
// stand-in and answers the calls that reach it, by a rule per method: at once or after a
// delay with a return code and a payload, later (held until released from any thread), or
// never (dropped).
//
//   host::Simulated_application app(Interface::service_id);   // instance "diag"
//   app.answer(Interface::Read::id, 0, {0x07});   // Read answers code 0, payload 07
//   app.hold(Interface::Cancel::id);              // ... until app.release_held(0, {})
//
// A method without a rule answers code 0 with an empty payload, unless drop_others().

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

#include "platform/runtime/application.h"

namespace host {

using Bytes = std::vector<std::uint8_t>;

struct Received_call {
    std::string service;
    std::string instance;
    std::uint16_t method_id = 0;
    Bytes payload;  // as the caller serialized it, MetaInfo first
};

struct Reply {
    std::uint8_t code = 0;  // 0, 2 (application error, payload: the codes), transport codes
    Bytes payload;
};

// Threads: calls arrive on the runtime's transport thread, which runs the policy, the observer
// and the scheduler under no lock of this class; every member may be called from any other
// thread.
class Simulated_application {
  public:
    // Decides per call instead of the rules: a reply to send at once, or none to hold it.
    using Policy = std::function<std::optional<Reply>(const Received_call&)>;
    // Runs for every call before it is recorded and answered.
    using Observer = std::function<void(const Received_call&)>;
    // Runs `task` once `delay` has passed, on a thread of its own; may drop tasks not yet due
    // when it ends. Copyable tasks, which must not throw.
    using Scheduler =
        std::function<void(std::chrono::milliseconds delay, std::function<void()> task)>;
    // `none` keeps only the count of calls: for long runs that must not grow or allocate.
    enum class Recording { calls, none };

    // Offered at once.
    explicit Simulated_application(std::string service, std::string instance = "diag",
                                   Recording recording = Recording::calls);
    // Withdrawing waits for a running handler; held calls are then dropped unanswered.
    ~Simulated_application();
    Simulated_application(const Simulated_application&) = delete;
    Simulated_application& operator=(const Simulated_application&) = delete;

    // Calls of `method` are answered at once with `code` and `payload`.
    void answer(std::uint16_t method, std::uint8_t code, Bytes payload);
    // ... after `delay`, through the scheduler (at once while none is set).
    void answer(std::uint16_t method, std::uint8_t code, Bytes payload,
                std::chrono::milliseconds delay);
    // Calls of `method` stay unanswered until released.
    void hold(std::uint16_t method);
    // Calls of `method` are dropped unanswered: the caller's future stays pending.
    void drop(std::uint16_t method);
    // Calls of every method without a rule are dropped too.
    void drop_others();
    // Replaces the per-method rules while set.
    void set_policy(Policy policy);
    void set_observer(Observer observer);
    void set_scheduler(Scheduler scheduler);

    // Answers every held call with the reply chosen for its method; returns how many.
    std::size_t release_held(const std::function<Reply(std::uint16_t method)>& choose);
    std::size_t release_held(std::uint8_t code, const Bytes& payload);

    void withdraw();
    void offer();

    // Empty with Recording::none.
    std::vector<Received_call> calls() const;
    std::size_t call_count() const;
    // True once `count` calls have arrived; false after 10 s.
    bool wait_for_calls(std::size_t count) const;

  private:
    // Copied out of the lock for every call: the reply is shared, not copied.
    struct Rule {
        enum class Kind { answer, hold, drop } kind = Kind::answer;
        std::shared_ptr<const Reply> reply;  // null: code 0, no payload
        std::chrono::milliseconds delay{0};
    };

    void set_rule(std::uint16_t method, Rule rule);
    void handle(platform::runtime::Incoming_call& call);
    static Received_call received_of(const platform::runtime::Incoming_call& call);
    // Counts and records the call, and keeps it when the rule holds it. Under mutex_.
    void count_locked(const Rule& rule, Received_call& received,
                      platform::runtime::Incoming_call& call);

    const std::string service_;
    const std::string instance_;
    const Recording recording_;
    // Guards everything below it but the offer; never held while a policy, an observer or a
    // caller's response handler runs.
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Received_call> calls_;
    std::size_t call_count_ = 0;
    std::map<std::uint16_t, Rule> rules_;
    Rule other_rule_;  // for methods without a rule
    Policy policy_;
    Observer observer_;
    Scheduler scheduler_;
    std::vector<platform::runtime::Incoming_call> held_;
    platform::runtime::Offer offer_;  // first to go: withdrawn before the state above
};

}  // namespace host
