#pragma once
// dmsim's SOME/IP side: the deployment and the runtime's settings from the options, the
// session that starts and stops the transport, the manager's wait for discovery before the
// first request with what it says about services not found, and the vehicle that --offer
// serves.
//
//   if (const auto status = dmsim::fill_someip_settings(options)) return *status;
//   dmsim::Someip_session session(options.someip_settings, chatty);  // stop_someip at the end
//   extensions.start_find_service(instance);
//   dmsim::await_services(options, chatty, warn);

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/runtime/someip.h"
#include "sim/cli/options.h"
#include "sim/cli/outputs.h"
#include "sim/vehicle/profile.h"

namespace dmsim {

namespace someip = platform::runtime::someip;

// Every interface of the generated layout, with its method names in method-id order.
std::vector<someip::Known_interface> known_interfaces();

// Reads the deployment (--deployment FILE, else the defaults) and the SOME/IP options into
// options.someip_settings; an exit status after a message when a value is refused.
std::optional<int> fill_someip_settings(Options& options);

// SOME/IP started for the life of the object. At the end, with `summary`, one line on
// standard error with the transport's non-zero counts, then stop_someip().
class Someip_session {
  public:
    // Throws std::runtime_error when a socket cannot be opened.
    Someip_session(const platform::runtime::Someip_settings& settings, bool summary);
    ~Someip_session();
    Someip_session(const Someip_session&) = delete;
    Someip_session& operator=(const Someip_session&) = delete;

  private:
    bool summary_;
};

// A found service that is the last for this long ends the wait: longer than one cyclic
// offer, so that every host offering has been heard.
inline constexpr std::chrono::milliseconds quiet_after_found{1500};

// --someip, before the first request: waits until every searched service is found, or
// quiet_after_found passes without a new one after the first, or --sd-wait. `chatty`: says
// what was found; `warn`: says which services are missing, with the SD traffic seen.
void await_services(const Options& options, bool chatty, bool warn);

// The lines about searched services still missing (empty when none is): how many and the
// first few names, the SD traffic seen, and a hint.
std::string missing_services_text(const platform::runtime::Someip_report& report,
                                  const platform::runtime::Someip_settings& settings,
                                  std::chrono::milliseconds waited);

// "sd_messages=12, tp_timeout=1": the report's non-zero counts.
std::string someip_counts(const platform::runtime::Someip_report& report);

// dmsim --offer: the simulated vehicle from `profile`, offered under `instance` over
// SOME/IP until SIGINT or SIGTERM. Announces itself on standard output. The exit status: 0,
// 2 after a message when SOME/IP cannot start, 4 when an output fails.
int offer_vehicle(const Options& options, Vehicle_profile profile, const std::string& instance,
                  Outputs& outputs, bool chatty);

}  // namespace dmsim
