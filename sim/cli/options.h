#pragma once
// dmsim's command line: what each option sets, its help text and its checks of one value.
//
//   dmsim::Options options;
//   if (const auto status = dmsim::parse_options(argc, argv, options)) return *status;

#include <chrono>
#include <optional>
#include <string>
#include <vector>

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
};

// Fills `options` from the command line. An exit status when dmsim ends here: after the
// help or the version (0), or after a message about a bad option (2).
std::optional<int> parse_options(int argc, char** argv, Options& options);

// "dmsim: <message>" and where to read more, on standard error.
void usage_error(const std::string& message);

}  // namespace dmsim
