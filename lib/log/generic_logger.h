#pragma once
// The logger handed out by the communication runtime (ara::com::logger(), Rport::logger()):
// gives the binding its log target. Incidents are raised through raise_incident.h.

#include "log/dlt.h"

namespace kem::com::log {

// Layout: a name, then the pointer to the target; the binding reads only the target.
// Neither is owned; both outlive the logger.
class Generic_logger {
  public:
    Generic_logger(const char* name, target::Dlt& target) noexcept
        : name_(name), target_(&target) {}
    Generic_logger(const Generic_logger&) = delete;
    Generic_logger& operator=(const Generic_logger&) = delete;

    const char* name() const noexcept { return name_; }
    target::Dlt& get_target() const noexcept { return *target_; }

  private:
    const char* name_;
    target::Dlt* target_;
};

}  // namespace kem::com::log
