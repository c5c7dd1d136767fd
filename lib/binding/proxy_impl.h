#pragma once
// The binding side of the proxy of one service interface S: continuous discovery of S
// with its reports delivered on a strand of its own, and the required port of one found
// instance through which S's methods are called.
//
//   auto handle = Proxy_impl<S>::start_find_service(handler, Instance_id{"diag"}, logger);
//   Proxy_impl<S> impl(found.front());   // in the handler: connects to the first instance
//
// S provides `service_id` (the fully qualified interface name) and `method_count`. The
// typed shell holds what differs per interface (the name, the discovery counter, the
// captures of the filter and of the strand task); the work is done once, in
// proxy_impl.cpp.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/find_service_handle.h"
#include "binding/runtime/identity.h"
#include "binding/runtime/runtime.h"
#include "exec/strand.h"

namespace kem::com::cpp_binding::proxy {

namespace detail {

using Found_services = std::vector<zun::com::runtime::Service_handle>;
using Found_handler = std::function<void(Found_services)>;

// A new strand on the runtime's pool 0.
std::shared_ptr<Strand> make_discovery_strand();

// Registers `filter` with the runtime's finder for `service_id` under `instance`.
std::shared_ptr<zun::com::runtime::Service_finder::Subscription_handle> find_service(
    zun::com::runtime::Service_finder::Filter filter, const char* service_id,
    const zun::com::runtime::Instance_id& instance);

// One report on the discovery's strand: the result incident, then the handler under the
// deadline guard; an exception of the handler is reported and ends the process.
void deliver_report(kem::com::log::Generic_logger& logger, const char* service_id,
                    const std::string& instance, const Found_handler& handler,
                    Found_services found);

// Joins the handle's strand (unless called from its own task), then drops the handle's
// references: the subscription first, then the strand.
void stop_find_service(Find_service_handle handle);

// Bytes 0 and 1 are 0, bytes 2 and 3 the method count (little-endian).
connector::Service_interface_description describe(std::uint16_t method_count) noexcept;

}  // namespace detail

// What every Proxy_impl<S> is to the methods of its proxy, whatever S: the owner of the
// required port of one found instance, through which the methods are called. Not
// polymorphic; only a Proxy_impl<S> is one.
class Proxy_impl_base {
  public:
    Proxy_impl_base(const Proxy_impl_base&) = delete;
    Proxy_impl_base& operator=(const Proxy_impl_base&) = delete;

    Rport& port() noexcept { return port_; }

  protected:
    // Connects to the instance behind `handle` (a port for `method_count` methods) and
    // reports the proxy constructed; runtime failures propagate.
    Proxy_impl_base(const zun::com::runtime::Service_handle& handle, std::uint16_t method_count);
    ~Proxy_impl_base() = default;

  private:
    Rport port_;
};

template <class S>
class Proxy_impl : public Proxy_impl_base {
  public:
    // One found instance: a copy of the runtime's handle (copying adds a reference).
    using Handle_type = zun::com::runtime::Service_handle;
    using Find_service_handler = std::function<void(std::vector<Handle_type>)>;

    // Connects to the instance behind `handle`; runtime failures propagate.
    explicit Proxy_impl(Handle_type handle) : Proxy_impl_base(handle, S::method_count) {}

    // Starts a continuous search for S under `instance`. Every report runs `handler` once
    // on the discovery's strand, one report at a time, in report order. Runtime failures
    // propagate; no number is used up then.
    static Find_service_handle start_find_service(Find_service_handler handler,
                                                  const zun::com::runtime::Instance_id& instance,
                                                  kem::com::log::Generic_logger& logger) {
        std::shared_ptr<Strand> strand = detail::make_discovery_strand();
        // The filter answers true to every report and queues it on the strand; a stopped
        // strand drops it.
        auto filter = [strand, handler = std::move(handler), instance = instance.to_string(),
                       &logger](detail::Found_services found) {
            strand->internal_post([&logger, found = std::move(found), handler, instance]() mutable {
                detail::deliver_report(logger, S::service_id, instance, handler, std::move(found));
            });
            return true;
        };
        auto subscription = detail::find_service(std::move(filter), S::service_id, instance);
        return Find_service_handle{next_find_service_id_.fetch_add(1, std::memory_order_relaxed),
                                   std::move(subscription), std::move(strand)};
    }

    // Stops the strand and, unless called from the discovery's own handler, waits until
    // no report is queued or being handled; then drops this handle's references. Other
    // copies of the handle keep the search alive; its reports are dropped from now on.
    static void stop_find_service(Find_service_handle handle) {
        detail::stop_find_service(std::move(handle));
    }

    static connector::Service_interface_description description() noexcept {
        return detail::describe(S::method_count);
    }

  private:
    // Numbers the discoveries of S, from 0.
    static inline std::atomic<std::uint32_t> next_find_service_id_{0};
};

}  // namespace kem::com::cpp_binding::proxy
