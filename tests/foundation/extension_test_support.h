#pragma once
// What the extension tests share: an offered application instance that records every call
// and answers at once or keeps the call unanswered, and the SOME/IP request payload that a
// call with given arguments carries.
//
//   Application app(Interface::service_id, "ext.read");
//   app.answer_with(0, {0x07});            // or keep every call: the default

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/application.h"
#include "someip/serializer.h"

namespace extension_test {

using Bytes = std::vector<std::uint8_t>;
using Meta = std::map<std::string, std::string>;

struct Received_call {
    std::uint16_t method_id;
    Bytes payload;
};

// Method ids shared by every interface kind.
inline constexpr std::uint16_t cancel_id = 0;

class Application {
  public:
    Application(std::string service, std::string instance) : state_(std::make_shared<State>()) {
        offer_ = platform::runtime::offer_service(
            std::move(service), std::move(instance),
            [state = state_](platform::runtime::Incoming_call call) {
                std::unique_lock<std::mutex> lock(state->mutex);
                state->calls.push_back(Received_call{call.method_id(), call.payload()});
                state->arrived.notify_all();
                if (!state->answers) {
                    state->kept.push_back(std::move(call));
                    return;
                }
                const std::uint8_t code = state->code;
                Bytes payload = state->payload;
                lock.unlock();
                call.respond(code, std::move(payload));
            });
    }

    // Every later call is answered at once with `code` and `payload`.
    void answer_with(std::uint8_t code, Bytes payload) {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->answers = true;
        state_->code = code;
        state_->payload = std::move(payload);
    }

    // Every later call is kept unanswered until respond_to_kept or destruction.
    void keep_calls() {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->answers = false;
    }

    // Answers the oldest kept call; false when none is kept or it was answered before.
    bool respond_to_kept(std::uint8_t code, Bytes payload) {
        platform::runtime::Incoming_call call(nullptr);
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            if (state_->kept.empty()) {
                return false;
            }
            call = std::move(state_->kept.front());
            state_->kept.erase(state_->kept.begin());
        }
        return call.respond(code, std::move(payload));
    }

    // Waits (at most 10 s) until `count` calls have arrived.
    bool wait_for_calls(std::size_t count) const {
        std::unique_lock<std::mutex> lock(state_->mutex);
        return state_->arrived.wait_for(lock, std::chrono::seconds(10),
                                        [&] { return state_->calls.size() >= count; });
    }

    std::vector<Received_call> calls() const {
        std::lock_guard<std::mutex> lock(state_->mutex);
        return state_->calls;
    }

    void withdraw() { offer_.withdraw(); }

  private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable arrived;
        std::vector<Received_call> calls;
        std::vector<platform::runtime::Incoming_call> kept;
        bool answers = false;
        std::uint8_t code = 0;
        Bytes payload;
    };
    std::shared_ptr<State> state_;
    platform::runtime::Offer offer_;  // withdrawn before the state goes
};

// The request payload of a call with `meta` and `inputs`: what the application receives.
template <class... Inputs>
Bytes request_payload(const Meta& meta, const Inputs&... inputs) {
    Bytes payload;
    kem::com::someip::serialization::serialize_method_arguments(payload, meta, inputs...);
    return payload;
}

}  // namespace extension_test
