// dmsim: a diagnostic manager simulator with a simulated vehicle. Loads the plug-in with
// dlopen as the diagnostic manager does, offers every service of the catalogue from a
// vehicle profile, and answers UDS requests given as arguments or on standard input, or
// serves testers over DoIP; or, over SOME/IP, plays the vehicle (--offer) or the manager
// (--someip) in a process of its own. The pieces live in sim/cli/ (dmsim --help says it all).

#include <cstdio>
#include <exception>

#include "sim/cli/exit_status.h"
#include "sim/cli/listing.h"
#include "sim/cli/option_checks.h"
#include "sim/cli/options.h"
#include "sim/cli/wiring.h"

int main(int argc, char** argv) {
    dmsim::Options options;
    if (const auto status = dmsim::parse_options(argc, argv, options)) {
        return *status;
    }
    if (const auto status = dmsim::check_options(options)) {
        return *status;
    }
    if (options.list) {
        return dmsim::list_identifiers(options);
    }
    if (!options.wireshark_names.empty()) {
        return dmsim::write_wireshark_names(options);
    }
    try {
        return dmsim::run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dmsim: cannot run the plug-in: %s\n", e.what());
        return dmsim::exit_status::plugin;
    }
}
