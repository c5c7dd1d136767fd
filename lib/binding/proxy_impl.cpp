#include "binding/proxy_impl.h"

#include "binding/incident_level.h"
#include "exec/callout.h"
#include "exec/static_thread_pool.h"
#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/raise_incident.h"

namespace kem::com::cpp_binding::proxy::detail {

namespace {

using namespace kem::com::cpp_binding::log::incidents;
using zun::com::runtime::Instance_id;
using zun::com::runtime::Service_id;

// A handler running longer than this (milliseconds) is reported.
constexpr unsigned long handler_deadline = 500;

}  // namespace

std::shared_ptr<Strand> make_discovery_strand() {
    const auto factory = kem::com::runtime::Component_singleton::get_thread_pool_factory();
    return std::make_shared<Strand>(factory->get_thread_pool(0));
}

std::shared_ptr<zun::com::runtime::Service_finder::Subscription_handle> find_service(
    zun::com::runtime::Service_finder::Filter filter, const char* service_id,
    const Instance_id& instance) {
    const auto finder = kem::com::runtime::Component_singleton::get_service_finder();
    return finder->find_service(std::move(filter), service_id, instance);
}

void deliver_report(kem::com::log::Generic_logger& logger, const char* service_id,
                    const std::string& instance, const Found_handler& handler,
                    Found_services found) {
    if (incident_enabled<Find_service_result>(logger)) {
        kem::com::log::raise_incident(
            logger, Find_service_result{Service_id(service_id), Instance_id(instance)}, found);
    }
    const Deadline_guard guard(handler_deadline, [&](unsigned long elapsed) {
        if (incident_enabled<Find_service_handler_performance>(logger)) {
            kem::com::log::raise_incident(
                logger, Find_service_handler_performance{Service_id(service_id),
                                                         Instance_id(instance), elapsed});
        }
    });
    const std::function<void()> on_exception = [&] {
        if (incident_enabled<Find_service_handler_exception>(logger)) {
            kem::com::log::raise_incident(
                logger,
                Find_service_handler_exception{Service_id(service_id), Instance_id(instance)});
        }
    };
    apply_callout_with_on_exception(handler, on_exception, std::move(found));
}

void stop_find_service(Find_service_handle handle) {
    if (handle.strand) {
        handle.strand->join();
    }
    handle.subscription.reset();
    handle.strand.reset();
}

connector::Service_interface_description describe(std::uint16_t method_count) noexcept {
    return connector::Service_interface_description{
        {0, 0, static_cast<std::uint8_t>(method_count & 0xFFu),
         static_cast<std::uint8_t>((method_count >> 8) & 0xFFu)}};
}

namespace {

// Service_proxy_constructed for the port, if enabled.
void report_proxy_constructed(Rport& port) {
    kem::com::log::Generic_logger& logger = port.logger();
    if (incident_enabled<Service_proxy_constructed>(logger)) {
        const Service_info& info = port.service_info();
        kem::com::log::raise_incident(
            logger, Service_proxy_constructed{Service_id(info.service_id),
                                              Instance_id(info.instance_id), true, true});
    }
}

}  // namespace

}  // namespace kem::com::cpp_binding::proxy::detail

namespace kem::com::cpp_binding::proxy {

Proxy_impl_base::Proxy_impl_base(const zun::com::runtime::Service_handle& handle,
                                 std::uint16_t method_count)
    : port_(handle, detail::describe(method_count)) {
    detail::report_proxy_constructed(port_);
}

}  // namespace kem::com::cpp_binding::proxy
