#pragma once
// One request on its way through the in-process transport, and the application's view
// of it. A Method_call lives as long as the caller's runtime future, the application's
// Incoming_call or a queued transport job refers to it, and keeps the response handler
// until then: what the handler holds (the caller's promise) is released with the call, on
// the thread that lets go of it last, never behind the caller's back on the transport thread.
// A call whose transport job is dropped (the runtime shut down) can never be delivered: it
// releases its handler at once, so the caller's promise is abandoned and its waiter woken
// (the caller's cleanup keeps the call itself alive until the caller gives up).
//
// One call, one allocation: the call carries the State of the runtime future it is sent
// under, the request's buffer (which later carries the response) and the answer.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "binding/runtime/runtime.h"
#include "exec/future.h"
#include "platform/runtime/application.h"

namespace zun::com::runtime {

class Service_instance;

class Method_call {
  public:
    using Response_handler = kem::com::cpp_binding::proxy::Rport::Response_handler;
    using Payload = kem::com::cpp_binding::Serialized_payload;

    Method_call(std::shared_ptr<Service_instance> target, std::uint16_t method_id, Payload request,
                Response_handler handler)
        : target(std::move(target)),
          method_id(method_id),
          request_(std::move(request)),
          handler_(std::move(handler)) {}

    // Null when the port was built from a handle that no runtime record stands behind.
    const std::shared_ptr<Service_instance> target;
    const std::uint16_t method_id;

    // The request bytes as the caller serialized them, until the call is answered.
    platform::runtime::Bytes_view request() const noexcept {
        return {request_.first, request_.last};
    }

    // The State of the runtime future this call is sent under, owned through the call.
    static std::shared_ptr<zun::com::future_detail::State> future_state(
        const std::shared_ptr<Method_call>& call) noexcept {
        return {call, &call->future_state_};
    }

    // Stores the answer once; false when the call was already answered. The response
    // travels in the request's buffer when the call holds it alone: the application has
    // read the request by the time it answers.
    bool answer(std::uint8_t code, const std::vector<std::uint8_t>& bytes);

    // Runs the response handler with the stored answer; every later call does nothing.
    // Exceptions from the handler are swallowed. Call with no runtime lock held.
    void deliver() noexcept;
    // The same with an answer of the runtime's own (service not available), unless answered.
    void deliver(std::uint8_t code) noexcept;
    // Stores an answer of the runtime's own, without payload, to deliver later; false when
    // the call was already answered.
    bool answer(std::uint8_t code) noexcept;
    // For a call that will never be delivered: releases the response handler (with it the
    // caller's promise) on this thread, unless a delivery has begun; later deliveries do
    // nothing.
    void drop() noexcept;

  private:
    zun::com::future_detail::State future_state_;
    Payload request_;
    Response_handler handler_;  // called or released once, by whoever sets delivered_
    std::uint8_t code_ = 0;
    std::atomic<bool> answered_{false};
    std::atomic<bool> delivered_{false};
};

}  // namespace zun::com::runtime
