// dmsim: a diagnostic manager simulator with a simulated vehicle. Loads the plug-in with
// dlopen as the diagnostic manager does, offers every service of the catalogue from a
// vehicle profile, and answers UDS requests given as arguments or on standard input.
//
//   dmsim "22 F1 90" "31 01 03 00 01 02 03"
//   echo "22F190" | dmsim --json --trace calls.jsonl
//
// Exit status: 0 every request answered, 1 plug-in not loadable, 2 usage error or bad
// profile (or a bad standard input line), 3 a request cancelled by --cancel-after.

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <limits.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "binding/runtime/runtime.h"
#include "host/extensions.h"
#include "host/plugin.h"
#include "platform/ara_log/control.h"
#include "platform/ara_log/dlt_sink.h"
#include "platform/ara_log/sink.h"
#include "platform/runtime/application.h"
#include "sim/canceller.h"
#include "sim/hex.h"
#include "sim/profile.h"
#include "sim/report.h"
#include "sim/trace.h"
#include "sim/uds_router.h"
#include "sim/vehicle.h"

namespace {

constexpr int exit_answered = 0;
constexpr int exit_plugin = 1;
constexpr int exit_usage = 2;
constexpr int exit_cancelled = 3;

constexpr char default_instance[] = "diag";

struct Options {
    std::vector<std::string> requests;
    std::string plugin;
    std::string vehicle;
    std::string instance;
    std::vector<std::string> meta;
    std::string log_level = "warn";
    std::string log_file;
    std::string dlt_app = "DMSM";
    std::string trace_file;
    std::optional<unsigned> cancel_after_ms;
    bool json = false;
};

constexpr char description[] =
    "dmsim - diagnostic manager simulator with a simulated vehicle.\n"
    "Loads the plug-in with dlopen as the diagnostic manager does (both identifier lists,\n"
    "one extension per identifier, start_find_service on each), offers every service of\n"
    "the catalogue from a vehicle profile, waits until discovery has settled, then sends\n"
    "each REQUEST as a tester would and prints the answer.";

constexpr char footer[] = R"(Requests
  A REQUEST is UDS bytes in hex, spaces allowed between bytes: "22F190", "22 F1 90".
  Without REQUEST arguments dmsim reads standard input, one request per line, answering
  each line as it comes; empty lines and lines starting with # are skipped. A line that
  is not hex prints "<line> -> error: <why>" and the next lines are still answered. A
  bad REQUEST argument stops dmsim before anything runs.

