#pragma once
// The simulated vehicle: one simulated application (host/application.h) per service
// interface, offered through the runtime stand-in and answering every call from the vehicle
// profile.
//
//   dmsim::Vehicle vehicle(dmsim::parse_profile(text, "my.json"), "diag", &trace);
//   ... the manager finds and calls the services ...   // offers end with `vehicle`

#include <memory>
#include <string>
#include <vector>

#include "host/application.h"
#include "sim/io/trace.h"
#include "sim/vehicle/profile.h"
#include "sim/vehicle/timer.h"

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

    std::size_t offered_count() const { return applications_.size(); }

  private:
    Trace* const trace_;
    Timer timer_;  // the delayed answers of every application
    // Last: withdrawn before the timer stops.
    std::vector<std::unique_ptr<host::Simulated_application>> applications_;
};

}  // namespace dmsim
