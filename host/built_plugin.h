#pragma once
// The plug-in built in this tree, for the tests and benchmarks (target diag_host_built, which
// also makes sure the plug-in is built first).
//
//   auto did = host::connect_did(host::built_plugin(), 0x0102);

#include "host/plugin.h"

namespace host {

// Loaded on first use, from any thread, and kept for the whole process (see host/plugin.h);
// throws Plugin_error when it cannot be loaded (and again on the next call).
const Plugin& built_plugin();

}  // namespace host
