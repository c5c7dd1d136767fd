#pragma once
// The binding side of one proxy method: checks that the service is available, sends the
// call under the method's id and returns the future that the response resolves.
//
//   Method_impl<Read, false, Read::Output(const MetaInfo&)> read(proxy_impl);
//   zun::com::Future<Read::Output> result = read(meta);
//
// M provides `id` and GetApplicationErrorExceptionPtr (and `Output` where it returns
// data); the signature lists the MetaInfo first, then the method's inputs. The typed
// shell creates the promise and serializes the inputs; availability, the incidents,
// sending and the cleanup are done once, in method_impl.cpp.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/exceptions.h"
#include "binding/incident_level.h"
#include "binding/proxy_impl.h"
#include "binding/response_handler.h"
#include "binding/runtime/runtime.h"
#include "exec/future.h"
#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/raise_incident.h"
#include "someip/serializer.h"

namespace kem::com::cpp_binding::proxy {

namespace detail {

using MetaInfo = std::map<std::string, std::string>;
using Request_future = zun::com::Future<std::shared_ptr<zun::com::runtime::Method_call>>;

// Throws Service_not_available_exception unless the port's instance is available.
void require_available(const Rport& port);

// Method_call_request_tx with the MetaInfo as its only data, if enabled.
void report_request(Rport& port, std::uint16_t method_id, const MetaInfo& meta);

// Method_call_request_tx with the MetaInfo and the inputs, if enabled.
template <class... Args>
void report_request(Rport& port, std::uint16_t method_id, const MetaInfo& meta,
                    const Args&... args) {
    using cpp_binding::log::incidents::Method_call_request_tx;
    kem::com::log::Generic_logger& logger = port.logger();
    if (incident_enabled<Method_call_request_tx>(logger)) {
        const Service_info& info = port.service_info();
        kem::com::log::raise_incident(
            logger, Method_call_request_tx{service_of(info), instance_of(info), method_id}, meta,
            args...);
    }
}

// A new payload buffer from the runtime holding the serialized MetaInfo; the inputs are
// appended after it.
std::shared_ptr<std::vector<std::uint8_t>> serialize_request(const MetaInfo& meta);

// The incident a cleanup reports for a call of `method_id` on the port given up early.
cpp_binding::log::incidents::Method_call_request_cancelled cancelled_incident(
    const Rport& port, std::uint16_t method_id);

// Sends the serialized request under `method_id`; the handler resolves the call.
Request_future send_request(Rport& port, std::uint16_t method_id,
                            std::shared_ptr<std::vector<std::uint8_t>> buffer,
                            Rport::Response_handler handler);

// Installs the cleanup of one call into the promise's State (see add_cleanup).
void install_cleanup(const std::shared_ptr<zun::com::future_detail::State>& state,
                     Request_future&& request,
                     cpp_binding::log::incidents::Method_call_request_cancelled&& cancelled,
                     kem::com::log::Generic_logger& logger);

}  // namespace detail

class Method_impl_base {
  protected:
    using Request_future = detail::Request_future;

    // The proxy implementation belongs to the proxy that owns this method and outlives it.
    explicit Method_impl_base(Proxy_impl_base& proxy) noexcept : port(&proxy) {}

    // Ties the runtime's request to the caller's future: once the caller gives up its
    // future, the request is released, and if the runtime had not accepted it yet,
    // `cancelled` is reported. Replaces an earlier cleanup of the promise.
    // Throws std::future_error(no_state) for a promise without State.
    template <class R>
    void add_cleanup(const std::shared_ptr<zun::com::Promise<R>>& promise, Request_future&& request,
                     cpp_binding::log::incidents::Method_call_request_cancelled&& cancelled) const {
        detail::install_cleanup(promise->state(), std::move(request), std::move(cancelled),
                                port->port().logger());
    }

    // The interface's proxy implementation, whose required port the calls go through.
    Proxy_impl_base* port;
};

// Only the untagged form (Tagged = false) exists: requests are written without type tags.
template <class M, bool Tagged, class Signature>
class Method_impl;

template <class M, class R, class... Args>
class Method_impl<M, false, R(const std::map<std::string, std::string>&, Args...)>
    : Method_impl_base {
  public:
    explicit Method_impl(Proxy_impl_base& proxy) noexcept : Method_impl_base(proxy) {}
    Method_impl(const Method_impl&) = delete;
    Method_impl& operator=(const Method_impl&) = delete;
    virtual ~Method_impl() = default;

    // Sends one call. Throws Service_not_available_exception (nothing sent) unless the
    // instance is available; serialization and runtime failures propagate. Everything
    // after sending arrives through the future, possibly before this returns.
    zun::com::Future<R> operator()(const std::map<std::string, std::string>& meta,
                                   Args... args) const {
        Rport& rport = port->port();
        detail::require_available(rport);
        detail::report_request(rport, M::id, meta, args...);
        auto promise = std::make_shared<zun::com::Promise<R>>();
        zun::com::Future<R> future = promise->get_future();

        std::shared_ptr<std::vector<std::uint8_t>> buffer = detail::serialize_request(meta);
        if constexpr (sizeof...(Args) > 0) {
            using someip::serialization::Serialization_properties;
            (someip::serialization::serialize_dispatch(*buffer, args, Serialization_properties{}),
             ...);
        }
        Request_future request = detail::send_request(
            rport, M::id, std::move(buffer),
            Response_handler<M, R>(rport.logger(), promise, rport.service_info()));
        add_cleanup(promise, std::move(request), detail::cancelled_incident(rport, M::id));
        return future;
    }
};

}  // namespace kem::com::cpp_binding::proxy
