// dmsim run as a user runs it: arguments, standard input, profiles in files; its output,
// trace, log and exit status are checked.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_file(const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

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
    Result run(std::vector<std::string> args, const std::string& input = "") {
        const fs::path in = file("stdin", input);
        const fs::path out = dir_ / "stdout";
        const fs::path err = dir_ / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        args.insert(args.begin(), DMSIM_PATH);
        // A cross-built dmsim runs under the emulator ("qemu-aarch64|-L|<root>"), as CTest
        // runs this test.
        std::istringstream emulator(DMSIM_EMULATOR);
        std::vector<std::string> prefix;
        for (std::string word; std::getline(emulator, word, '|');) {
            prefix.push_back(word);
        }
        args.insert(args.begin(), prefix.begin(), prefix.end());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        pid_t pid = 0;
        Result result;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        result.out = read_file(out);
        result.err = read_file(err);
        return result;
    }

    fs::path dir_;
};

#define EXPECT_EXIT_STATUS(run, expected) \
    EXPECT_EQ((run).status, expected) << "stdout:\n" << (run).out << "stderr:\n" << (run).err

constexpr char vin[] = "5A 55 4E 31 44 4D 35 53 58 30 52 30 30 30 30 34 32";

TEST_F(Dmsim, AnswersRequestArgumentsFromTheBuiltInVehicle) {
    const Result r =
        run({"22 F1 90", "22F1900102", "31 01 03 00 01 02 03", "31 03 03 00", "22 12 34", "22 F1",
             "2E F1 90 01", "31 05 03 00", "10 03", "22 11 88", "22 04 48"});
    EXPECT_EXIT_STATUS(r, 0);
    EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{
                                   std::string("22 F1 90 -> 62 F1 90 ") + vin,
                                   std::string("22 F1 90 01 02 -> 62 F1 90 ") + vin + " 01 02 01",
                                   "31 01 03 00 01 02 03 -> 71 01 03 00 01",
                                   "31 03 03 00 -> 71 03 03 00 02",
                                   "22 12 34 -> 7F 22 31",
                                   "22 F1 -> 7F 22 13",
                                   "2E F1 90 01 -> 6E F1 90",
                                   "31 05 03 00 -> 7F 31 12",
                                   "10 03 -> 50 03 00 32 01 F4",
                                   "22 11 88 -> 7F 22 10",
                                   "22 04 48 -> 7F 22 22",
                               }));
}

TEST_F(Dmsim, ReadsStandardInputAndGoesOnAfterABadLine) {
    const Result r =
        run({}, "# a comment\n\n22 F1 90\r\n   \n22 G1\n  # indented comment\n31 03 03 00\n");
    EXPECT_EXIT_STATUS(r, 2);
    EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{
                                   std::string("22 F1 90 -> 62 F1 90 ") + vin,
                                   "22 G1 -> error: position 4: 'G' is not a hexadecimal digit",
                                   "31 03 03 00 -> 71 03 03 00 02",
                               }));

    const Result json = run({"--json"}, "22 01 02\n");
    EXPECT_EXIT_STATUS(json, 0);
    EXPECT_EQ(json.out.rfind(R"({"request":"220102","response":"62010201","elapsed_us":)", 0), 0u)
        << json.out;
}

