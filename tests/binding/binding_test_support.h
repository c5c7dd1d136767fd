#pragma once
// What the binding and proxy tests share: capturing the incident lines of the platform
// log, finding an offered instance, and an application that records the calls it gets.

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "ara/log/logger.h"
#include "binding/proxy_impl.h"
#include "binding/runtime/runtime.h"
#include "log/generic_logger.h"
#include "platform/ara_log/control.h"
#include "platform/ara_log/recording_sink.h"
#include "platform/runtime/application.h"

namespace binding_test {

// Records every log line while it exists, at the given threshold; restores the previous
// sink and threshold afterwards.
class Log_capture {
  public:
    struct Line {
        ara::log::LogLevel level;
        nlohmann::json document;  // discarded (null) when the text is not JSON
    };

    explicit Log_capture(ara::log::LogLevel threshold = ara::log::LogLevel::kDebug)
        : sink_(std::make_shared<platform::ara_log::Recording_sink>()),
          previous_threshold_(platform::ara_log::threshold()),
          previous_sink_(platform::ara_log::set_sink(sink_)) {
        platform::ara_log::set_threshold(threshold);
    }
    ~Log_capture() {
        platform::ara_log::set_threshold(previous_threshold_);
        platform::ara_log::set_sink(previous_sink_);
    }
    Log_capture(const Log_capture&) = delete;
    Log_capture& operator=(const Log_capture&) = delete;

    // The lines of one incident ("1_incident"/"1_id"), in emission order.
    std::vector<Line> incidents(const std::string& id) const {
        std::vector<Line> lines;
        for (const auto& record : sink_->records()) {
            auto document = nlohmann::json::parse(record.text, nullptr, false);
            if (document.is_object() && document.contains("1_incident") &&
                document["1_incident"].value("1_id", "") == id) {
                lines.push_back(Line{record.level, std::move(document)});
            }
        }
        return lines;
    }

    std::size_t size() const { return sink_->size(); }
    void clear() { sink_->clear(); }

  private:
    std::shared_ptr<platform::ara_log::Recording_sink> sink_;
    ara::log::LogLevel previous_threshold_;
    std::shared_ptr<platform::ara_log::Sink> previous_sink_;
};

// Starts a discovery of S, waits for the first report that names an instance and returns
// its first handle; the discovery is stopped before returning.
template <class S>
typename kem::com::cpp_binding::proxy::Proxy_impl<S>::Handle_type find_first(
    const std::string& instance) {
    using Impl = kem::com::cpp_binding::proxy::Proxy_impl<S>;
    using Handle = typename Impl::Handle_type;
    std::promise<Handle> found;
    bool done = false;  // touched only by the handler, which runs on the strand
    auto handle = Impl::start_find_service(
        [&found, &done](std::vector<Handle> handles) {
            if (!done && !handles.empty()) {
                done = true;
                found.set_value(handles.front());
            }
        },
        zun::com::runtime::Instance_id(instance), ara::com::logger());
    auto result = found.get_future();
    const bool ready = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    Impl::stop_find_service(handle);
    if (!ready) {
        throw std::runtime_error("no instance of the service was found");
    }
    return result.get();
}

// One request as the application saw it.
struct Received_call {
    std::uint16_t method_id;
    std::vector<std::uint8_t> payload;
};

// An offered instance whose handler records every call and hands it to `answer`, which
// may respond at once, keep the call for later, or drop it.
class Recording_application {
  public:
    using Answer = std::function<void(platform::runtime::Incoming_call)>;

    Recording_application(const std::string& service, const std::string& instance, Answer answer)
        : state_(std::make_shared<State>()) {
        state_->answer = std::move(answer);
        offer_ = platform::runtime::offer_service(
            service, instance, [state = state_](platform::runtime::Incoming_call call) {
                Answer answer;
                {
                    std::lock_guard<std::mutex> lock(state->mutex);
                    state->calls.push_back(Received_call{call.method_id(), call.payload()});
                    answer = state->answer;
                }
                answer(std::move(call));
            });
    }

    // An application that answers every call at once with `code` and `payload`.
    static Answer respond_with(std::uint8_t code, std::vector<std::uint8_t> payload = {}) {
        return
            [code, payload](platform::runtime::Incoming_call call) { call.respond(code, payload); };
    }

    std::vector<Received_call> calls() const {
        std::lock_guard<std::mutex> lock(state_->mutex);
        return state_->calls;
    }

    void withdraw() { offer_.withdraw(); }

  private:
    struct State {
        std::mutex mutex;
        std::vector<Received_call> calls;
        Answer answer;
    };
    std::shared_ptr<State> state_;
    platform::runtime::Offer offer_;
};

}  // namespace binding_test
