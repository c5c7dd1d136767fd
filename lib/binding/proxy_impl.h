#pragma once
// The binding side of the proxy of one service interface S: continuous discovery of S
// with its reports delivered on a strand of its own, and the required port of one found
// instance through which S's methods are called.
//
//   auto handle = Proxy_impl<S>::start_find_service(handler, Instance_id{"diag"}, logger);
//   Proxy_impl<S> impl(found.front());   // in the handler: connects to the first instance
//
// S provides `service_id` (the fully qualified interface name) and `method_count`.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Before any log header: runtime.h names kem::com::log::Generic_logger as log::Generic_logger
// from inside kem::com::cpp_binding, which must not yet have a nested namespace log.
#include "binding/runtime/runtime.h"

#include "binding/find_service_handle.h"
#include "binding/incident_level.h"
#include "exec/callout.h"
#include "exec/static_thread_pool.h"
#include "exec/strand.h"
#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/raise_incident.h"

namespace kem::com::cpp_binding::proxy {

template <class S>
class Proxy_impl {
  public:
    // One found instance of S. Distinct per interface, so that a handle found for one
    // interface cannot build the proxy of another.
    class Handle_type {
      public:
        explicit Handle_type(zun::com::runtime::Service_handle handle) noexcept
            : handle_(std::move(handle)) {}
        const zun::com::runtime::Service_handle& service_handle() const noexcept { return handle_; }

      private:
        zun::com::runtime::Service_handle handle_;
    };

    using Find_service_handler = std::function<void(std::vector<Handle_type>)>;

    // What one discovery shares between the runtime's filter and the queued reports.
    struct Discovery {
        Find_service_handler handler;
        std::string instance;
        kem::com::log::Generic_logger* logger;
    };

    // The function the runtime's finder calls with every report: queues the report on the
    // discovery's strand (a stopped strand drops it) and always answers true.
    class Filter {
      public:
        Filter(std::shared_ptr<Strand> strand, std::shared_ptr<const Discovery> discovery) noexcept
            : strand_(std::move(strand)), discovery_(std::move(discovery)) {}

        bool operator()(std::vector<zun::com::runtime::Service_handle> found) const {
            strand_->internal_post([discovery = discovery_, found = std::move(found)]() mutable {
                deliver(*discovery, std::move(found));
            });
            return true;
        }

      private:
        std::shared_ptr<Strand> strand_;
        std::shared_ptr<const Discovery> discovery_;
    };

    // Connects to the instance behind `handle`; runtime failures propagate.
    explicit Proxy_impl(Handle_type handle) : port_(handle.service_handle(), description()) {
        using kem::com::cpp_binding::log::incidents::Service_proxy_constructed;
        kem::com::log::Generic_logger& logger = port_.logger();
        if (incident_enabled<Service_proxy_constructed>(logger)) {
            const Service_info& info = port_.service_info();
            kem::com::log::raise_incident(
                logger, Service_proxy_constructed{zun::com::runtime::Service_id(info.service_id),
                                                  zun::com::runtime::Instance_id(info.instance_id),
                                                  true, true});
        }
    }
    Proxy_impl(const Proxy_impl&) = delete;
    Proxy_impl& operator=(const Proxy_impl&) = delete;

    Rport& port() noexcept { return port_; }

    // Starts a continuous search for S under `instance`. Every report runs `handler` once
    // on the discovery's strand, one report at a time, in report order. Runtime failures
    // propagate; no number is used up then.
    static Find_service_handle start_find_service(Find_service_handler handler,
                                                  const zun::com::runtime::Instance_id& instance,
                                                  kem::com::log::Generic_logger& logger) {
        std::shared_ptr<Strand> strand;
        {
            const auto factory = kem::com::runtime::Component_singleton::get_thread_pool_factory();
            strand = std::make_shared<Strand>(factory->get_thread_pool(0));
        }
        const auto finder = kem::com::runtime::Component_singleton::get_service_finder();
        auto discovery = std::make_shared<const Discovery>(
            Discovery{std::move(handler), instance.to_string(), &logger});
        auto subscription =
            finder->find_service(Filter(strand, std::move(discovery)), S::service_id, instance);
        return Find_service_handle{next_find_service_id_.fetch_add(1, std::memory_order_relaxed),
                                   std::move(subscription), std::move(strand)};
    }

    // Stops the strand and, unless called from the discovery's own handler, waits until
    // no report is queued or being handled; then drops this handle's references. Other
    // copies of the handle keep the search alive; its reports are dropped from now on.
    static void stop_find_service(Find_service_handle handle) {
        if (handle.strand) {
            handle.strand->join();
        }
        handle.subscription.reset();
        handle.strand.reset();
    }

    // Bytes 0 and 1 are 0, bytes 2 and 3 the method count (little-endian).
    static constexpr connector::Service_interface_description description() noexcept {
        return connector::Service_interface_description{
            {0, 0, static_cast<std::uint8_t>(S::method_count & 0xFFu),
             static_cast<std::uint8_t>((S::method_count >> 8) & 0xFFu)}};
    }

  private:
    // A handler running longer than this (milliseconds) is reported.
    static constexpr unsigned long handler_deadline = 500;

    // Runs on the strand: one report, one handler call.
    static void deliver(const Discovery& discovery,
                        std::vector<zun::com::runtime::Service_handle> found) {
        using namespace kem::com::cpp_binding::log::incidents;
        kem::com::log::Generic_logger& logger = *discovery.logger;
        if (incident_enabled<Find_service_result>(logger)) {
            kem::com::log::raise_incident(
                logger,
                Find_service_result{zun::com::runtime::Service_id(S::service_id),
                                    zun::com::runtime::Instance_id(discovery.instance)},
                found);
        }
        std::vector<Handle_type> handles;
        handles.reserve(found.size());
        for (auto& service_handle : found) {
            handles.emplace_back(std::move(service_handle));
        }
        const Deadline_guard guard(handler_deadline, [&discovery](unsigned long elapsed) {
            kem::com::log::Generic_logger& late_logger = *discovery.logger;
            if (incident_enabled<Find_service_handler_performance>(late_logger)) {
                kem::com::log::raise_incident(
                    late_logger, Find_service_handler_performance{
                                     zun::com::runtime::Service_id(S::service_id),
                                     zun::com::runtime::Instance_id(discovery.instance), elapsed});
            }
        });
        const std::function<void()> on_exception = [&discovery] {
            kem::com::log::Generic_logger& fatal_logger = *discovery.logger;
            if (incident_enabled<Find_service_handler_exception>(fatal_logger)) {
                kem::com::log::raise_incident(
                    fatal_logger, Find_service_handler_exception{
                                      zun::com::runtime::Service_id(S::service_id),
                                      zun::com::runtime::Instance_id(discovery.instance)});
            }
        };
        apply_callout_with_on_exception(discovery.handler, on_exception, std::move(handles));
    }

    static inline std::atomic<std::uint32_t> next_find_service_id_{0};

    Rport port_;
};

}  // namespace kem::com::cpp_binding::proxy
