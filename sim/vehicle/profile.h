#pragma once
// The vehicle profile: how each simulated application answers, read from a JSON file (or
// the built-in one) and checked completely before anything starts.
//
//   dmsim::Vehicle_profile profile = dmsim::load_profile_file("my_vehicle.json");
//   const dmsim::Answer& read = profile.services[0].answers[1];  // by method id
//
// Format (keys starting with "_" are comments and ignored at every level):
//   { "instance": "diag",
//     "dids":     { "F190": { "Read": { "values": ["5744..."] } } },
//     "routines": { "0300": { "offered": false } },
//     "doip":     { "vin": "WDD...", "logical_address": "1000", "eid": "00023631001C" } }
// One answer per method: "values" (the output record's members), "payload" (raw hex,
// with an optional "return_code"), "error" (return code 2 with these bytes), "return_code"
// alone (empty payload) or "no_response": true; "delay_ms" delays any of the first four.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/io/hex.h"
#include "sim/vehicle/services.h"

namespace dmsim {

// A profile that cannot be used; what() starts with the profile's name and says what is
// wrong and where ("vehicle.json: dids.F190.Read.values: expected 1 value (u8[17]), found 2").
class Profile_error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How an application answers one method.
struct Answer {
    bool respond = true;  // false: the call is never answered
    std::uint8_t return_code = 0;
    Bytes payload;
    std::chrono::milliseconds delay{0};
};

struct Service_profile {
    const Service_info* service = nullptr;
    bool offered = true;
    std::vector<Answer> answers;  // indexed by method id
};

// The DoIP entity's identity; each key is optional.
struct Doip_profile {
    std::optional<std::string> vin;  // 17 characters
    std::optional<std::uint16_t> logical_address;
    std::optional<std::array<std::uint8_t, 6>> eid;
    std::optional<std::array<std::uint8_t, 6>> gid;
};

struct Vehicle_profile {
    std::optional<std::string> instance;    // the instance the applications are offered under
    std::vector<Service_profile> services;  // every interface of service_table(), in its order
    Doip_profile doip;
};

// The longest accepted "delay_ms": one hour.
inline constexpr std::int64_t max_delay_ms = 3'600'000;

// Reads and checks a whole profile; `source` names it in error messages. Methods and
// identifiers that the profile leaves out answer at once with a record of zeros.
// Throws Profile_error.
Vehicle_profile parse_profile(std::string_view text, const std::string& source);

// parse_profile of a file's contents; an unreadable file throws Profile_error as well.
Vehicle_profile load_profile_file(const std::string& path);

// The profile built into the simulator (sim/profiles/vehicle.json at build time).
std::string_view builtin_profile_text();
inline constexpr char builtin_profile_name[] = "built-in profile";

}  // namespace dmsim
