#pragma once
// The six plain functions that are the plug-in's whole outward face, as the diagnostic
// manager loads them (plain C names, the platform's standard calling convention).
//
//   auto get_dids = reinterpret_cast<kem::dm::plugin::Get_info_fn>(dlsym(lib, "get_did_info"));
//   std::uint16_t count = 0; const std::uint16_t* dids = get_dids(&count);
//
// All six are safe to call from any thread at any time. The identifier tables are not sorted
// and stay valid while the library is loaded. The caller owns each constructed extension until
// it passes it to the matching destroy function.

#include <cstdint>

#include "foundation/extension.h"

#define DIAG_PLUGIN_API __attribute__((visibility("default")))

extern "C" {

// Writes 83 to *count (must be writable) and returns the data identifier table. Never null.
DIAG_PLUGIN_API const std::uint16_t* get_did_info(std::uint16_t* count);
// Writes 26 to *count (must be writable) and returns the routine identifier table. Never null.
DIAG_PLUGIN_API const std::uint16_t* get_rid_info(std::uint16_t* count);

// A new extension for `id`, or null when `id` is not in the data identifier table. The object
// has no discovery running. Throws std::bad_alloc when memory runs out; nothing else.
DIAG_PLUGIN_API kem::dm::foundation::extension::Extension_data_identifier* construct_extension_did(
    std::uint16_t id);
// As construct_extension_did, for the routine identifier table.
DIAG_PLUGIN_API kem::dm::foundation::extension::Extension_routine_control* construct_extension_rid(
    std::uint16_t id);

// Destroys an extension from the matching construct function; null does nothing.
DIAG_PLUGIN_API void destroy_extension_did(
    kem::dm::foundation::extension::Extension_data_identifier* extension);
DIAG_PLUGIN_API void destroy_extension_rid(
    kem::dm::foundation::extension::Extension_routine_control* extension);

}  // extern "C"

namespace kem::dm::plugin {

// The entry points' types, for hosts that resolve them with dlsym.
using Get_info_fn = const std::uint16_t* (*)(std::uint16_t*);
using Construct_did_fn =
    kem::dm::foundation::extension::Extension_data_identifier* (*)(std::uint16_t);
using Construct_rid_fn =
    kem::dm::foundation::extension::Extension_routine_control* (*)(std::uint16_t);
using Destroy_did_fn = void (*)(kem::dm::foundation::extension::Extension_data_identifier*);
using Destroy_rid_fn = void (*)(kem::dm::foundation::extension::Extension_routine_control*);

// The generator version stored into the communication runtime when the library is loaded.
inline constexpr char generator_version[] = "ZMR_KTL-1.4.16_1";

}  // namespace kem::dm::plugin