TEST_F(Dmsim, AnswersAsAnEcuOnStandardInput) {
    const Result text = run({}, "3E 80\n10 83\n3E 00\n22 12 34 F1 90\n22 12 34\n");
    EXPECT_EXIT_STATUS(text, 0);
    EXPECT_EQ(lines_of(text.out), (std::vector<std::string>{
                                      "3E 80 -> suppressed",
                                      "10 83 -> suppressed",
                                      "3E 00 -> 7E 00",
                                      std::string("22 12 34 F1 90 -> 62 F1 90 ") + vin,
                                      "22 12 34 -> 7F 22 31",
                                  }));
    // Routine 0300 answers its results after 150 ms: pending answers first (counted in
    // JSON only); a request that never gets its answer is cancelled after the last one.
    const Result json = run({"--json", "--p2", "20", "--pending-interval", "500", "--max-pending",
                             "1"},
                            "3E 80\n31 03 03 00\n31 02 02 9A\n");
    EXPECT_EXIT_STATUS(json, 0);
    const auto lines = lines_of(json.out);
    ASSERT_EQ(lines.size(), 3u) << json.out;
    const auto suppressed = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(suppressed["response"], "");
    EXPECT_EQ(suppressed["suppressed"], true);
    const auto results = nlohmann::json::parse(lines[1]);
    EXPECT_EQ(results["response"], "7103030002") << lines[1];
    EXPECT_EQ(results["pending"], 1);
    const auto given_up = nlohmann::json::parse(lines[2]);
    EXPECT_EQ(given_up["response"], "7F3110") << lines[2];
    EXPECT_EQ(given_up["pending"], 1);
}

TEST_F(Dmsim, ProfileWithEveryAnswerKindTraceAndCancel) {
    const fs::path profile = file("bench.json", R"({
        "instance": "bench",
        "dids": {
            "0102": {"Read": {"values": [7]}},
            "01AF": {"Read": {"values": [1, 515, "AABB"]}},
            "0261": {"Read": {"payload": "09"}},
            "17F2": {"Read": {"payload": "09", "return_code": 255}},
            "0448": {"Read": {"error": [49]}},
            "F186": {"Read": {"return_code": 2}},
            "3C0E": {"Read": {"delay_ms": 50, "values": [3]}},
            "1188": {"offered": false},
            "F1DF": {"Read": {"no_response": true}}
        },
        "routines": {
            "0300": {"Start": {"error": [17, 34, 51]}, "Stop": {"error": "112233"},
                     "RequestResults": {"error": [17, 34, 51]}}
        }
    })");
    // Only F1DF never answers; the cancel delay leaves the others ample time even under
    // ThreadSanitizer on a loaded machine.
    const Result r = run({"--vehicle",  profile,   "--json",  "--cancel-after",    "3000",
                          "--meta",     "a=bc",    "--trace", path("trace.jsonl"), "22 0102",
                          "22 01AF",    "22 0261", "22 17F2", "22 0448",           "22 F186",
                          "22 3C0E",    "22 1188", "22 F1DF", "31 01 0300 010203", "31 02 0300",
                          "31 03 0300", "22 F190"});
    EXPECT_EXIT_STATUS(r, 3);
    std::vector<std::string> answers;
    for (const std::string& line : lines_of(r.out)) {
        const auto object = nlohmann::json::parse(line);
        answers.push_back(
            object["request"].get<std::string>() + ":" +
            (object.contains("cancelled") ? "cancelled" : object["response"].get<std::string>()));
        if (object["request"] == "223C0E") {
            EXPECT_GE(object["elapsed_us"].get<long>(), 50'000);  // the answer's delay
        }
    }
    EXPECT_EQ(answers, (std::vector<std::string>{
                           "220102:62010207", "2201AF:6201AF010203AABB", "220261:62026109",
                           "2217F2:7F2210",  // return code 0xFF: service not available
                           "220448:7F2231",
                           "22F186:7F2210",  // return code 2 without its code byte
                           "223C0E:623C0E03", "221188:7F2210", "22F1DF:cancelled",
                           "31010300010203:7F3122",  // Start takes the second of three codes
                           "31020300:7F3133", "31030300:7F3111",
                           "22F190:62F190" + std::string(34, '0'),  // left out: zeros
                       }));

    // One trace line per call received, in arrival order; the MetaInfo {"a":"bc"} leads
    // every request payload.
    const std::string meta = "0000000B0000000161000000026263";
    const std::vector<std::string> trace = lines_of(read_file(path("trace.jsonl")));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace[0],
              R"({"service":"orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus",)"
              R"("instance":"bench","method":1,"request":")" +
                  meta + "\"}");
    std::vector<std::string> calls;
    for (const std::string& line : trace) {
        const auto object = nlohmann::json::parse(line);
        const std::string service = object["service"];
        calls.push_back(service.substr(service.find("::d_") != std::string::npos
                                           ? service.find("::d_") + 2
                                           : service.find("::r_") + 2,
                                       6) +
                        "/" + std::to_string(object["method"].get<int>()) + "/" +
                        object["request"].get<std::string>());
    }
    // A slow cancel may be repeated: one Cancel line per repetition.
    calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
    ASSERT_EQ(calls.size(), 13u) << read_file(path("trace.jsonl"));  // 1188 is not offered
    EXPECT_EQ(calls[7], "d_f1df/1/" + meta);
    EXPECT_EQ(calls[8], "d_f1df/0/" + meta);  // the cancel
    EXPECT_EQ(calls[9], "r_0300/2/" + meta + "00000003010203");
    EXPECT_EQ(calls[10], "r_0300/3/" + meta);
}

