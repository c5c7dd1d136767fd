#pragma once
// The checks of dmsim's options that look at more than one value or at the file system,
// made after the command line is read and before anything runs; they also fill in the
// defaults that depend on where dmsim lies (the plug-in), the listening address and the
// SOME/IP settings with the deployment in effect.

#include <optional>

#include "sim/cli/options.h"

namespace dmsim {

// An exit status (after a message) when the options cannot go together.
std::optional<int> check_options(Options& options);

}  // namespace dmsim
