// Fuzz target: a vehicle profile of the simulator, read and checked as the simulator does
// before it starts (JSON syntax, identifiers, methods, answer kinds, values against the
// record layouts).
//
// Checked for every input: nothing but Profile_error is thrown; an accepted profile names
// every one of the 109 interfaces once, with one answer per method, and an answer that is
// not delayed too long.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "sim/vehicle/profile.h"
#include "sim/vehicle/services.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "sim_profile_fuzz: %s\n", what);
    std::abort();
}

void check(const dmsim::Vehicle_profile& profile) {
    const auto& table = dmsim::service_table();
    if (profile.services.size() != table.size()) {
        fail("an accepted profile does not cover every interface");
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        const dmsim::Service_profile& service = profile.services[i];
        if (service.service != &table[i]) {
            fail("an accepted profile lists the interfaces out of order");
        }
        if (service.answers.size() != table[i].methods.size()) {
            fail("an accepted profile lacks an answer for a method");
        }
        for (const dmsim::Answer& answer : service.answers) {
            if (answer.delay.count() < 0 || answer.delay.count() > dmsim::max_delay_ms) {
                fail("an accepted profile holds a delay out of range");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        check(dmsim::parse_profile(text, "fuzz.json"));
    } catch (const dmsim::Profile_error&) {
    }
    return 0;
}
