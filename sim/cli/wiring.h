#pragma once
// dmsim put together: the profile, the outputs and the log, the plug-in and its extensions,
// the simulated vehicle (or SOME/IP with --someip) and the ECU, then the requests or the
// DoIP server. With --offer: the profile, the outputs and the vehicle over SOME/IP alone.
//
//   return dmsim::run(options);   // options checked (check_options)

#include "sim/cli/options.h"

namespace dmsim {

// Runs dmsim with checked options; the exit status. Throws what the plug-in's loading
// throws beyond Plugin_error.
int run(const Options& options);

}  // namespace dmsim
