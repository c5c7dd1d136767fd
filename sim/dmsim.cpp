// dmsim: a diagnostic manager simulator with a simulated vehicle. Loads the plug-in with
// dlopen as the diagnostic manager does, offers every service of the catalogue from a
// vehicle profile, and answers UDS requests given as arguments or on standard input.
//
//   dmsim "22 F1 90" "31 01 03 00 01 02 03"
//   echo "22F190" | dmsim --json --trace calls.jsonl
//
// Exit status: 0 every request answered, 1 plug-in not loadable, 2 usage error or bad
// profile (or a bad standard input line), 3 a request cancelled by --cancel-after, 4 a
// write to standard output, the log or the trace failed.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <filesystem>
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
#include "sim/doip/serve.h"
#include "sim/ecu.h"
#include "sim/hex.h"
#include "sim/line_reader.h"
#include "sim/listing.h"
#include "sim/log_sink.h"
#include "sim/output_file.h"
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
constexpr int exit_write_failed = 4;

constexpr char default_instance[] = "diag";

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
    dmsim::doip::Server_options server;
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
  bad REQUEST argument stops dmsim before anything runs. A request longer than
  --max-data-size bytes (default 4095) is refused the same way; on standard input such
  a line is read in bounded memory and skipped.

  dmsim --list shows every identifier: the request to send (with the option bytes a
  routine's Start needs), the positive answer and its members; --list --json as JSON.

  10 SF                  DiagnosticSessionControl, SF 01 default, 03 extended -> 50 SF
                         00 32 01 F4 (P2 and P2*); back to default after 5 s idle
  3E 00                  TesterPresent -> 7E 00
  22 DID [DID ...]       ReadDataByIdentifier: reads each DID in order -> 62 DID data ...;
                         DIDs not served are left out (none served: 7F 22 31)
  2E DID DATA ...        WriteDataByIdentifier -> 6E DID
  31 SF RID [OPTION ...] RoutineControl, SF 01 start, 02 stop, 03 request results; the
                         option bytes are the routine's input (how many: dmsim --list)
                         -> 71 SF RID data ...
  Negative responses are 7F SID NRC. dmsim itself answers 11 (service not supported),
  12 (sub-function not supported), 13 (wrong length) and 31 (identifier not served; a
  22 request is checked whole before any DID is read). Other codes come from the
  plug-in (10: service not found or failed, 13: routine input too short) or from the
  simulated application (the profile's "error"). Bit 0x80 of the sub-function of 10, 3E
  and 31 suppresses a positive answer. An answer not ready after --p2 is preceded by
  7F SID 78 (response pending), repeated every --pending-interval; after --max-pending
  of them the request is cancelled and answers 7F SID 10.

Output
  Text: one line per request, "22 F1 90 -> 62 F1 90 57 44 ..."; a suppressed answer
  "3E 80 -> suppressed".
  --json: {"request":"22F190","response":"62F190...","elapsed_us":N}, plus "pending":N
  after pending answers and "suppressed":true (with "response":"").
  A request cancelled by --cancel-after prints "cancelled, no response", or
  "cancelled":true and no "response".
  Log (--log-format): text, "<level> <incident JSON>"; jsonl, one JSON object per line,
  {"time":"<UTC, ISO 8601, microseconds>","level":"debug","incident":{...}} (a message
  that is not JSON is embedded as a string).
  Trace: {"time":..., "service":..., "instance":..., "method":<id>, "method_name":"Read",
  "request":"<payload hex>"}.

Vehicle profile (--vehicle FILE; the built-in one is sim/profiles/vehicle.json)
  Installed next to it is the profile's JSON Schema, vehicle.schema.json: name it in
  "$schema" and an editor completes identifiers and method names and checks values.
  {"$schema": "vehicle.schema.json",
   "instance": "diag",
   "dids":     {"F190": {"Read": {"values": ["5744443132..."]}}},
   "routines": {"0300": {"Start": {"error": [34]},
                         "Stop":  {"delay_ms": 200, "values": [1]}},
                "0203": {"offered": false}}}
  dmsim --list names each identifier's methods and output members. Identifiers are
  four hex digits. Methods: Read and Cancel for DIDs; Start and Cancel
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
  not valid JSON, gives a key twice, names an unknown identifier or method, or gives
  values that do not fit the record is rejected with a message naming the file and the
  place; positions in arrays count from 0 ("values[1]").

DoIP (--doip [ADDRESS:]PORT)
  Serves testers over TCP (protocol version 2 or 3) and answers vehicle identification,
  entity status and power mode over UDP on the same port, until SIGINT or SIGTERM. A
  tester activates routing with a source address 0E00-0FFF, then sends UDS in diagnostic
  messages to the entity's logical address or to E400. The profile may name the entity:
    "doip": {"vin": "<17 characters>", "logical_address": "1000",
             "eid": "00023631001C", "gid": "00023631001C"}
  (VIN default: the answer for DID F190). Sockets without routing activation close after
  2 s, idle ones after 5 min. A tester that disconnects has its request cancelled.

Exit status
  0  every request was answered (negative responses included)
  1  the plug-in cannot be loaded
  2  usage error, bad REQUEST, unreadable or invalid profile, log or trace file that
     cannot be created, one file named for two outputs; on standard input: some line
     was not a request
  3  a request was cancelled by --cancel-after (and no line was bad)
  4  writing standard output, the log or the trace failed (a full disk, a closed
     pipe): dmsim stops at once

Examples
  dmsim --list
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

// An option given as "" would silently mean its default: refuse it.
const CLI::Validator non_empty(
    [](const std::string& value) {
        return value.empty() ? std::string("an empty value is not allowed") : std::string();
    },
    "", "NON_EMPTY");

// A whole-number option within [low, high].
template <class T>
CLI::Option* number_option(CLI::App& app, const std::string& name, T& target, const char* text,
                           const std::string& help, T low, T high) {
    return app.add_option(name, target, help)->option_text(text)->check(CLI::Range(low, high));
}

// The file a path names, links followed; a file not there yet by its folder.
std::filesystem::path resolved(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path path = fs::absolute(name, error).lexically_normal();
    if (fs::exists(path, error)) {
        return fs::canonical(path, error);
    }
    const fs::path folder = fs::canonical(path.parent_path(), error);
    return error ? path : folder / path.filename();
}

// Two outputs, or an output and the profile, that name the same file would overwrite each
// other. Devices and pipes (/dev/null) may be named twice. The message when they clash.
std::optional<std::string> same_file(const Options& options) {
    namespace fs = std::filesystem;
    const std::pair<const char*, std::string> files[] = {
        {"--vehicle", options.vehicle},
        {"--log", options.log_file == "dlt" ? std::string() : options.log_file},
        {"--trace", options.trace_file}};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            if (files[i].second.empty() || files[j].second.empty()) {
                continue;
            }
            const fs::path a = resolved(files[i].second);
            std::error_code missing;  // a file not there yet is an ordinary file
            const auto status = fs::status(a, missing);
            const bool special = fs::exists(status) && !fs::is_regular_file(status);
            if (a == resolved(files[j].second) && !special) {
                return std::string(files[i].first) + " and " + files[j].first +
                       " name the same file " + a.string();
            }
        }
    }
    return std::nullopt;
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

// Where dmsim writes; a failed write to any of them ends the run (exit status 4).
struct Outputs {
    dmsim::Output_file out{stdout, "standard output"};
    std::shared_ptr<dmsim::Log_sink> log;  // null with --log dlt
    std::unique_ptr<dmsim::Trace> trace;

    std::optional<std::string> failure() const {
        if (auto failed = out.failure()) {
            return failed;
        }
        if (log) {
            if (auto failed = log->failure()) {
                return failed;
            }
        }
        return trace ? trace->failure() : std::nullopt;
    }
};

class Session {
  public:
    Session(const Options& options, kem::dm::types::MetaInfo meta, const dmsim::Ecu& ecu,
            Outputs& outputs)
        : options_(options),
          meta_(std::move(meta)),
          ecu_(ecu),
          tester_(ecu.options()),
          outputs_(outputs) {}

    // False once a write has failed (after a message): nothing more should be answered.
    bool answer(const dmsim::Bytes& request) {
        if (request.size() > options_.server.max_data_size) {
            const dmsim::Bytes start(
                request.begin(), request.begin() + std::min<std::ptrdiff_t>(request.size(), 13));
            return reject(dmsim::to_hex(start, ' ') + " ...",
                          too_long(options_.server.max_data_size));
        }
        const auto start = std::chrono::steady_clock::now();
        const dmsim::Outcome outcome = ecu_.answer(request, meta_, tester_);
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        cancelled_ = cancelled_ || outcome.cancelled;
        return print(options_.json ? dmsim::json_line(request, outcome, elapsed)
                                   : dmsim::text_line(request, outcome));
    }

    bool reject(const std::string& line, const std::string& message) {
        rejected_ = true;
        return print(options_.json ? dmsim::json_error_line(line, message)
                                   : dmsim::text_error_line(line, message));
    }

    int status() const {
        return failed_      ? exit_write_failed
               : rejected_  ? exit_usage
               : cancelled_ ? exit_cancelled
                            : exit_answered;
    }

    static std::string too_long(std::uint32_t limit) {
        return "longer than the maximum data size of " + std::to_string(limit) +
               " bytes (--max-data-size)";
    }

  private:
    // Flushed line by line: answers appear as they come, also through a pipe.
    bool print(const std::string& line) {
        outputs_.out.write_line(line);
        if (const auto failure = outputs_.failure()) {
            std::fprintf(stderr, "dmsim: cannot write %s\n", failure->c_str());
            failed_ = true;
        }
        return !failed_;
    }

    const Options& options_;
    const kem::dm::types::MetaInfo meta_;
    const dmsim::Ecu& ecu_;
    dmsim::Tester tester_;
    Outputs& outputs_;
    bool cancelled_ = false;
    bool rejected_ = false;
    bool failed_ = false;
};

// One request per line. A line is kept up to four characters per byte of the maximum data
// size ("XX " and room for blanks); a longer one is refused unread, in bounded memory.
void read_standard_input(Session& session, std::uint32_t max_data_size) {
    dmsim::Line_reader reader(STDIN_FILENO, 4 * std::size_t{max_data_size} + 64);
    while (const auto line = reader.next()) {
        const std::string& text = line->text;
        const auto first = text.find_first_not_of(" \t");
        if (first == std::string::npos || text[first] == '#') {
            if (line->cut && first == std::string::npos) {
                // Blanks beyond the limit: say so rather than skip them silently.
                if (!session.reject("(blank line)", Session::too_long(max_data_size))) {
                    return;
                }
            }
            continue;
        }
        bool go_on = true;
        if (line->cut) {
            go_on = session.reject(text.substr(0, 40) + "...", Session::too_long(max_data_size));
        } else {
            try {
                go_on = session.answer(dmsim::parse_hex(text));
            } catch (const dmsim::Hex_error& e) {
                go_on = session.reject(text, e.what());
            }
        }
        if (!go_on) {
            return;
        }
    }
}

// The DoIP identity: the profile's "doip" object; the VIN defaults to the answer for DID F190.
dmsim::doip::Entity doip_entity(const dmsim::Doip_profile& profile, const dmsim::Ecu& ecu,
                                const kem::dm::types::MetaInfo& meta) {
    dmsim::doip::Entity entity;
    entity.vin.fill(0xFF);
    if (profile.vin) {
        std::copy(profile.vin->begin(), profile.vin->end(), entity.vin.begin());
    } else {
        dmsim::Tester tester(ecu.options());
        const dmsim::Bytes answer = ecu.answer({0x22, 0xF1, 0x90}, meta, tester).response;
        if (answer.size() >= 3 + entity.vin.size() && answer[0] == 0x62) {
            std::copy_n(answer.begin() + 3, entity.vin.size(), entity.vin.begin());
        }
    }
    entity.logical_address = profile.logical_address.value_or(entity.logical_address);
    entity.eid = profile.eid.value_or(entity.eid);
    entity.gid = profile.gid.value_or(entity.gid);
    return entity;
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
        if (requests.back().size() > options.server.max_data_size) {
            usage_error("REQUEST \"" + text.substr(0, 40) + "...\" is " +
                        Session::too_long(options.server.max_data_size));
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
    Outputs outputs;
    std::shared_ptr<platform::ara_log::Sink> log_sink;
    try {
        if (!options.trace_file.empty()) {
            outputs.trace = std::make_unique<dmsim::Trace>(options.trace_file);
        }
        if (options.log_file == "dlt") {
            try {
                log_sink = std::make_shared<platform::ara_log::Dlt_sink>(options.dlt_app, "DIAG");
            } catch (const std::exception& e) {
                throw std::runtime_error(std::string("cannot log to DLT: ") + e.what());
            }
        } else {
            auto file = options.log_file.empty()
                            ? std::make_unique<dmsim::Output_file>(stderr, "standard error")
                            : std::make_unique<dmsim::Output_file>(options.log_file, "log");
            outputs.log = std::make_shared<dmsim::Log_sink>(
                std::move(file),
                options.log_format == "jsonl" ? dmsim::Log_format::jsonl : dmsim::Log_format::text);
            log_sink = outputs.log;
        }
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
        return exit_usage;
    }
    platform::ara_log::set_threshold(log_level(options.log_level));
    platform::ara_log::set_sink(log_sink);
    // The sink is released when run returns, after the vehicle: the DLT sink then hands
    // what the DLT library still buffers to the daemon.
    struct Sink_release {
        ~Sink_release() { platform::ara_log::set_sink(nullptr); }
    } sink_release;

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
    // The summary is text: it stays out of JSON lines on standard error.
    const bool chatty = log_level(options.log_level) >= ara::log::LogLevel::kInfo &&
                        !(options.log_format == "jsonl" && options.log_file.empty());
    if (chatty) {
        const char* version = kem::com::runtime::generator_version;
        std::fprintf(stderr, "dmsim: plug-in %s (generator version %s)\n", plugin->path().c_str(),
                     version != nullptr ? version : "not set");
    }

    // Destroyed in reverse: the extensions end before the vehicle withdraws its offers.
    const dmsim::Doip_profile doip_profile = profile->doip;
    dmsim::Vehicle vehicle(std::move(*profile), vehicle_instance, outputs.trace.get());
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

    dmsim::Ecu_options ecu_options;
    ecu_options.p2 = std::chrono::milliseconds(options.p2_ms);
    ecu_options.pending_interval = std::chrono::milliseconds(options.pending_interval_ms);
    ecu_options.max_pending = options.max_pending;
    ecu_options.s3 = std::chrono::milliseconds(options.s3_ms);
    ecu_options.limits.max_dids = options.max_dids;
    ecu_options.limits.max_data_size = options.server.max_data_size;
    if (options.cancel_after_ms) {
        ecu_options.cancel_after = std::chrono::milliseconds(*options.cancel_after_ms);
    }
    std::optional<dmsim::Ecu> ecu;
    ecu.emplace(extensions->dids(), extensions->rids(), ecu_options);
    if (options.doip) {
        const dmsim::doip::Entity entity = doip_entity(doip_profile, *ecu, *meta);
        const int status = dmsim::doip::serve(*ecu, entity, options.server, *meta, stdout,
                                              [&outputs] { return outputs.failure(); });
        ecu.reset();
        extensions.reset();
        return status;
    }
    Session session(options, *meta, *ecu, outputs);
    if (requests.empty()) {
        read_standard_input(session, options.server.max_data_size);
    } else {
        for (const dmsim::Bytes& request : requests) {
            if (!session.answer(request)) {
                break;
            }
        }
    }
    extensions.reset();  // stop_find_service on each, then destroy each
    if (session.status() != exit_write_failed) {
        if (const auto failure = outputs.failure()) {  // a log line written at the end
            std::fprintf(stderr, "dmsim: cannot write %s\n", failure->c_str());
            return exit_write_failed;
        }
    }
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
        ->option_text("PATH")
        ->check(non_empty);
    app.add_option("--vehicle", options.vehicle,
                   "vehicle profile, JSON (default: the built-in profile)")
        ->option_text("FILE")
        ->check(non_empty);
    app.add_option("--instance", options.instance,
                   "instance specifier for start_find_service (default: the profile's\n"
                   "\"instance\", else \"diag\"); the applications are offered under the\n"
                   "profile's, so another NAME finds no service (NRC 10)")
        ->option_text("NAME")
        ->check(non_empty);
    app.add_option("--meta", options.meta,
                   "MetaInfo entry passed with every request (repeatable; default: none)")
        ->option_text("KEY=VALUE")
        ->allow_extra_args(false);
    app.add_option("--log-level", options.log_level,
                   "off, fatal, error, warn, info, debug or verbose (default warn):\n"
                   "threshold of the platform log, where the plug-in writes one JSON\n"
                   "line per incident; info and above also print a start-up summary\n"
                   "(not into jsonl lines on standard error)")
        ->option_text("LEVEL")
        ->check(CLI::IsMember({"off", "fatal", "error", "warn", "info", "debug", "verbose"}));
    app.add_option("--log", options.log_file,
                   "write the log lines to FILE instead of standard error; \"dlt\":\n"
                   "send them to the DLT daemon (context DIAG; long lines in\n"
                   "numbered parts \"#S K/N ...\")")
        ->option_text("FILE|dlt")
        ->check(non_empty);
    app.add_option("--log-format", options.log_format,
                   "text (default): \"<level> <incident>\"; jsonl: one JSON object per\n"
                   "line with \"time\", \"level\" and \"incident\" (see Output below)")
        ->option_text("FORMAT")
        ->check(CLI::IsMember({"text", "jsonl"}));
    app.add_option("--dlt-app", options.dlt_app,
                   "DLT application id with --log dlt, 1 to 4 characters (default DMSM)")
        ->option_text("ID")
        ->check(non_empty);
    app.add_option("--trace", options.trace_file,
                   "write one JSON line per method call that a simulated application\n"
                   "receives, when it arrives, with its time, service, instance,\n"
                   "method id and name and request payload (see Output below)")
        ->option_text("FILE")
        ->check(non_empty);
    app.add_option("--cancel-after", options.cancel_after_ms,
                   "cancel a request that still waits after MS milliseconds, from a\n"
                   "second thread (the extension's cancel, repeated every 50 ms while\n"
                   "the request waits); the request is reported as cancelled")
        ->option_text("MS")
        ->check(CLI::Range(0u, 3'600'000u));
    app.add_flag("--json", options.json, "print one JSON object per request instead of text");
    app.add_flag("--list", options.list,
                 "list every identifier: how to read it or start it (option bytes),\n"
                 "its methods and their output members; with --json as JSON");
    app.add_option("--doip", options.doip,
                   "serve testers over DoIP (TCP and UDP) on [ADDRESS:]PORT instead of\n"
                   "reading requests, until SIGINT or SIGTERM (default 127.0.0.1:13400;\n"
                   "port 0: a free one); the port is printed on standard output")
        ->option_text("[ADDRESS:]PORT")
        ->expected(0, 1);
    number_option(app, "--p2", options.p2_ms, "MS",
                  "answer 7F <sid> 78 (response pending) when the answer is not ready\n"
                  "after MS milliseconds (default 50)",
                  1u, 65'535u);
    number_option(app, "--pending-interval", options.pending_interval_ms, "MS",
                  "repeat the pending answer every MS milliseconds (default 2000)", 1u, 3'600'000u);
    number_option(app, "--max-pending", options.max_pending, "N",
                  "after N pending answers cancel the request and answer 7F <sid> 10\n"
                  "(default 10)",
                  0u, 100'000u);
    number_option(app, "--max-dids", options.max_dids, "N",
                  "most DIDs in one 22 request; more answer 7F 22 13 (default 32)", 1u, 65'535u);
    number_option(app, "--max-data-size", options.server.max_data_size, "BYTES",
                  "longest request accepted and longest answer sent (7F 22 14);\n"
                  "a longer request is refused with a message (default 4095)",
                  8u, 16'777'216u);
    number_option(app, "--max-testers", options.server.max_testers, "N",
                  "DoIP: testers served at once (routing activations; default 4)", 1u, 255u);
    number_option(app, "--max-payload", options.server.max_payload, "BYTES",
                  "DoIP: longest payload accepted; longer ones are refused (default 65535)", 64u,
                  16'777'216u);
    // Timers of the DoIP server, shortened by the tests.
    app.add_option("--s3", options.s3_ms)->group("")->check(CLI::Range(1u, 3'600'000u));
    const auto milliseconds = [](std::chrono::milliseconds& target) {
        return [&target](unsigned value) { target = std::chrono::milliseconds(value); };
    };
    app.add_option_function<unsigned>("--doip-initial-timeout",
                                      milliseconds(options.server.initial_timeout))
        ->group("");
    app.add_option_function<unsigned>("--doip-idle-timeout",
                                      milliseconds(options.server.idle_timeout))
        ->group("");
    app.add_option_function<unsigned>("--doip-alive-timeout",
                                      milliseconds(options.server.alive_timeout))
        ->group("");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);  // prints the help, or the error
        return status == 0 ? exit_answered : exit_usage;
    }
    if (options.list) {
        if (!options.requests.empty() || options.doip) {
            usage_error("--list prints the identifiers only: no REQUEST and no --doip");
            return exit_usage;
        }
        dmsim::Output_file out(stdout, "standard output");
        std::string listing = options.json ? dmsim::list_json() : dmsim::list_text();
        listing.pop_back();  // write_line ends the last line
        if (!out.write_line(listing)) {
            std::fprintf(stderr, "dmsim: cannot write %s\n", out.failure()->c_str());
            return exit_write_failed;
        }
        return exit_answered;
    }
    if (const auto clash = same_file(options)) {
        usage_error(*clash);
        return exit_usage;
    }
    if (options.plugin.empty()) {
        options.plugin = default_plugin_path();
    }
    if (options.doip) {
        if (!options.requests.empty()) {
            usage_error("--doip serves testers: no REQUEST arguments");
            return exit_usage;
        }
        if (const auto error = dmsim::doip::parse_listen_address(
                options.doip->empty() ? "127.0.0.1:13400" : *options.doip, options.server)) {
            usage_error("--doip: " + *error);
            return exit_usage;
        }
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dmsim: cannot run the plug-in: %s\n", e.what());
        return exit_plugin;
    }
}