  22 DID [DID ...]       ReadDataByIdentifier: reads each DID in order -> 62 DID data ...
  2E DID DATA ...        WriteDataByIdentifier -> 6E DID
  31 SF RID [OPTION ...] RoutineControl, SF 01 start, 02 stop, 03 request results; the
                         option bytes are the routine's input -> 71 SF RID data ...
  Negative responses are 7F SID NRC. dmsim itself answers 11 (service not supported),
  12 (sub-function not supported), 13 (wrong length) and 31 (identifier not served; a
  22 request is checked whole before any DID is read). Other codes come from the
  plug-in (10: service not found or failed, 13: routine input too short) or from the
  simulated application (the profile's "error").

Output
  Text: one line per request, "22 F1 90 -> 62 F1 90 57 44 ...".
  --json: {"request":"22F190","response":"62F190...","elapsed_us":N}.
  A request cancelled by --cancel-after prints "cancelled, no response", or
  "cancelled":true and no "response".

Vehicle profile (--vehicle FILE; the built-in one is sim/profiles/vehicle.json)
  {"instance": "diag",
   "dids":     {"F190": {"Read": {"values": ["5744443132..."]}}},
   "routines": {"0300": {"Start": {"error": [34]},
                         "Stop":  {"delay_ms": 200, "values": [1]}},
                "0203": {"offered": false}}}
  Identifiers are four hex digits. Methods: Read and Cancel for DIDs; Start and Cancel
  for routines, plus Stop and RequestResults for full routines. One answer per method:
    "values": [...]      the output record's members in order: a number for u8, u16,
                         u32; a hex string of exactly N bytes for u8[N]; a hex string
                         for bytes. Encoded by the SOME/IP rules.
    "payload": "hex"     a raw response payload, sent as it is (return code 0 unless
                         "return_code" is given)
    "error": [34]        return code 2 (application error) with these bytes as its
                         payload: the UDS negative response code
    "return_code": N     any return code, with "payload" or an empty payload
    "delay_ms": N        answer after N ms (with any of the above), without blocking
                         other calls
    "no_response": true  never answer (see --cancel-after)
  "offered": false on an identifier: that service is never offered (NRC 10).
  Methods and identifiers left out answer with a record of zeros (empty byte
  sequences). Keys starting with "_" are comments, at every level. A profile that is
  not valid JSON, names an unknown identifier or method, or gives values that do not
  fit the record is rejected with a message naming the file and the place.

Exit status
  0  every request was answered (negative responses included)
  1  the plug-in cannot be loaded
  2  usage error, bad REQUEST, unreadable or invalid profile, log or trace file that
     cannot be written; on standard input: some line was not a request
  3  a request was cancelled by --cancel-after (and no line was bad)

Examples
  dmsim "22 F1 90" "22 F1 90 01 02" "31 01 03 00 01 02 03"
  printf '22F190\n31 03 03 00\n' | dmsim --json --trace calls.jsonl
  dmsim --vehicle my.json --cancel-after 500 --log-level info --meta tester=0E80 "22 01 02")";

ara::log::LogLevel log_level(const std::string& name) {
    static const std::map<std::string, ara::log::LogLevel> levels = {
        {"off", ara::log::LogLevel::kOff},        {"fatal", ara::log::LogLevel::kFatal},
        {"error", ara::log::LogLevel::kError},    {"warn", ara::log::LogLevel::kWarn},
        {"info", ara::log::LogLevel::kInfo},      {"debug", ara::log::LogLevel::kDebug},
        {"verbose", ara::log::LogLevel::kVerbose}};
    return levels.at(name);
}

// The plug-in that dmsim loads without --plugin, found relative to the dmsim binary so that
// an installed or unpacked tree works wherever it lies: the installed layout first
// (bin/dmsim, lib/<multiarch>/diag-extensions/), then the build tree. When neither exists,
// the installed path, so that the error names where the plug-in was expected.
std::string default_plugin_path() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return DIAG_PLUGIN_INSTALLED;
    }
    std::string folder(buffer, static_cast<std::size_t>(length));
    folder.erase(folder.find_last_of('/') + 1);
    for (const char* relative : {DIAG_PLUGIN_INSTALLED, DIAG_PLUGIN_BUILT}) {
        const std::string candidate = folder + relative;
        if (access(candidate.c_str(), R_OK) == 0) {
            return candidate;
        }
    }
    return folder + DIAG_PLUGIN_INSTALLED;
}

void usage_error(const std::string& message) {
    std::fprintf(stderr, "dmsim: %s\nRun with --help for more information.\n", message.c_str());
}

// The MetaInfo from the --meta options; nullopt (after a message) when one is malformed.
std::optional<kem::dm::types::MetaInfo> parse_meta(const std::vector<std::string>& entries) {
    kem::dm::types::MetaInfo meta;
    for (const std::string& entry : entries) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) {
            usage_error("--meta \"" + entry + "\": expected KEY=VALUE with a non-empty KEY");
            return std::nullopt;
        }
        const std::string key = entry.substr(0, equals);
        if (!meta.emplace(key, entry.substr(equals + 1)).second) {
            usage_error("--meta: KEY \"" + key + "\" given twice");
            return std::nullopt;
        }
    }
    return meta;
}

class Session {
  public:
    Session(const Options& options, kem::dm::types::MetaInfo meta, dmsim::Uds_router router,
            dmsim::Canceller* canceller)
        : options_(options),
          meta_(std::move(meta)),
          router_(std::move(router)),
          canceller_(canceller) {}

    void answer(const dmsim::Bytes& request) {
        const auto start = std::chrono::steady_clock::now();
        const dmsim::Outcome outcome = router_.answer(request, meta_, canceller_);
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        cancelled_ = cancelled_ || outcome.cancelled;
        print(options_.json ? dmsim::json_line(request, outcome, elapsed)
                            : dmsim::text_line(request, outcome));
    }

