// dmsim run as a user runs it: what the process itself does with its arguments, standard
// input and files, what it writes where, its exit statuses and signals. What it answers is
// the ECU's, the DoIP server's and the profile's, tested at their layers.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/doip_client.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;
using support::lines_of;
using support::read_file;
using Result = support::Run;

class Dmsim : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dmsim_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path file(const std::string& name, const std::string& contents) {
        const fs::path path = dir_ / name;
        std::ofstream(path) << contents;
        return path;
    }
    fs::path path(const std::string& name) const { return dir_ / name; }

    // Runs dmsim with `args`, standard input from `input`; output and errors are kept.
    // `out`: a file for standard output instead (Result::out stays empty).
    Result run(std::vector<std::string> args, const std::string& input = "",
               const fs::path& out = {}) {
        return run_with(std::move(args), file("stdin", input), out);
    }
    Result run_with(std::vector<std::string> args, const fs::path& in, const fs::path& out = {}) {
        args.insert(args.begin(), DMSIM_PATH);
        return support::run_program(support::with_emulator(args, DMSIM_EMULATOR), dir_, in, out);
    }

    fs::path dir_;
};

#define EXPECT_EXIT_STATUS(run, expected) \
    EXPECT_EQ((run).status, expected) << "stdout:\n" << (run).out << "stderr:\n" << (run).err

constexpr char vin[] = "5A 55 4E 31 44 4D 35 53 58 30 52 30 30 30 30 34 32";

// "2026-01-02T03:04:05.000006Z"
bool is_utc_time(const std::string& text) {
    const std::string shape = "dddd-dd-ddTdd:dd:dd.ddddddZ";
    return text.size() == shape.size() &&
           std::equal(shape.begin(), shape.end(), text.begin(), [](char want, char got) {
               return want == 'd' ? got >= '0' && got <= '9' : want == got;
           });
}

TEST_F(Dmsim, AnswersArgumentsThenStandardInputLineByLine) {
    const Result args = run({"22 F1 90", "22F1900102", "31 01 03 00 01 02 03", "22 12 34"});
    EXPECT_EXIT_STATUS(args, 0);
    EXPECT_EQ(lines_of(args.out),
              (std::vector<std::string>{
                  std::string("22 F1 90 -> 62 F1 90 ") + vin,
                  std::string("22 F1 90 01 02 -> 62 F1 90 ") + vin + " 01 02 01",
                  "31 01 03 00 01 02 03 -> 71 01 03 00 01",
                  "22 12 34 -> 7F 22 31",
              }));
    // Comments and blank lines skipped, a bad line reported (status 2) and the next one
    // answered; one JSON object a line with --json.
    const Result text = run({}, "# a comment\n\n22 F1 90\r\n   \n22 G1\n  # indented\n3E 80\n");
    EXPECT_EXIT_STATUS(text, 2);
    EXPECT_EQ(lines_of(text.out), (std::vector<std::string>{
                                      std::string("22 F1 90 -> 62 F1 90 ") + vin,
                                      "22 G1 -> error: position 4: 'G' is not a hexadecimal digit",
                                      "3E 80 -> suppressed",
                                  }));
    const Result json = run({"--json"}, "22 01 02\n3E 80\n22 G1\n");
    EXPECT_EXIT_STATUS(json, 2);
    const auto lines = lines_of(json.out);
    ASSERT_EQ(lines.size(), 3u) << json.out;
    const auto read = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(read["request"], "220102");
    EXPECT_EQ(read["response"], "62010201");
    EXPECT_TRUE(read["elapsed_us"].is_number());
    EXPECT_EQ(nlohmann::json::parse(lines[1])["suppressed"], true);
    EXPECT_EQ(nlohmann::json::parse(lines[2])["error"],
              "position 4: 'G' is not a hexadecimal digit");
    // Searching another instance than the profile offers finds nothing.
    EXPECT_EQ(run({"--instance", "elsewhere", "22 01 02"}).out, "22 01 02 -> 7F 22 10\n");
}

