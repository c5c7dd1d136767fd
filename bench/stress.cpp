// Stress run of the loaded plug-in: manager threads read, start, stop and request results on
// several identifiers and cancel each other's requests, while a driver thread withdraws and
// re-offers the services and answers held calls late. Every request must end with 0, 0x10 or
// the application's code, and a positive answer must carry exactly one of the records the
// application sent (or nothing, when cancelled or without record). A run that makes no
// progress for 60 s aborts. A load tool, run by scripts/stress; the tests keep what it
// proves in a fixed order (tests/integration/cancellation_test.cpp).
//
//   integration_stress --threads 8 --operations 100000

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "host/application.h"
#include "host/built_plugin.h"
#include "host/extensions.h"
#include "platform/ara_log/control.h"
#include "platform/runtime/application.h"
#include "support/expected_catalogue.h"
#include "support/wire_bytes.h"

namespace {

using namespace support;
using host::built_plugin;
using host::Received_call;
using host::Reply;
using host::Simulated_application;
using namespace std::chrono_literals;

constexpr std::uint8_t application_code = 0x22;

// The incidents are rendered (at the default threshold) but not printed.
class Null_sink : public platform::ara_log::Sink {
    void do_write(const platform::ara_log::Message&) override {}
};

std::mutex dice_mutex;
std::mt19937 dice_engine{20240611};
unsigned roll(unsigned sides) {  // for the application side and the driver
    std::lock_guard<std::mutex> lock(dice_mutex);
    return std::uniform_int_distribution<unsigned>(0, sides - 1)(dice_engine);
}

// One service: the answers it gives and the UDS bytes a success may produce per method.
struct Service {
    explicit Service(const Expected_identifier& entry) : entry(entry), app(entry.service_id()) {
        const bool full = entry.kind == Kind::full_routine;
        add(entry.is_routine() ? entry.start_method() : entry.read_method, &entry.output);
        if (full) {
            add(entry.request_results_method, &*entry.request_results);
            add(entry.stop_method, entry.stop ? &*entry.stop : nullptr);
        }
        error = Bytes(full ? 3 : 1, application_code);
        app.set_policy([this](const Received_call& call) -> std::optional<Reply> {
            if (call.method_id == Expected_identifier::cancel_method) {
                return roll(4) == 0 ? std::nullopt : std::optional<Reply>(Reply{});
            }
            const auto dice = roll(20);
            if (dice < 13) {
                return reply(call.method_id, dice >= 10);
            }
            return dice < 14 ? std::optional<Reply>(Reply{0x81, {}}) : std::nullopt;  // held
        });
    }

    void add(std::uint16_t method, const Layout* layout) {
        accepted[method].insert(Bytes{});  // cancelled, or a method without record
        if (layout != nullptr) {
            const auto record = encode(*layout, static_cast<std::uint8_t>(entry.id), 3);
            records[method] = record.someip;
            accepted[method].insert(record.uds);
        }
    }
    Reply reply(std::uint16_t method, bool error_reply) const {
        const auto record = records.find(method);
        return error_reply ? Reply{2, error}
                           : Reply{0, record == records.end() ? Bytes{} : record->second};
    }
    void release_held() {
        app.release_held([this](std::uint16_t method) { return reply(method, roll(3) == 0); });
    }

    const Expected_identifier& entry;
    std::map<std::uint16_t, Bytes> records;             // method -> SOME/IP record
    std::map<std::uint16_t, std::set<Bytes>> accepted;  // method -> UDS bytes of a success
    Bytes error;
    Simulated_application app;  // last: its policy uses the members above
};

struct Slot {
    Service* service;
    host::Did_extension did;
    host::Rid_extension rid;

