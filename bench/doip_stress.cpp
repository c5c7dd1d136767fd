// The DoIP stress run (bench/doip-stress): starts dmsim --doip on a free loopback port,
// runs T testers in parallel, each with its own connection and N requests in a loop, checks
// every answer, and prints requests per second and latency percentiles. Exit status 0 only
// when every answer was correct.
//
//   doip_stress <dmsim> [testers=16] [requests=1000]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/doip_client.h"
#include "support/run_program.h"

namespace {

using doip_test::Bytes;
using Clock = std::chrono::steady_clock;

struct Case {
    Bytes request;
    Bytes answer;
};

// Requests of the built-in vehicle and their answers.
std::vector<Case> cases() {
    const Bytes vin = {0x5A, 0x55, 0x4E, 0x31, 0x44, 0x4D, 0x35, 0x53, 0x58,
                       0x30, 0x52, 0x30, 0x30, 0x30, 0x30, 0x34, 0x32};
    Bytes read_vin = {0x62, 0xF1, 0x90};
    read_vin.insert(read_vin.end(), vin.begin(), vin.end());
    Bytes read_two = read_vin;
    read_two.insert(read_two.end(), {0x01, 0x02, 0x01});
    return {{{0x22, 0xF1, 0x90}, read_vin},
            {{0x22, 0xF1, 0x90, 0x01, 0x02}, read_two},
            {{0x3E, 0x00}, {0x7E, 0x00}},
            {{0x31, 0x01, 0x03, 0x00, 0x01, 0x02, 0x03}, {0x71, 0x01, 0x03, 0x00, 0x01}},
            {{0x22, 0x12, 0x34}, {0x7F, 0x22, 0x31}}};
}

struct Tester_result {
    int wrong = 0;
    std::vector<double> latencies_us;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: doip_stress <dmsim> [testers] [requests]\n");
        return 2;
    }
    const int testers = argc > 2 ? std::atoi(argv[2]) : 16;
    const int requests = argc > 3 ? std::atoi(argv[3]) : 1000;
    if (testers < 1 || testers > 255 || requests < 1) {
        std::fprintf(stderr, "doip_stress: testers 1..255, requests >= 1\n");
        return 2;
    }

    support::Background_program server(
        {argv[1], "--doip", "127.0.0.1:0", "--max-testers", std::to_string(testers)});
    const std::uint16_t port = doip_test::port_in(server.first_line());
    if (port == 0) {
        std::fprintf(stderr, "doip_stress: dmsim announced no port\n");
        return 2;
    }

    const std::vector<Case> all = cases();
    std::vector<Tester_result> results(static_cast<std::size_t>(testers));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int t = 0; t < testers; ++t) {
        threads.emplace_back([&, t] {
            Tester_result& result = results[static_cast<std::size_t>(t)];
            const auto source = static_cast<std::uint16_t>(0x0E00 + t);
            doip_test::Client client(port, 10'000);
            if (client.activate(source) != 0x10) {
                result.wrong = requests;
                return;
            }
            for (int i = 0; i < requests; ++i) {
                const Case& one = all[static_cast<std::size_t>(i + t) % all.size()];
                const auto sent = Clock::now();
                const auto answer = client.request(source, 0x1000, one.request);
                result.latencies_us.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
                if (!answer || *answer != one.answer) {
                    ++result.wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    const bool clean = server.stop() == 0;

    std::vector<double> latencies;
    int wrong = 0;
    for (const auto& result : results) {
        wrong += result.wrong;
        latencies.insert(latencies.end(), result.latencies_us.begin(), result.latencies_us.end());
    }
    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&](double p) {
        return latencies.empty()
                   ? 0.0
                   : latencies[std::min(latencies.size() - 1,
                                        static_cast<std::size_t>(p * latencies.size()))];
    };
    const int total = testers * requests;
    std::printf("doip_stress: %d testers x %d requests: %d answers, %d wrong, %.2f s\n", testers,
                requests, total - wrong, wrong, seconds);
    std::printf("doip_stress: %.0f requests/s; latency p50 %.0f us, p99 %.0f us, max %.0f us\n",
                total / seconds, percentile(0.50), percentile(0.99), percentile(1.0));
    std::printf("doip_stress: dmsim %s\n", clean ? "stopped cleanly (exit 0)" : "did NOT exit 0");
    return wrong == 0 && clean ? 0 : 1;
}
