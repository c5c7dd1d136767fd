#pragma once
// The simulated vehicle: one application per service interface, offered through the
// runtime stand-in and answering every call from the vehicle profile.
//
//   dmsim::Vehicle vehicle(dmsim::parse_profile(text, "my.json"), "diag", &trace);
//   ... the manager finds and calls the services ...   // offers end with `vehicle`

#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/application.h"
#include "sim/profile.h"
#include "sim/timer.h"
#include "sim/trace.h"

namespace dmsim {

class Vehicle {
  public:
    // Offers every service that the profile does not mark "offered": false, under
    // `instance`. `trace` (may be null) must outlive the vehicle.
    Vehicle(Vehicle_profile profile, const std::string& instance, Trace* trace);
    // Withdraws every offer (waiting for a handler that runs), then drops the delayed
    // answers not yet sent: their callers never receive them.
    ~Vehicle();
    Vehicle(const Vehicle&) = delete;
    Vehicle& operator=(const Vehicle&) = delete;

    std::size_t offered_count() const { return offers_.size(); }

  private:
    // Runs on the runtime's transport thread, one call at a time.
    void handle(const Service_profile& service, platform::runtime::Incoming_call call);

    const Vehicle_profile profile_;
    Trace* const trace_;
    Timer timer_;
    std::vector<platform::runtime::Offer> offers_;  // last: withdrawn before the timer stops
};

}  // namespace dmsim