    // One request; returns the method it went to.
    std::uint16_t request(unsigned which, std::uint8_t& code, Bytes& response) {
        const auto& entry = service->entry;
        if (did) {
            code = did->read(request_meta(), response);
            return entry.read_method;
        }
        Bytes request = encode(entry.start_parameters, 0x50, 2).uds;
        switch (entry.kind == Kind::full_routine ? which : 0) {
            case 0:
                code = rid->start(request, request_meta(), response);
                return entry.start_method();
            case 1:
                code = rid->request_results(request, request_meta(), response);
                return entry.request_results_method;
            default:
                code = rid->stop(request, request_meta(), response);
                return entry.stop_method;
        }
    }
    bool cancel() { return did ? did->cancel(cancel_meta()) : rid->cancel(cancel_meta()); }
};

int run(unsigned threads, unsigned long operations) {
    auto previous_sink = platform::ara_log::set_sink(std::make_shared<Null_sink>());
    std::vector<std::unique_ptr<Service>> services;
    for (const std::uint16_t id : {0x0102, 0x0411, 0x01AF, 0xF15B}) {
        services.push_back(std::make_unique<Service>(expected_did(id)));
    }
    for (const std::uint16_t id : {0x0300, 0x0254, 0xC010}) {
        services.push_back(std::make_unique<Service>(expected_rid(id)));
    }
    // Two extensions per manager thread: driven by their owner, cancelled by the one before.
    std::vector<Slot> slots(threads * 2);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i].service = services[i % services.size()].get();
        const auto& entry = slots[i].service->entry;
        if (entry.is_routine()) {
            slots[i].rid = host::connect_rid(built_plugin(), entry.id);
        } else {
            slots[i].did = host::connect_did(built_plugin(), entry.id);
        }
    }

    std::atomic<unsigned long> done{0}, positive{0}, violations{0}, cancels{0};
    std::atomic<unsigned> running{threads};
    auto manager = [&](unsigned index) {
        std::mt19937 engine(index + 1);
        auto own_roll = [&](unsigned sides) {
            return std::uniform_int_distribution<unsigned>(0, sides - 1)(engine);
        };
        const auto share = operations / threads + (index < operations % threads ? 1 : 0);
        for (unsigned long n = 0; n < share; ++n, ++done) {
            if (own_roll(3) == 0) {  // about a third of the operations cancel
                slots[((index + 1) % threads) * 2 + own_roll(2)].cancel();
                ++cancels;
                continue;
            }
            auto& slot = slots[index * 2 + own_roll(2)];
            std::uint8_t code = 0;
            Bytes response;
            const auto method = slot.request(own_roll(3), code, response);
            positive += code == 0 ? 1 : 0;
            const bool valid = code == 0
                                   ? slot.service->accepted.at(method).count(response) != 0
                                   : (code == 0x10 || code == application_code) && response.empty();
            if (!valid && violations++ < 5) {
                std::fprintf(stderr, "violation: %s method %u code 0x%02x response %s\n",
                             slot.service->entry.interface_name.c_str(), method, code,
                             hex(response).c_str());
            }
        }
        --running;
    };
    unsigned long withdrawals = 0;
    auto driver = [&] {
        while (running != 0) {
            auto& service = *services[roll(services.size())];
            service.app.withdraw();
            ++withdrawals;
            for (auto& each : services) {
                each->release_held();
            }
            std::this_thread::sleep_for(200us);
            service.app.offer();
            std::this_thread::sleep_for(1ms);
        }
    };

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < threads; ++i) {
        workers.emplace_back(manager, i);
    }
    workers.emplace_back(driver);
    auto last = done.load();
    auto last_change = start;
    while (running != 0) {  // watchdog
        std::this_thread::sleep_for(10ms);
        if (done != last) {
            last = done;
            last_change = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - last_change > 60s) {
            std::fprintf(stderr, "integration_stress: no progress after %lu operations\n", last);
            std::abort();
        }
    }
    for (auto& worker : workers) {
        worker.join();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    for (auto& service : services) {
        service->release_held();
    }
    slots.clear();  // stop_find_service, then destroy
    platform::runtime::settle();
    services.clear();
    platform::runtime::settle();
    platform::ara_log::set_sink(previous_sink);
    std::printf(
        "integration_stress: %lu operations on %u threads in %.2f s, %lu cancels, "
        "%lu withdrawals, %lu positive answers, %lu violations\n",
        operations, threads, elapsed.count(), cancels.load(), withdrawals, positive.load(),
        violations.load());
    return violations == 0 ? 0 : 1;
}

unsigned long positive_number(const char* text) {
    char* end = nullptr;
    const auto value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        std::fprintf(stderr, "integration_stress: not a positive number: \"%s\"\n", text);
        std::exit(2);
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned threads = 4;
    unsigned long operations = 2000;
    for (int i = 1; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = static_cast<unsigned>(positive_number(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--operations") == 0 && i + 1 < argc) {
            operations = positive_number(argv[i + 1]);
        } else {
            std::fprintf(stderr, "usage: integration_stress [--threads N] [--operations N]\n");
            return 2;
        }
    }
    return run(threads, operations);
}
