#pragma once
// dmsim put together: the profile, the outputs and the log, the plug-in and its extensions,
// the simulated vehicle and the ECU, then the requests or the DoIP server.
//
//   return dmsim::run(options);   // options checked (check_options)

#include "sim/cli/options.h"

namespace dmsim {

// Runs dmsim with checked options; the exit status. Throws what the plug-in's loading
// throws beyond Plugin_error.
int run(const Options& options);

}  // namespace dmsim
