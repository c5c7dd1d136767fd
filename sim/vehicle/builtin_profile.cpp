// The built-in vehicle profile: sim/profiles/vehicle.json, embedded at build time.
#include "sim/vehicle/profile.h"

#include "sim/vehicle/builtin_profile_data.h"

namespace dmsim {

std::string_view builtin_profile_text() {
    return {reinterpret_cast<const char*>(builtin_profile_data), builtin_profile_data_size};
}

}  // namespace dmsim