TEST_F(Dmsim, SearchingAnotherInstanceFindsNothing) {
    const Result r = run({"--instance", "elsewhere", "22 01 02", "31 01 03 00 01 02 03"});
    EXPECT_EXIT_STATUS(r, 0);
    EXPECT_EQ(r.out, "22 01 02 -> 7F 22 10\n31 01 03 00 01 02 03 -> 7F 31 10\n");
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
}

TEST_F(Dmsim, RejectsBadProfilesNamingTheFile) {
    const struct {
        const char* contents;
        const char* message;
    } cases[] = {
        {"{\"dids\": ", ": not valid JSON: "},
        {R"({"dids": {"9999": {}}})", ": dids.9999: unknown data identifier"},
        {R"({"routines": {"0202": {"Stop": {}}}})", ": routines.0202.Stop: unknown method"},
        {R"({"dids": {"0102": {"Read": {"values": [1, 2]}}}})",
         ": dids.0102.Read.values: expected 1 value (u8), found 2"},
    };
    for (const auto& c : cases) {
        const fs::path profile = file("bad.json", c.contents);
        const Result r = run({"--vehicle", profile, "22 01 02"});
        EXPECT_EXIT_STATUS(r, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(profile.string() + c.message), std::string::npos) << r.err;
    }
    const Result missing = run({"--vehicle", path("none.json"), "22 01 02"});
    EXPECT_EXIT_STATUS(missing, 2);
    EXPECT_NE(missing.err.find("none.json: cannot read the profile"), std::string::npos);
}

TEST_F(Dmsim, UsageErrorsStopBeforeAnythingRuns) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
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
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EXIT_STATUS(r, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST_F(Dmsim, APlugInThatCannotBeLoadedExitsWithOne) {
    const Result missing = run({"--plugin", path("libnone.so"), "22 F1 90"});
    EXPECT_EXIT_STATUS(missing, 1);
    EXPECT_NE(missing.err.find("cannot load the plug-in"), std::string::npos) << missing.err;
    const Result not_a_plugin = run({"--plugin", OTHER_LIBRARY_PATH, "22 F1 90"});
    EXPECT_EXIT_STATUS(not_a_plugin, 1);
    EXPECT_NE(not_a_plugin.err.find("does not export get_did_info"), std::string::npos)
        << not_a_plugin.err;
}

TEST_F(Dmsim, HelpExplainsTheOptionsTheProfileAndTheExitStatus) {
    const Result r = run({"--help"});
    EXPECT_EXIT_STATUS(r, 0);
    for (const char* topic :
         {"--plugin", "--vehicle", "--instance", "--meta", "--log-level", "--log", "--trace",
          "--cancel-after", "--json", "\"values\"", "\"payload\"", "\"error\"", "\"return_code\"",
          "\"delay_ms\"", "\"no_response\"", "\"offered\"", "Exit status"}) {
        EXPECT_NE(r.out.find(topic), std::string::npos) << topic;
    }
}

}  // namespace
