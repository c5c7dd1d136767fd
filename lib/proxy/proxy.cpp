#include "proxy/proxy.h"

#include "binding/incident_level.h"
#include "log/generic_logger.h"
#include "log/incidents.h"
#include "log/raise_incident.h"

namespace ara::com::internal::proxy::detail {

using ::kem::com::cpp_binding::incident_enabled;
using ::zun::com::runtime::Service_id_literal;

void report_find_service_start(const char* service_id, zun::com::runtime::Instance_id instance,
                               const ::kem::com::cpp_binding::Find_service_handle& handle) {
    using ::ara::com::log::incidents::Find_service_start;
    ::kem::com::log::Generic_logger& logger = ::ara::com::logger();
    if (incident_enabled<Find_service_start>(logger)) {
        ::kem::com::log::raise_incident(
            logger,
            Find_service_start{
                Service_id_literal(service_id, std::char_traits<char>::length(service_id)),
                std::move(instance)},
            std::to_string(handle.id));
    }
}

void report_find_service_stop(const char* service_id,
                              const ::kem::com::cpp_binding::Find_service_handle& handle) {
    using ::ara::com::log::incidents::Find_service_stop;
    ::kem::com::log::Generic_logger& logger = ::ara::com::logger();
    if (incident_enabled<Find_service_stop>(logger)) {
        ::kem::com::log::raise_incident(
            logger,
            Find_service_stop{
                Service_id_literal(service_id, std::char_traits<char>::length(service_id))},
            std::to_string(handle.id));
    }
}

}  // namespace ara::com::internal::proxy::detail