// A profile from a file, the MetaInfo, the trace file, and --cancel-after (status 3).
TEST_F(Dmsim, ProfileTraceAndCancel) {
    const fs::path profile = file("bench.json", R"({"instance": "bench",
        "dids": {"0102": {"Read": {"values": [7]}}, "1188": {"offered": false},
                 "F1DF": {"Read": {"no_response": true}}}})");
    // Only F1DF never answers; the cancel delay leaves the others ample time even under
    // ThreadSanitizer on a loaded machine.
    const Result r = run({"--vehicle", profile, "--json", "--cancel-after", "3000", "--meta",
                          "a=bc", "--trace", path("trace.jsonl"), "22 0102", "22 1188", "22 F1DF"});
    EXPECT_EXIT_STATUS(r, 3);
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(nlohmann::json::parse(lines[0])["response"], "62010207");
    EXPECT_EQ(nlohmann::json::parse(lines[1])["response"], "7F2210");  // not offered
    EXPECT_EQ(nlohmann::json::parse(lines[2])["cancelled"], true);
    // One line per call an application receives, the MetaInfo {"a":"bc"} first in its
    // request; the cancelled read's Cancel follows its Read.
    const std::string trace = read_file(path("trace.jsonl"));
    EXPECT_EQ(trace.rfind(R"({"time":")", 0), 0u) << trace;
    EXPECT_NE(trace.find(R"("instance":"bench","method":1,"method_name":"Read",)"
                         R"("request":"0000000B0000000161000000026263"})"),
              std::string::npos);
    const auto read = trace.find(R"(d_f1df::DataIdentifier_ECUProgrammingInformation",)"
                                 R"("instance":"bench","method":1)");
    EXPECT_NE(read, std::string::npos);
    EXPECT_NE(trace.find(R"(d_f1df::DataIdentifier_ECUProgrammingInformation",)"
                         R"("instance":"bench","method":0)",
                         read),
              std::string::npos);
}

TEST_F(Dmsim, LogLinesGoToTheLogFileAtTheChosenLevel) {
    const fs::path profile =
        file("p.json", R"({"dids": {"0102": {"Read": {"return_code": 130}}}})");
    const Result r = run({"--vehicle", profile, "--log", path("log"), "22 01 02"});
    EXPECT_EXIT_STATUS(r, 0);
    EXPECT_EQ(r.out, "22 01 02 -> 7F 22 10\n");
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> log = lines_of(read_file(path("log")));
    ASSERT_FALSE(log.empty());
    for (const std::string& line : log) {
        EXPECT_NE(line.find("{\"1_incident\":"), std::string::npos) << line;
    }
    EXPECT_EQ(
        run({"--vehicle", profile, "--log", path("log"), "--log-level", "off", "22 01 02"}).status,
        0);
    EXPECT_EQ(read_file(path("log")), "");

    // jsonl: the same incidents, each one JSON object with its time and level, on standard
    // error without --log.
    const Result jsonl = run({"--vehicle", profile, "--log-format", "jsonl", "22 01 02"});
    std::vector<std::string> texts;
    for (const std::string& line : lines_of(jsonl.err)) {
        const auto object = nlohmann::ordered_json::parse(line);
        EXPECT_TRUE(object.size() == 3 && is_utc_time(object["time"])) << line;
        texts.push_back(object["level"].get<std::string>() + " " + object["incident"].dump());
    }
    EXPECT_EQ(texts, log);
}

