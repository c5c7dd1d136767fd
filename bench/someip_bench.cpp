// A read of 0x0102 through the plug-in over SOME/IP on loopback, beside the floor it is
// measured against: a bare UDP round trip between the same two addresses in the same run.
// The manager's runtime searches and calls from 127.0.0.1; a second runtime in this process
// offers the application from 127.0.0.2, so every read crosses two sockets each way, Service
// Discovery found the instance, and nothing is shared between the sides but the kernel.
//
//   build/default/bench/someip_bench --benchmark_repetitions=5
//
// BM_DidReadSomeip runs 100,000 reads and fails unless every one is answered with the
// whole record; compare its median with BM_UdpRoundTrip's.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/request_meta.h"
#include "host/built_plugin.h"
#include "host/extensions.h"
#include "host/record_writer.h"
#include "platform/runtime/someip.h"
#include "runtime_core.h"
#include "services/d_0102/d_0102.h"

namespace {

using D0102 = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus;
using Bytes = std::vector<std::uint8_t>;
namespace someip = platform::runtime::someip;

constexpr std::uint16_t sd_port = 30990;  // apart from the default and from the tests
constexpr std::uint16_t serve_port = 30991;
constexpr std::uint16_t echo_port = 30992;

platform::runtime::Someip_settings settings_for(std::array<std::uint8_t, 4> address) {
    platform::runtime::Someip_settings settings;
    settings.address = address;
    settings.interfaces = {{D0102::service_id, {"Cancel", "Read"}}};
    settings.deployment = *someip::default_deployment(settings.interfaces).deployment;
    settings.deployment.sd.port = sd_port;
    return settings;
}

// The two sides of the SOME/IP read, set up on first use and kept until the process ends.
struct Someip_world {
    Someip_world() {
        platform::runtime::detail::Runtime::instance()->start_someip(settings_for({127, 0, 0, 1}));
        auto served = settings_for({127, 0, 0, 2});
        served.serve_port = serve_port;
        vehicle->start_someip(served);
        const Bytes record = host::someip_record(host::patterned<D0102::Read::Output>(7));
        offer = vehicle->offer(D0102::service_id, bench::bench_instance,
                               [record](platform::runtime::Incoming_call call) {
                                   // Read gets its record, Cancel an empty answer.
                                   call.respond(
                                       0, call.method_id() == D0102::Read::id ? record : Bytes{});
                               });
        did = host::connect_did(host::built_plugin(), 0x0102, bench::bench_instance);
        // Discovery takes its initial wait and a round trip: read until the first answer.
        Bytes response;
        for (int i = 0; i < 300; ++i) {
            response.clear();
            if (did->read(bench::request_meta(), response) == 0) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        throw std::runtime_error("0x0102 was not found over SOME/IP within 3 s");
    }

    std::shared_ptr<platform::runtime::detail::Runtime> vehicle =
        std::make_shared<platform::runtime::detail::Runtime>();
    std::shared_ptr<zun::com::runtime::Service_instance> offer;
    host::Did_extension did;
};

Someip_world& someip_world() {
    static Someip_world world;
    return world;
}

void BM_DidReadSomeip(benchmark::State& state) {
    Someip_world& world = someip_world();
    const auto& meta = bench::request_meta();
    Bytes response;
    std::int64_t answered = 0;
    for (auto _ : state) {
        response.clear();
        if (world.did->read(meta, response) != 0 || response.size() != 1) {
            state.SkipWithError("a read over SOME/IP was not answered with its record");
            break;
        }
        ++answered;
    }
    state.counters["answered"] = static_cast<double>(answered);
}
BENCHMARK(BM_DidReadSomeip)->Iterations(100000)->UseRealTime();

sockaddr_in loopback(const char* address, std::uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &out.sin_addr);
    return out;
}

// A blocking UDP echo on 127.0.0.2 and a blocking client on 127.0.0.1: one datagram of a
// read request's size out, one of a response's size back.
void BM_UdpRoundTrip(benchmark::State& state) {
    const int server = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int client = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in server_address = loopback("127.0.0.2", echo_port);
    const sockaddr_in client_address = loopback("127.0.0.1", 0);
    if (::bind(server, reinterpret_cast<const sockaddr*>(&server_address), sizeof server_address) !=
            0 ||
        ::bind(client, reinterpret_cast<const sockaddr*>(&client_address), sizeof client_address) !=
            0) {
        state.SkipWithError("cannot bind the echo sockets");
        ::close(server);
        ::close(client);
        return;
    }
    std::thread echo([server] {
        std::uint8_t buffer[2048];
        for (;;) {
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const auto got = ::recvfrom(server, buffer, sizeof buffer, 0,
                                        reinterpret_cast<sockaddr*>(&from), &size);
            if (got <= 1) {
                return;  // the one-byte datagram ends the echo
            }
            ::sendto(server, buffer, 17, 0, reinterpret_cast<const sockaddr*>(&from), size);
        }
    });
    std::uint8_t request[120] = {};
    std::uint8_t answer[2048];
    for (auto _ : state) {
        ::sendto(client, request, sizeof request, 0,
                 reinterpret_cast<const sockaddr*>(&server_address), sizeof server_address);
        if (::recv(client, answer, sizeof answer, 0) != 17) {
            state.SkipWithError("the echo did not answer");
            break;
        }
    }
    ::sendto(client, request, 1, 0, reinterpret_cast<const sockaddr*>(&server_address),
             sizeof server_address);
    echo.join();
    ::close(server);
    ::close(client);
}
BENCHMARK(BM_UdpRoundTrip)->UseRealTime();

}  // namespace
