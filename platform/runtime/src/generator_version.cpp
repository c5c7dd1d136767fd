#include "binding/runtime/runtime.h"

namespace kem::com::runtime {

// Written by the plug-in when it is loaded.
const char* generator_version = nullptr;

}  // namespace kem::com::runtime