// Status 2 (1 for the plug-in) and a message before anything runs.
TEST_F(Dmsim, UsageErrorsStopBeforeAnythingRuns) {
    const std::string bad = file("bad.json", R"({"dids": {"9999": {}}})").string();
    // Two interfaces with one service id: refused with the path of the second entry.
    const std::string clash = file("clash.json", R"({"interfaces": {
        "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus":
            {"service_id": "F190"}}})")
                                  .string();
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--vehicle", bad, "22F190"}, bad + ": dids.9999: unknown data identifier"},
        {{"--vehicle", path("none.json"), "22F190"}, "none.json: cannot read the profile"},
        {{"--plugin", path("libnone.so"), "22F190"}, "cannot load the plug-in"},
        {{"--plugin", OTHER_LIBRARY_PATH, "22F190"}, "does not export get_did_info"},
        {{"22 F1 90", "22 G1"}, "REQUEST \"22 G1\": position 4: 'G' is not a hexadecimal digit"},
        {{"22F19"}, "odd number of hexadecimal digits"},
        {{" "}, "holds no bytes"},
        {{"--meta", "novalue", "22F190"}, "--meta \"novalue\": expected KEY=VALUE"},
        {{"--meta", "a=1", "--meta", "a=2", "22F190"}, "KEY \"a\" given twice"},
        {{"--log-level", "loud", "22F190"}, "--log-level"},
        {{"--cancel-after", "-1", "22F190"}, "--cancel-after"},
        {{"--frobnicate"}, "--frobnicate"},
        {{"--trace", "/nonexistent/dir/t", "22F190"}, "cannot write the trace"},
        {{"--log", "/nonexistent/dir/l", "22F190"}, "cannot write the log"},
        // Careless input that once fell back to a default or hurt a file.
        {{"--vehicle", "", "22F190"}, "--vehicle: an empty value is not allowed"},
        {{"--instance", "", "22F190"}, "--instance: an empty value is not allowed"},
        {{"--trace", "", "22F190"}, "--trace: an empty value is not allowed"},
        {{"--log", "same", "--trace", "./same", "22F190"}, "--log and --trace name the same file"},
        {{"--log-format", "xml", "22F190"}, "--log-format"},
        {{"--list", "22F190"}, "--list prints the identifiers only"},
        {{"--max-data-size", "8", "22 F1 90 00 01 02 03 04 05"},
         "is longer than the maximum data size of 8 bytes"},
        // SOME/IP: roles that exclude each other, options without their role, bad values.
        {{"--offer", "127.0.0.2", "--someip", "127.0.0.1"}, "one process is one of them"},
        {{"--offer", "127.0.0.2", "22F190"}, "--offer serves the vehicle's applications"},
        {{"--offer", "127.0.0.2", "--doip"}, "--offer serves the vehicle's applications"},
        {{"--offer", "127.0.0.2", "--instance", "x"}, "--offer loads no plug-in"},
        {{"--list", "--someip", "127.0.0.1"}, "--list prints the identifiers only"},
        {{"--wireshark-names", dir_, "22F190"}, "--wireshark-names writes the files only"},
        {{"--sd-port", "30490", "22F190"}, "--sd-port needs --offer or --someip"},
        {{"--sd-multicast", "224.0.0.9", "22F190"}, "--sd-multicast needs"},
        {{"--sd-peer", "10.0.0.2", "22F190"}, "--sd-peer needs"},
        {{"--someip-max-message", "4096", "22F190"}, "--someip-max-message needs"},
        {{"--sd-wait", "10", "--offer", "127.0.0.2"}, "--sd-wait needs --someip"},
        {{"--deployment", clash, "22F190"}, "--deployment needs"},
        {{"--offer", "127.0.0.256"}, "--offer: \"127.0.0.256\" is not an IPv4 address"},
        {{"--offer", "127.0.0.2:0"}, "--offer: \"0\" is not a port number"},
        {{"--someip", "0.0.0.0", "22F190"}, "--someip: \"0.0.0.0\" is not an IPv4 address"},
        {{"--someip", "127.0.0.1", "--sd-peer", "10.0.0"}, "--sd-peer: \"10.0.0\""},
        {{"--someip", "127.0.0.1", "--sd-multicast", "10.0.0.9"}, "is not a multicast address"},
        {{"--someip", "127.0.0.1", "--sd-port", "0"}, "--sd-port"},
        {{"--someip", "127.0.0.1", "--someip-max-message", "100"}, "--someip-max-message"},
        {{"--someip", "127.0.0.1", "--trace", path("t")}, "--trace records the calls"},
        {{"--someip", "127.0.0.1", "--deployment", path("none")}, "cannot read the deployment"},
        {{"--someip", "127.0.0.1", "--deployment", clash}, clash + ": interfaces.orlak::"},
        {{"--list", "--json", "--deployment", clash}, "is also the one of"},
        {{"--wireshark-names", "/proc/none/names"}, "cannot write /proc/none/names"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EXIT_STATUS(r, c.args[0] == "--plugin" ? 1 : 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(path("same")));
}

