#pragma once
// One request on its way through the in-process transport, and the application's view
// of it. A Method_call lives as long as the caller's runtime future or the application's
// Incoming_call, whichever is released last, and keeps the response handler until then:
// what the handler holds (the caller's promise) is released with the call, on the thread
// that lets go of it last, never behind the caller's back on the transport thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "binding/runtime/runtime.h"
#include "platform/runtime/application.h"

namespace zun::com::runtime {

class Service_instance;

class Method_call {
  public:
    using Response_handler = kem::com::cpp_binding::proxy::Rport::Response_handler;

    Method_call(std::shared_ptr<Service_instance> target, kem::com::cpp_binding::Service_info info,
                std::uint16_t method_id, std::vector<std::uint8_t> request,
                Response_handler handler)
        : target(std::move(target)),
          info(std::move(info)),
          method_id(method_id),
          request(std::move(request)),
          handler_(std::move(handler)) {}

    // Null when the port was built from a handle that no runtime record stands behind.
    const std::shared_ptr<Service_instance> target;
    const kem::com::cpp_binding::Service_info info;
    const std::uint16_t method_id;
    const std::vector<std::uint8_t> request;

    // Runs the response handler with the answer; every later call does nothing. Exceptions
    // from the handler are swallowed. Call with no runtime lock held.
    void deliver(std::uint8_t code, kem::com::cpp_binding::Serialized_payload payload) noexcept;

  private:
    const Response_handler handler_;
    std::atomic<bool> delivered_{false};
};

}  // namespace zun::com::runtime

namespace platform::runtime {

// Behind an Incoming_call: the request and whether it has been answered.
class Call_state {
  public:
    explicit Call_state(std::shared_ptr<zun::com::runtime::Method_call> call)
        : call_(std::move(call)) {}

    const zun::com::runtime::Method_call& call() const noexcept { return *call_; }
    // False when already answered. Precondition: the call has a target record.
    bool respond(std::uint8_t return_code, std::vector<std::uint8_t> payload);

  private:
    std::shared_ptr<zun::com::runtime::Method_call> call_;
    std::atomic<bool> answered_{false};
};

}  // namespace platform::runtime
