#include "sim/cli/options.h"

#include <cstdio>

#include <CLI/CLI.hpp>

#include "plugin/entry_points.h"
#include "sim/cli/exit_status.h"

namespace dmsim {

namespace {

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

SOME/IP (--offer, --someip)
  The vehicle and the manager in two processes, the applications reached over SOME/IP
  on UDP with Service Discovery (SD). In one terminal: dmsim --offer 127.0.0.2; in
  another: dmsim --someip 127.0.0.1 "22 F1 90". --offer loads no plug-in: it offers
  every service the profile does not mark "offered": false, answers their calls (and
  --trace) until SIGINT or SIGTERM, then withdraws the offers. --someip waits, before
  the first request, until every service is found, or 1.5 s pass without a new one
  after the first, or --sd-wait MS; services still missing are named on standard error
  with the SD traffic seen. SD goes to the group --sd-multicast on port --sd-port: a
  host without a multicast route (add one for 224.0.0.0/4 on the interface) names the
  other side with --sd-peer instead. With --log-level info both sides say what is
  offered or found, and at exit the counts of dropped or odd messages.
  Deployment (--deployment FILE, JSON, every key optional; defaults as shown, the
  service id from the interface's d_xxxx or r_xxxx namespace):
    {"client_id": "0001",
     "interfaces": {"orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus":
                      {"service_id": "0102", "major_version": 1, "minor_version": 0,
                       "methods": {"Cancel": 0, "Read": 1}}},
     "instances": {"diag": {"instance_id": "0001", "udp_port": 30501}},
     "sd": {"port": 30490, "multicast": "224.244.224.245", "initial_delay_ms": [10, 100],
            "repetitions": 3, "repetition_base_delay_ms": 30,
            "cyclic_offer_delay_ms": 1000, "ttl_s": 3}}
  dmsim --list --json shows each identifier's service and method ids under it, and
  dmsim --wireshark-names DIR writes them as Wireshark's SOME/IP name files.

Exit status
  0  every request was answered (negative responses included); --offer and --doip:
     ended by SIGINT or SIGTERM
  1  the plug-in cannot be loaded
  2  usage error, bad REQUEST, unreadable or invalid profile or deployment, log or
     trace file that cannot be created, one file named for two outputs, a socket that
     cannot be opened; on standard input: some line was not a request
  3  a request was cancelled by --cancel-after (and no line was bad)
  4  writing standard output, the log or the trace failed (a full disk, a closed
     pipe): dmsim stops at once

Examples
  dmsim --list
  dmsim "22 F1 90" "22 F1 90 01 02" "31 01 03 00 01 02 03"
  printf '22F190\n31 03 03 00\n' | dmsim --json --trace calls.jsonl
  dmsim --vehicle my.json --cancel-after 500 --log-level info --meta tester=0E80 "22 01 02"
  dmsim --offer 127.0.0.2 --log-level info   # and elsewhere: dmsim --someip 127.0.0.1)";

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

}  // namespace

void usage_error(const std::string& message) {
    std::fprintf(stderr, "dmsim: %s\nRun with --help for more information.\n", message.c_str());
}

std::optional<int> parse_options(int argc, char** argv, Options& options) {
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
    app.add_option("--offer", options.offer,
                   "be the simulated vehicle over SOME/IP: load no plug-in, offer the\n"
                   "profile's services over SD on ADDRESS (this host's IPv4 address) and\n"
                   "serve them on PORT (default: the deployment's, else 30501) until\n"
                   "SIGINT or SIGTERM (see SOME/IP below)")
        ->option_text("ADDRESS[:PORT]");
    app.add_option("--someip", options.someip,
                   "find the applications over SOME/IP SD on ADDRESS (this host's IPv4\n"
                   "address) instead of in the simulated vehicle")
        ->option_text("ADDRESS");
    app.add_option("--deployment", options.deployment,
                   "SOME/IP service and method ids, instances and SD settings, JSON\n"
                   "(see SOME/IP below); also for --list and --wireshark-names")
        ->option_text("FILE")
        ->check(non_empty);
    app.add_option("--sd-port", options.sd_port,
                   "UDP port of Service Discovery (default: the deployment's, else 30490)")
        ->option_text("PORT")
        ->check(CLI::Range(1u, 65'535u));
    app.add_option("--sd-multicast", options.sd_multicast,
                   "SD multicast group (default: the deployment's, else 224.244.224.245)")
        ->option_text("GROUP");
    app.add_option("--sd-peer", options.sd_peers,
                   "send SD by unicast to ADDRESS instead of to the group (repeatable)")
        ->option_text("ADDRESS")
        ->allow_extra_args(false);
    app.add_option("--sd-wait", options.sd_wait_ms,
                   "--someip: wait at most MS milliseconds for the services to be found\n"
                   "before the first request (default 3000)")
        ->option_text("MS")
        ->check(CLI::Range(0u, 600'000u));
    app.add_option("--someip-max-message", options.someip_max_message,
                   "longest SOME/IP payload reassembled from segments; longer ones are\n"
                   "dropped and counted (default 65536)")
        ->option_text("BYTES")
        ->check(CLI::Range(1'392u, 16'777'216u));
    app.add_option("--wireshark-names", options.wireshark_names,
                   "write SOMEIP_service_identifiers and SOMEIP_method_event_identifiers\n"
                   "into DIR (Wireshark's personal configuration folder, or tshark -C)\n"
                   "for the deployment in effect, then exit")
        ->option_text("DIR")
        ->check(non_empty);
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
        return status == 0 ? exit_status::answered : exit_status::usage;
    }
    return std::nullopt;
}

}  // namespace dmsim