// A write that fails loses no answer silently: dmsim stops with status 4 and says why.
TEST_F(Dmsim, AFailedWriteEndsDmsimWithStatusFour) {
    const struct {
        std::vector<std::string> args;
        fs::path out;
        const char* message;
    } cases[] = {
        {{"22 F1 90", "22 01 02"}, "/dev/full", "cannot write standard output: "},
        {{"--trace", "/dev/full", "22 F1 90", "22 01 02"}, {}, "cannot write /dev/full: "},
        {{"--log", "/dev/full", "--log-level", "debug", "22 F1 90"}, {}, "cannot write /dev/full"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args, "", c.out);
        EXPECT_EXIT_STATUS(r, 4);
        EXPECT_LE(lines_of(r.out).size(), 1u) << "went on after the failure:\n" << r.out;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

// A 10 MB line is refused without being held whole, and the next request is answered.
TEST_F(Dmsim, ARequestLongerThanTheMaximumDataSizeIsRefused) {
    const Result small = run({}, "22 F1 90\n");
    {
        // Written in pieces: the memory of this process counts for the child until it execs.
        std::ofstream input(path("long"));
        input << "22 F1 90\n22";
        const std::string zeros(100'000, '0');
        for (int i = 0; i < 100; ++i) {
            input << zeros;
        }
        input << "\n# " << std::string(100'000, '#') << "\n3E 00\n";
    }
    const Result r = run_with({}, path("long"));
    EXPECT_EXIT_STATUS(r, 2);
    EXPECT_EQ(lines_of(r.out),
              (std::vector<std::string>{
                  std::string("22 F1 90 -> 62 F1 90 ") + vin,
                  "22" + std::string(38, '0') +
                      "... -> error: longer than the maximum data size of 4095 bytes "
                      "(--max-data-size)",
                  "3E 00 -> 7E 00"}));
    EXPECT_LT(r.max_rss_kib - small.max_rss_kib, 8 * 1024) << "the long line was kept";
}

TEST_F(Dmsim, HelpEndsWithStatusZero) {
    const Result r = run({"--help"});
    EXPECT_EXIT_STATUS(r, 0);
    EXPECT_NE(r.out.find("\n  4  writing standard output, the log or the trace failed"),
              std::string::npos);
}

// --doip: SIGTERM while a request waits ends dmsim with 0; a trace it cannot write, by
// itself with 4.
TEST_F(Dmsim, DoipServesUntilASignalOrAFailedWrite) {
    const fs::path profile =
        file("p.json", R"({"dids": {"F1DF": {"Read": {"no_response": true}}}})");
    for (const char* trace : {"/dev/null", "/dev/full"}) {
        support::Background_program server(support::with_emulator(
            {DMSIM_PATH, "--doip", "127.0.0.1:0", "--vehicle", profile, "--trace", trace},
            DMSIM_EMULATOR));
        doip_test::Client client(doip_test::port_in(server.first_line()));
        ASSERT_EQ(client.activate(0x0E80), 0x10) << server.first_line();
        ASSERT_TRUE(client.send(doip_test::diagnostic(0x0E80, 0x1000, {0x22, 0xF1, 0xDF})));
        ASSERT_TRUE(client.receive());  // the acknowledgement
        if (std::string(trace) == "/dev/full") {
            EXPECT_EQ(server.wait_for_exit(std::chrono::seconds(20)), 4);
        } else {
            EXPECT_EQ(server.stop(SIGTERM), 0);
        }
    }
}

// The SOME/IP numbers of each identifier come from the deployment in effect: --list --json
// shows them beside the plug-in's method ids, --wireshark-names writes them as Wireshark's
// name files (checked by tshark where it is installed).
TEST_F(Dmsim, SomeipIdsFollowTheDeployment) {
    const fs::path deployment = file("deployment.json", R"({"interfaces": {
        "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus":
            {"service_id": "4102", "methods": {"Read": 7}}}})");
    const auto someip_of = [this](std::vector<std::string> args, const char* identifier) {
        const Result r = run(std::move(args));
        EXPECT_EXIT_STATUS(r, 0);
        for (const auto& entry : nlohmann::json::parse(r.out)) {
            if (entry["identifier"] == identifier) {
                EXPECT_EQ(entry["methods"].back()["id"], entry["kind"] == "did" ? 1 : 3);
                return entry["someip"];
            }
        }
        return nlohmann::json();
    };
    using nlohmann::json;
    EXPECT_EQ(someip_of({"--list", "--json"}, "0102"),
              json::parse(R"({"service_id": "0x0102", "methods": {"Cancel": 0, "Read": 1}})"));
    EXPECT_EQ(someip_of({"--list", "--json"}, "0300"),
              json::parse(R"({"service_id": "0x0300", "methods": {"Cancel": 0,
                              "RequestResults": 1, "Start": 2, "Stop": 3}})"));
    const std::vector<std::string> changed = {"--list", "--json", "--deployment", deployment};
    EXPECT_EQ(someip_of(changed, "0102"),
              json::parse(R"({"service_id": "0x4102", "methods": {"Cancel": 0, "Read": 7}})"));
    EXPECT_EQ(someip_of(changed, "F190")["service_id"], "0xF190");

    const fs::path names = path("wireshark/profile");  // created
    EXPECT_EXIT_STATUS(run({"--wireshark-names", names, "--deployment", deployment}), 0);
    const std::string services = read_file(names / "SOMEIP_service_identifiers");
    const std::string methods = read_file(names / "SOMEIP_method_event_identifiers");
    EXPECT_NE(services.find("\n\"4102\",\"DataIdentifier_BasicSettingsStatus\"\n"),
              std::string::npos)
        << services;
    for (const char* line : {"\"4102\",\"0007\",\"Read\"", "\"f190\",\"0001\",\"Read\""}) {
        EXPECT_NE(methods.find('\n' + std::string(line) + '\n'), std::string::npos) << methods;
    }
    EXPECT_EQ(lines_of(services).size(), 1u + 109u);
    if (fs::exists("/usr/bin/tshark")) {
        const Result tshark =
            support::run_program({"/usr/bin/env", "WIRESHARK_CONFIG_DIR=" + names.string(),
                                  "/usr/bin/tshark", "-G", "currentprefs"},
                                 dir_, {}, "/dev/null");
        EXPECT_EQ(tshark.status, 0);
        EXPECT_EQ(tshark.err.find("SOMEIP_"), std::string::npos) << tshark.err;
    }
}

// --offer serves until SIGINT or SIGTERM and then ends with 0.
TEST_F(Dmsim, OfferServesUntilASignal) {
    for (const int signal : {SIGTERM, SIGINT}) {
        support::Background_program vehicle(
            support::with_emulator({DMSIM_PATH, "--offer", "127.0.0.3:30591", "--sd-port", "30590",
                                    "--sd-peer", "127.0.0.4"},
                                   DMSIM_EMULATOR));
        EXPECT_EQ(vehicle.first_line(),
                  "dmsim: SOME/IP vehicle offering 108 services on 127.0.0.3:30591");
        EXPECT_EQ(vehicle.stop(signal), 0);
    }
}

}  // namespace
