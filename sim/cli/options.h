#pragma once
// dmsim's command line: what each option sets, its help text and its checks of one value.
//
//   dmsim::Options options;
//   if (const auto status = dmsim::parse_options(argc, argv, options)) return *status;

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/runtime/someip.h"
#include "sim/doip/server.h"

namespace dmsim {

struct Options {
    std::vector<std::string> requests;
    std::string plugin;
    std::string vehicle;
    std::string instance;
    std::vector<std::string> meta;
    std::string log_level = "warn";
    std::string log_file;
    std::string log_format = "text";
    std::string dlt_app = "DMSM";
    std::string trace_file;
    std::optional<unsigned> cancel_after_ms;
    bool json = false;
    bool list = false;
    std::optional<std::string> doip;  // [ADDRESS:]PORT; empty: the default
    unsigned p2_ms = 50;
    unsigned pending_interval_ms = 2000;
    unsigned max_pending = 10;
    unsigned max_dids = 32;
    unsigned s3_ms = 5000;
    doip::Server_options server;
    // SOME/IP: the vehicle's side (--offer ADDRESS[:PORT]) or the manager's (--someip ADDRESS).
    std::optional<std::string> offer;
    std::optional<std::string> someip;
    std::string deployment;
    std::optional<unsigned> sd_port;
    std::optional<std::string> sd_multicast;
    std::vector<std::string> sd_peers;
    std::optional<unsigned> sd_wait_ms;  // default 3000
    std::optional<unsigned> someip_max_message;
    std::string wireshark_names;  // a folder
    // Filled by check_options for --offer, --someip, --list and --wireshark-names: the
    // deployment in effect and, for the two roles, the runtime's settings.
    platform::runtime::Someip_settings someip_settings;
};

// Fills `options` from the command line. An exit status when dmsim ends here: after the
// help or the version (0), or after a message about a bad option (2).
std::optional<int> parse_options(int argc, char** argv, Options& options);

// "dmsim: <message>" and where to read more, on standard error.
void usage_error(const std::string& message);

}  // namespace dmsim
