#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ara_log/dlt_sink.h"
#include "platform/dlt_daemon.h"
#include "support/run_program.h"

// dmsim with --log dlt, as a user runs it: every incident line of a request reaches the
// daemon at its level, and the lines that the shipped dlt-join.awk joins from the parts are
// those that --log FILE writes. (Without a daemon: dlt_sink_test.cpp.)

namespace {

using dlt_test::Child;
using dlt_test::Dlt_daemon;
using dlt_test::Dlt_reader;
using support::lines_of;

constexpr auto run_limit = std::chrono::seconds(60);

// A vehicle whose identification DID 0xF1AF answers 4 KiB: its response incident renders
// to far more than one DLT message holds.
std::string large_vehicle(const std::string& dir) {
    static const char digits[] = "0123456789ABCDEF";
    std::string record;
    for (int i = 0; i < 4096; ++i) {
        record += digits[(i >> 4) & 0xF];
        record += digits[i & 0xF];
    }
    const std::string path = dir + "/vehicle.json";
    std::ofstream(path) << R"({"dids": {"F1AF": {"Read": {"values": [")" << record << R"("]}}}})";
    return path;
}

TEST(Dmsim_dlt, every_incident_arrives_at_its_level_and_joins_to_the_file_sink_line) {
    Dlt_daemon daemon;
    daemon.start();
    Dlt_reader reader(daemon);
    const std::string dir = daemon.directory();
    const std::string vehicle = large_vehicle(dir);

    Child file_run({DIAG_DMSIM_PATH, "--vehicle", vehicle, "--log", dir + "/file.log",
                    "--log-level", "debug", "22 F1 AF", "22 F1 90"},
                   dir + "/file-run.txt");
    ASSERT_EQ(file_run.wait(run_limit), 0) << dlt_test::read_file(dir + "/file-run.txt");
    Child dlt_run({DIAG_DMSIM_PATH, "--vehicle", vehicle, "--log", "dlt", "--dlt-app", "DMT",
                   "--log-level", "debug", "22 F1 AF", "22 F1 90"},
                  dir + "/dlt-run.txt", daemon.environment());
    ASSERT_EQ(dlt_run.wait(run_limit), 0) << dlt_test::read_file(dir + "/dlt-run.txt");
    EXPECT_EQ(dlt_test::read_file(dir + "/dlt-run.txt"),
              dlt_test::read_file(dir + "/file-run.txt"));

    auto expected = lines_of(dlt_test::read_file(dir + "/file.log"));
    ASSERT_FALSE(expected.empty());
    std::vector<std::string> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((got = reader.joined("DMT")).size() < expected.size() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto raw = reader.messages("DMT");
    EXPECT_GT(raw.size(), got.size()) << "the large incident came in one piece";
    for (const auto& message : raw) {
        EXPECT_EQ(message.context, "DIAG");
        EXPECT_LE(message.text.size(), platform::ara_log::dlt_message_buffer);
    }
    // Threads of the two runs may order discovery lines differently.
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
}

}  // namespace
