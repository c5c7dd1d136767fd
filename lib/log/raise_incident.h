#pragma once
// Raising an incident: the one call every raising site makes.
//
//   kem::com::log::raise_incident(port.logger(), Method_call_request_tx{service, instance, id},
//                                 meta, inputs...);
//
// The target's level check comes first; only an enabled incident is rendered (with the
// extra data in argument order as "1_<label>", "2_<label>", ...) and handed to the
// target's trace_impl. Never throws: a rendering failure yields an empty text, which the
// standard target drops; a target that throws terminates the process.

#include "log/dlt.h"
#include "log/generic_logger.h"

namespace kem::com::log {

template <class Incident, class... Args>
void raise_incident(Generic_logger& logger, const Incident& incident,
                    const Args&... args) noexcept {
    logger.get_target().trace(incident, args...);
}

}  // namespace kem::com::log
