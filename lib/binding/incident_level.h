#pragma once
// The level check that comes before an incident is even filled in: raising sites whose
// incident copies strings ask first, so a disabled level costs one call.
//
//   if (incident_enabled<Method_call_request_tx>(logger)) raise_incident(logger, {...}, meta);

#include "log/generic_logger.h"

namespace kem::com::cpp_binding {

// A target that throws here terminates the process (targets must not throw).
template <class Incident>
bool incident_enabled(kem::com::log::Generic_logger& logger) noexcept {
    return logger.get_target().is_log_enabled(Incident::level);
}

}  // namespace kem::com::cpp_binding