    void reject(const std::string& line, const std::string& message) {
        rejected_ = true;
        print(options_.json ? dmsim::json_error_line(line, message)
                            : dmsim::text_error_line(line, message));
    }

    int status() const {
        return rejected_ ? exit_usage : cancelled_ ? exit_cancelled : exit_answered;
    }

  private:
    static void print(const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);  // answers appear as they come, also through a pipe
    }

    const Options& options_;
    const kem::dm::types::MetaInfo meta_;
    const dmsim::Uds_router router_;
    dmsim::Canceller* const canceller_;
    bool cancelled_ = false;
    bool rejected_ = false;
};

void read_standard_input(Session& session) {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        try {
            session.answer(dmsim::parse_hex(line));
        } catch (const dmsim::Hex_error& e) {
            session.reject(line, e.what());
        }
    }
}

int run(const Options& options) {
    const auto meta = parse_meta(options.meta);
    if (!meta) {
        return exit_usage;
    }
    std::vector<dmsim::Bytes> requests;
    for (const std::string& text : options.requests) {
        try {
            requests.push_back(dmsim::parse_hex(text));
        } catch (const dmsim::Hex_error& e) {
            usage_error("REQUEST \"" + text + "\": " + e.what());
            return exit_usage;
        }
        if (requests.back().empty()) {
            usage_error("REQUEST \"" + text + "\" holds no bytes");
            return exit_usage;
        }
    }

    std::optional<dmsim::Vehicle_profile> profile;
    try {
        profile = options.vehicle.empty() ? dmsim::parse_profile(dmsim::builtin_profile_text(),
                                                                 dmsim::builtin_profile_name)
                                          : dmsim::load_profile_file(options.vehicle);
    } catch (const dmsim::Profile_error& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
        return exit_usage;
    }
    std::unique_ptr<dmsim::Trace> trace;
    if (!options.trace_file.empty()) {
        try {
            trace = std::make_unique<dmsim::Trace>(options.trace_file);
        } catch (const std::runtime_error& e) {
            std::fprintf(stderr, "dmsim: %s\n", e.what());
            return exit_usage;
        }
    }
    std::shared_ptr<platform::ara_log::Sink> log_sink;
    if (options.log_file == "dlt") {
        try {
            log_sink = std::make_shared<platform::ara_log::Dlt_sink>(options.dlt_app, "DIAG");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "dmsim: cannot log to DLT: %s\n", e.what());
            return exit_usage;
        }
    } else if (!options.log_file.empty()) {
        try {
            log_sink = std::make_shared<platform::ara_log::File_sink>(options.log_file);
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "dmsim: %s: cannot write the log: %s\n", options.log_file.c_str(),
                         e.code().message().c_str());
            return exit_usage;
        }
    }
    platform::ara_log::set_threshold(log_level(options.log_level));
    if (log_sink) {
        platform::ara_log::set_sink(log_sink);
    }
    // The sink is released when run returns, after the vehicle: the DLT sink then hands
    // what the DLT library still buffers to the daemon.
    struct Sink_release {
        bool installed;
        ~Sink_release() {
            if (installed) {
                platform::ara_log::set_sink(nullptr);
            }
        }
    } sink_release{log_sink != nullptr};

    std::optional<host::Plugin> plugin;
    try {
        plugin.emplace(options.plugin);
    } catch (const host::Plugin_error& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
        return exit_plugin;
    }

    // The applications are offered under the profile's instance; the manager searches
    // under --instance, which is the same unless the user says otherwise.
    const std::string vehicle_instance = profile->instance.value_or(default_instance);
    const std::string instance = options.instance.empty() ? vehicle_instance : options.instance;
    const bool chatty = log_level(options.log_level) >= ara::log::LogLevel::kInfo;
    if (chatty) {
        const char* version = kem::com::runtime::generator_version;
        std::fprintf(stderr, "dmsim: plug-in %s (generator version %s)\n", plugin->path().c_str(),
                     version != nullptr ? version : "not set");
    }

    // Destroyed in reverse: the extensions end before the vehicle withdraws its offers.
    dmsim::Vehicle vehicle(std::move(*profile), vehicle_instance, trace.get());
    std::optional<host::Extension_set> extensions;
    try {
        extensions.emplace(*plugin);
    } catch (const host::Plugin_error& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
        return exit_plugin;
    }
    extensions->start_find_service(instance);
    platform::runtime::settle();
    if (chatty) {
        std::fprintf(stderr,
                     "dmsim: %zu DID and %zu RID extensions searching instance \"%s\"; "
                     "%zu services offered under \"%s\"\n",
                     extensions->dids().size(), extensions->rids().size(), instance.c_str(),
                     vehicle.offered_count(), vehicle_instance.c_str());
    }

    std::optional<dmsim::Canceller> canceller;
    if (options.cancel_after_ms) {
        canceller.emplace(std::chrono::milliseconds(*options.cancel_after_ms));
    }
    Session session(options, *meta, dmsim::Uds_router(extensions->dids(), extensions->rids()),
                    canceller ? &*canceller : nullptr);
    if (requests.empty()) {
        read_standard_input(session);
    } else {
        for (const dmsim::Bytes& request : requests) {
            session.answer(request);
        }
    }
    canceller.reset();
    extensions.reset();  // stop_find_service on each, then destroy each
    return session.status();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app(description, "dmsim");
    app.get_formatter()->column_width(26);
    app.footer(footer);
    app.set_version_flag("--version", std::string("dmsim ") + DIAG_VERSION +
                                          "\ngenerator version " +
                                          kem::dm::plugin::generator_version);
    app.add_option("REQUEST", options.requests,
                   "UDS request bytes in hex (see Requests below); none: read standard input")
        ->option_text("...");
    app.add_option("--plugin", options.plugin,
                   "plug-in to load (default, from dmsim's folder:\n" DIAG_PLUGIN_INSTALLED
                   ",\nelse the one built with dmsim)")
        ->option_text("PATH");
    app.add_option("--vehicle", options.vehicle,
                   "vehicle profile, JSON (default: the built-in profile)")
        ->option_text("FILE");
    app.add_option("--instance", options.instance,
                   "instance specifier for start_find_service (default: the profile's\n"
                   "\"instance\", else \"diag\"); the applications are offered under the\n"
                   "profile's, so another NAME finds no service (NRC 10)")
        ->option_text("NAME");
    app.add_option("--meta", options.meta,
                   "MetaInfo entry passed with every request (repeatable; default: none)")
        ->option_text("KEY=VALUE")
        ->allow_extra_args(false);
    app.add_option("--log-level", options.log_level,
                   "off, fatal, error, warn, info, debug or verbose (default warn):\n"
                   "threshold of the platform log, where the plug-in writes one JSON\n"
                   "line per incident; info and above also print a start-up summary")
        ->option_text("LEVEL")
        ->check(CLI::IsMember({"off", "fatal", "error", "warn", "info", "debug", "verbose"}));
    app.add_option("--log", options.log_file,
                   "write the log lines to FILE instead of standard error; \"dlt\":\n"
                   "send them to the DLT daemon (context DIAG; long lines in\n"
                   "numbered parts \"#S K/N ...\")")
        ->option_text("FILE|dlt");
    app.add_option("--dlt-app", options.dlt_app,
                   "DLT application id with --log dlt, 1 to 4 characters (default DMSM)")
        ->option_text("ID");
    app.add_option("--trace", options.trace_file,
                   "write one JSON line per method call that a simulated application\n"
                   "receives, when it arrives: {\"service\":\"<interface>\",\"instance\":\n"
                   "\"diag\",\"method\":<method id>,\"request\":\"<payload hex>\"}")
        ->option_text("FILE");
    app.add_option("--cancel-after", options.cancel_after_ms,
                   "cancel a request that still waits after MS milliseconds, from a\n"
                   "second thread (the extension's cancel, repeated every 50 ms while\n"
                   "the request waits); the request is reported as cancelled")
        ->option_text("MS")
        ->check(CLI::Range(0u, 3'600'000u));
    app.add_flag("--json", options.json, "print one JSON object per request instead of text");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);  // prints the help, or the error
        return status == 0 ? exit_answered : exit_usage;
    }
    if (options.plugin.empty()) {
        options.plugin = default_plugin_path();
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dmsim: cannot run the plug-in: %s\n", e.what());
        return exit_plugin;
    }
}
