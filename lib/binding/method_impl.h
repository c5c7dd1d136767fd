#pragma once
// The binding side of one proxy method: checks that the service is available, sends the
// call under the method's id and returns the future that the response resolves.
//
//   Method_impl<Read, false, Read::Output(const MetaInfo&)> read(port);
//   zun::com::Future<Read::Output> result = read(meta);
//
// M provides `id` and GetApplicationErrorExceptionPtr (and `Output` where it returns
// data); the signature lists the MetaInfo first, then the method's inputs.

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Before any log header: runtime.h names kem::com::log::Generic_logger as log::Generic_logger
// from inside kem::com::cpp_binding, which must not yet have a nested namespace log.
#include "binding/runtime/runtime.h"

#include "binding/exceptions.h"
#include "binding/incident_level.h"
#include "binding/response_handler.h"
#include "exec/future.h"
#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/raise_incident.h"
#include "someip/serializer.h"

namespace kem::com::cpp_binding::proxy {

class Method_impl_base {
  protected:
    using Request_future = zun::com::Future<std::shared_ptr<zun::com::runtime::Method_call>>;

    // The port belongs to the proxy that owns this method and outlives it.
    explicit Method_impl_base(Rport& port) noexcept : port(&port) {}

    // Ties the runtime's request to the caller's future: once the caller gives up its
    // future, the request is released, and if the runtime had not accepted it yet,
    // `cancelled` is reported. Replaces an earlier cleanup of the promise.
    // Throws std::future_error(no_state) for a promise without State.
    template <class R>
    void add_cleanup(const std::shared_ptr<zun::com::Promise<R>>& promise, Request_future&& request,
                     cpp_binding::log::incidents::Method_call_request_cancelled&& cancelled) const {
        const std::shared_ptr<zun::com::future_detail::State>& state = promise->state();
        if (!state) {
            throw std::future_error(std::future_errc::no_state);
        }
        std::function<void()> cleanup =
            [request = std::make_shared<Request_future>(std::move(request)),
             cancelled = std::move(cancelled), logger = &port->logger()] {
                if (!request->is_ready()) {
                    kem::com::log::raise_incident(*logger, cancelled);
                }
            };
        std::lock_guard<std::mutex> lock(state->mutex);
        // The replaced cleanup is destroyed before the lock is released.
        std::function<void()> replaced = std::exchange(state->cleanup, std::move(cleanup));
    }

    Rport* port;
};

// Only the untagged form (Tagged = false) exists: requests are written without type tags.
template <class M, bool Tagged, class Signature>
class Method_impl;

template <class M, class R, class... Args>
class Method_impl<M, false, R(const std::map<std::string, std::string>&, Args...)>
    : Method_impl_base {
  public:
    explicit Method_impl(Rport& port) noexcept : Method_impl_base(port) {}
    Method_impl(const Method_impl&) = delete;
    Method_impl& operator=(const Method_impl&) = delete;
    virtual ~Method_impl() = default;

    // Sends one call. Throws Service_not_available_exception (nothing sent) unless the
    // instance is available; serialization and runtime failures propagate. Everything
    // after sending arrives through the future, possibly before this returns.
    zun::com::Future<R> operator()(const std::map<std::string, std::string>& meta,
                                   Args... args) const {
        using namespace cpp_binding::log::incidents;
        if (port->connection_state() != Connection::available) {
            throw Service_not_available_exception();
        }
        kem::com::log::Generic_logger& logger = port->logger();
        const Service_info& info = port->service_info();
        if (incident_enabled<Method_call_request_tx>(logger)) {
            kem::com::log::raise_incident(
                logger,
                Method_call_request_tx{detail::service_of(info), detail::instance_of(info), M::id},
                meta, args...);
        }
        auto promise = std::make_shared<zun::com::Promise<R>>();
        zun::com::Future<R> future = promise->get_future();

        std::shared_ptr<std::vector<std::uint8_t>> buffer = get_shared_payload(0);
        someip::serialization::serialize_method_arguments(*buffer, meta, args...);
        const std::uint8_t* first = buffer->data();
        const std::uint8_t* last = first + buffer->size();
        Request_future request =
            port->call_method(M::id, Serialized_payload{0, std::move(buffer), first, last},
                              Response_handler<M, R>(logger, promise, info));

        add_cleanup(promise, std::move(request),
                    Method_call_request_cancelled{detail::service_of(info),
                                                  detail::instance_of(info), M::id});
        return future;
    }
};

}  // namespace kem::com::cpp_binding::proxy
