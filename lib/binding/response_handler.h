#pragma once
// Turns the response of one method call (a return code and a payload) into the outcome
// of the caller's future: the output record, an application error or a transport error,
// each reported as an incident.
//
//   port.call_method(M::id, request, Response_handler<M, R>(port.logger(), promise, info));
//
// Return code 0 -> the record (completion for void methods); a code the method maps to
// an application error -> that error; 0x81, 0x82, 0x86 -> Transport_exception with that
// code; 0xFF -> Service_not_available_exception; any other -> Transport_exception 0x8A.
// A payload that cannot be decoded -> Transport_exception 0x8A.
//
// The typed shells decode and store the record; every other step, incidents included,
// is done once, in response_handler.cpp.

#include <cstdint>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/exceptions.h"
#include "binding/incident_level.h"
#include "binding/output_dispatcher.h"
#include "binding/runtime/runtime.h"
#include "exec/future.h"
#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/raise_incident.h"
#include "someip/deserializer.h"

namespace kem::com::cpp_binding::proxy {

namespace detail {

// A method's GetApplicationErrorExceptionPtr.
using Application_error_factory = std::exception_ptr (*)(std::uint8_t,
                                                         const std::vector<std::uint8_t>&);

// A copy of the payload bytes [first, last) for the decoders: the buffer stays the
// runtime's, and what is decoded or kept (an application error) does not refer to it.
std::vector<std::uint8_t> copy_payload(const Serialized_payload& payload);

zun::com::runtime::Service_id service_of(const Service_info& info);
zun::com::runtime::Instance_id instance_of(const Service_info& info);

// Raises Incident{service, instance, method id, code} with `args` as extra data, if enabled.
template <class Incident, class... Args>
void raise_with_code(kem::com::log::Generic_logger& logger, const Service_info& info,
                     std::uint16_t method_id, std::uint8_t code, const Args&... args) {
    if (incident_enabled<Incident>(logger)) {
        kem::com::log::raise_incident(
            logger, Incident{service_of(info), instance_of(info), method_id, code}, args...);
    }
}

// The outcome of every non-zero return code, its incident raised: the application error
// that `factory` builds from a copy of the payload, or the transport error of the code.
// What building it throws propagates.
std::exception_ptr error_outcome(kem::com::log::Generic_logger& logger, const Service_info& info,
                                 std::uint16_t method_id, std::uint8_t code,
                                 const Serialized_payload& payload,
                                 Application_error_factory factory);

// Reports an exception thrown while a response was taken apart; returns the
// Transport_exception 0x8A to store instead.
std::exception_ptr undecodable(kem::com::log::Generic_logger& logger, const Service_info& info,
                               std::uint16_t method_id, std::uint8_t code,
                               const std::exception& failure);

// Method_call_response_rx of a void method, if enabled.
void report_completion(kem::com::log::Generic_logger& logger, const Service_info& info,
                       std::uint16_t method_id);

// The response path of every non-zero return code. Resolves the promise. A failure
// while building or storing the outcome (a second delivery included) is reported as a
// deserializer exception and Transport_exception 0x8A is stored instead; only a failure
// of that store leaves.
template <class M, class Promise_holder, class Payload>
void handle_error(kem::com::log::Generic_logger& logger, const Service_info& info,
                  std::uint8_t code, Promise_holder promise, Payload payload) {
    std::exception_ptr undecoded;
    try {
        promise->set_exception(
            error_outcome(logger, info, M::id, code, payload, &M::GetApplicationErrorExceptionPtr));
        return;
    } catch (const std::exception& failure) {
        undecoded = undecodable(logger, info, M::id, code, failure);
    }
    promise->set_exception(std::move(undecoded));
}

}  // namespace detail

// The handler a call of method M registers with the runtime; R is M's output record or
// void. Holds the promise and a copy of the port's identity, never the proxy, so a
// response that arrives after the proxy is gone still resolves the caller's future.
// The logger belongs to the runtime and outlives every pending call.
template <class M, class R>
class Response_handler {
  public:
    Response_handler(kem::com::log::Generic_logger& logger,
                     std::shared_ptr<zun::com::Promise<R>> promise, Service_info info) noexcept
        : logger_(&logger), promise_(std::move(promise)), info_(std::move(info)) {}

    // Called once by the runtime, on one of its threads.
    void operator()(std::uint8_t code, Serialized_payload payload) const {
        if (code != 0) {
            detail::handle_error<M>(*logger_, info_, code, promise_, std::move(payload));
            return;
        }
        if constexpr (std::is_void_v<R>) {
            detail::report_completion(*logger_, info_, M::id);
            promise_->set_value();
        } else {
            try {
                const std::vector<std::uint8_t> bytes = detail::copy_payload(payload);
                someip::serialization::Deserializer in(bytes);
                R record{};
                Method_output_deserialization_dispatcher<R, false>::deserialize(in, record);
                detail::raise_with_code<cpp_binding::log::incidents::Method_call_response_rx>(
                    *logger_, info_, M::id, 0, record);
                promise_->set_value(std::move(record));
            } catch (const std::exception& failure) {
                promise_->set_exception(detail::undecodable(*logger_, info_, M::id, 0, failure));
            }
        }
    }

  private:
    kem::com::log::Generic_logger* logger_;
    std::shared_ptr<zun::com::Promise<R>> promise_;
    Service_info info_;
};

}  // namespace kem::com::cpp_binding::proxy
