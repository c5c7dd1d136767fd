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

#include <cstdint>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

// Before any log header: runtime.h names kem::com::log::Generic_logger as log::Generic_logger
// from inside kem::com::cpp_binding, which must not yet have a nested namespace log.
#include "binding/runtime/runtime.h"

#include "binding/exceptions.h"
#include "binding/incident_level.h"
#include "binding/output_dispatcher.h"
#include "exec/future.h"
#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/raise_incident.h"
#include "someip/deserializer.h"

namespace kem::com::cpp_binding::proxy {

namespace detail {

// Transport code stored for a return code the binding does not know and for a payload
// that cannot be decoded.
inline constexpr std::uint8_t invalid_response_code = 0x8A;

// The payload bytes as a vector for the decoders: the runtime's buffer itself when the
// payload spans all of it (no copy), otherwise a copy of [first, last) in `copy`.
inline const std::vector<std::uint8_t>& payload_bytes(const Serialized_payload& payload,
                                                      std::vector<std::uint8_t>& copy) {
    const std::vector<std::uint8_t>* buffer = payload.buffer.get();
    if (buffer != nullptr && payload.first == buffer->data() &&
        payload.last == buffer->data() + buffer->size()) {
        return *buffer;
    }
    if (payload.first != nullptr && payload.last > payload.first) {
        copy.assign(payload.first, payload.last);
    }
    return copy;
}

inline zun::com::runtime::Service_id service_of(const Service_info& info) {
    return zun::com::runtime::Service_id(info.service_id);
}

inline zun::com::runtime::Instance_id instance_of(const Service_info& info) {
    return zun::com::runtime::Instance_id(info.instance_id);
}

// Raises Incident{service, instance, method id, code} with `args` as extra data, if enabled.
template <class Incident, class... Args>
void raise_with_code(kem::com::log::Generic_logger& logger, const Service_info& info,
                     std::uint16_t method_id, std::uint8_t code, const Args&... args) {
    if (incident_enabled<Incident>(logger)) {
        kem::com::log::raise_incident(
            logger, Incident{service_of(info), instance_of(info), method_id, code}, args...);
    }
}

// Reports an exception thrown while a response was taken apart and stores the
// Transport_exception 0x8A instead.
template <class M, class Promise_holder>
void fail_undecodable(kem::com::log::Generic_logger& logger, const Service_info& info,
                      std::uint8_t code, const Promise_holder& promise,
                      const std::exception& failure) {
    raise_with_code<cpp_binding::log::incidents::Method_call_deserializer_exception>(
        logger, info, M::id, code, failure.what());
    promise->set_exception(
        std::make_exception_ptr<Transport_exception>(Transport_exception(invalid_response_code)));
}

// The response path of every non-zero return code. Resolves the promise; only a failing
// delivery or an exception not derived from std::exception leaves it.
template <class M, class Promise_holder, class Payload>
void handle_error(kem::com::log::Generic_logger& logger, const Service_info& info,
                  std::uint8_t code, Promise_holder promise, Payload payload) {
    using namespace cpp_binding::log::incidents;
    try {
        std::vector<std::uint8_t> copy;
        std::exception_ptr error =
            M::GetApplicationErrorExceptionPtr(code, payload_bytes(payload, copy));
        if (error) {
            raise_with_code<Method_call_response_rx>(logger, info, M::id, code, to_string(error));
            promise->set_exception(std::move(error));
            return;
        }
        switch (code) {
            case 0x81:
            case 0x82:
            case 0x86:
                error = std::make_exception_ptr<Transport_exception>(Transport_exception(code));
                raise_with_code<Method_call_request_err>(logger, info, M::id, code,
                                                         to_string(error));
                break;
            case 0xFF:
                error = std::make_exception_ptr<Service_not_available_exception>(
                    Service_not_available_exception());
                raise_with_code<Method_call_request_err>(logger, info, M::id, code,
                                                         to_string(error));
                break;
            default:
                error = std::make_exception_ptr<Transport_exception>(
                    Transport_exception(invalid_response_code));
                raise_with_code<Method_call_response_invalid_code>(logger, info, M::id, code,
                                                                   to_string(error));
                break;
        }
        promise->set_exception(std::move(error));
    } catch (const std::exception& failure) {
        fail_undecodable<M>(logger, info, code, promise, failure);
    }
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
        using cpp_binding::log::incidents::Method_call_response_rx;
        if (code != 0) {
            detail::handle_error<M>(*logger_, info_, code, promise_, std::move(payload));
            return;
        }
        if constexpr (std::is_void_v<R>) {
            detail::raise_with_code<Method_call_response_rx>(*logger_, info_, M::id, 0);
            promise_->set_value();
        } else {
            try {
                std::vector<std::uint8_t> copy;
                someip::serialization::Deserializer in(detail::payload_bytes(payload, copy));
                R record{};
                Method_output_deserialization_dispatcher<R, false>::deserialize(in, record);
                detail::raise_with_code<Method_call_response_rx>(*logger_, info_, M::id, 0, record);
                promise_->set_value(std::move(record));
            } catch (const std::exception& failure) {
                detail::fail_undecodable<M>(*logger_, info_, 0, promise_, failure);
            }
        }
    }

  private:
    kem::com::log::Generic_logger* logger_;
    std::shared_ptr<zun::com::Promise<R>> promise_;
    Service_info info_;
};

}  // namespace kem::com::cpp_binding::proxy
