// Stress run of the loaded plug-in: manager threads read, start, stop and cancel on several
// identifiers while a driver thread withdraws and re-offers the services and answers held
// calls late. Every request must end with 0, 0x10 or the application's code, and a positive
// answer must carry exactly one of the records the application sent (or nothing, when
// cancelled or without record).
//
//   integration_stress                                 # short run (CTest)
//   integration_stress --threads 8 --operations 100000
// The environment variables DIAG_STRESS_THREADS and DIAG_STRESS_OPERATIONS set the same.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "integration/expected_catalogue.h"
#include "integration/plugin_host.h"
#include "integration/simulated_application.h"
#include "integration/wire_bytes.h"
#include "platform/ara_log/control.h"
#include "platform/runtime/application.h"

namespace integration {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t application_code = 0x22;

struct Options {
    unsigned threads = 4;
    unsigned long operations = 2000;
};

unsigned long parse_number(const char* text, const char* what) {
    char* end = nullptr;
    const auto value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        std::fprintf(stderr, "integration_stress: %s needs a positive number, got \"%s\"\n", what,
                     text);
        std::exit(2);
    }
    return value;
}

Options parse_options(int argc, char** argv) {
    Options options;
    if (const char* threads = std::getenv("DIAG_STRESS_THREADS")) {
        options.threads = static_cast<unsigned>(parse_number(threads, "DIAG_STRESS_THREADS"));
    }
    if (const char* operations = std::getenv("DIAG_STRESS_OPERATIONS")) {
        options.operations = parse_number(operations, "DIAG_STRESS_OPERATIONS");
    }
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--threads") == 0 && has_value) {
            options.threads = static_cast<unsigned>(parse_number(argv[++i], "--threads"));
        } else if (std::strcmp(argv[i], "--operations") == 0 && has_value) {
            options.operations = parse_number(argv[++i], "--operations");
        } else {
            std::fprintf(stderr, "usage: integration_stress [--threads N] [--operations N]\n");
            std::exit(2);
        }
    }
    return options;
}

// Counts log lines per level instead of printing them.
class Counting_sink : public platform::ara_log::Sink {
  public:
    std::array<std::atomic<unsigned long>, 7> lines{};

  protected:
    void do_write(const platform::ara_log::Message& message) override {
        const auto level = static_cast<std::size_t>(message.level);
        if (level < lines.size())
            lines[level].fetch_add(1, std::memory_order_relaxed);
    }
};

// Small thread-safe random source for the application policies.
class Dice {
  public:
    unsigned roll(unsigned sides) {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::uniform_int_distribution<unsigned>(0, sides - 1)(engine_);
    }

  private:
    std::mutex mutex_;
    std::mt19937 engine_{20240611};
};

// The answers one service gives, and the UDS bytes each of them must produce.
struct Service {
    const Expected_identifier* entry;
    std::unique_ptr<Simulated_application> app;
    std::map<std::uint16_t, Bytes> records;             // method -> SOME/IP record
    std::map<std::uint16_t, std::set<Bytes>> accepted;  // method -> UDS bytes of a success
    Bytes error;                                        // application error payload
};

std::unique_ptr<Service> make_service(const Expected_identifier& entry, Dice& dice) {
    auto service = std::make_unique<Service>();
    service->entry = &entry;
    auto add = [&](std::uint16_t method, const Layout* layout) {
        auto& accepted = service->accepted[method];
        accepted.insert(Bytes{});  // cancelled, or a method without record
        if (layout == nullptr)
            return;
        const auto values = make_values(*layout, static_cast<std::uint8_t>(entry.id), 3);
        service->records[method] = someip_record(*layout, values);
        accepted.insert(uds_record(values));
    };
    if (entry.kind == Kind::data_identifier) {
        add(entry.read_method(), &entry.output);
    } else {
        add(entry.start_method(), &entry.output);
        if (entry.kind == Kind::full_routine) {
            add(entry.request_results_method(), &*entry.request_results);
            add(entry.stop_method(), entry.stop ? &*entry.stop : nullptr);
        }
    }
    service->error = entry.kind == Kind::full_routine
                         ? Bytes{application_code, application_code, application_code}
                         : Bytes{application_code};
    service->app = std::make_unique<Simulated_application>(entry.service_id());
    service->app->set_recording(false);
    Service* raw = service.get();
    service->app->set_policy([raw, &dice](const Received_call& call) -> std::optional<Reply> {
        if (call.method_id == raw->entry->cancel_method()) {
            if (dice.roll(4) == 0)
                return std::nullopt;
            return Reply{};
        }
        const auto roll = dice.roll(20);
        if (roll < 10) {
            const auto record = raw->records.find(call.method_id);
            return Reply{0, record == raw->records.end() ? Bytes{} : record->second};
        }
        if (roll < 13)
            return Reply{2, raw->error};
        if (roll < 14)
            return Reply{0x81, {}};
        return std::nullopt;  // answered later by the driver
    });
    return service;
}

// What the held calls finally get: mostly their record, sometimes the error.
void release_all(std::vector<std::unique_ptr<Service>>& services, Dice& dice) {
    for (auto& service : services) {
        service->app->release_held([&](std::uint16_t method) {
            if (dice.roll(3) == 0)
                return Reply{2, service->error};
            const auto record = service->records.find(method);
            return Reply{0, record == service->records.end() ? Bytes{} : record->second};
        });
    }
}

struct Extension_slot {
    Service* service;
    Plugin_host::Did_extension did{nullptr, {nullptr}};
    Plugin_host::Rid_extension rid{nullptr, {nullptr}};
};

struct Totals {
    std::mutex mutex;
    std::map<std::uint8_t, unsigned long> codes;
    unsigned long cancels_sent = 0;
    unsigned long cancels_refused = 0;
    unsigned long empty_positive = 0;
    unsigned long violations = 0;
};

int run(const Options& options) {
    auto sink = std::make_shared<Counting_sink>();
    auto previous_sink = platform::ara_log::set_sink(sink);

    Dice dice;
    std::vector<std::unique_ptr<Service>> services;
    for (const auto id : {0x0102, 0x0411, 0x01AF, 0xF15B}) {
        services.push_back(make_service(expected_did(static_cast<std::uint16_t>(id)), dice));
    }
    for (const auto id : {0x0300, 0x0254, 0xC010}) {
        services.push_back(make_service(expected_rid(static_cast<std::uint16_t>(id)), dice));
    }

    // Two extensions per manager thread: driven by their owner, cancelled by the thread before it.
    std::vector<Extension_slot> slots(options.threads * 2);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        auto& slot = slots[i];
        slot.service = services[i % services.size()].get();
        if (slot.service->entry->is_routine()) {
            slot.rid = connect_rid(slot.service->entry->id);
        } else {
            slot.did = connect_did(slot.service->entry->id);
        }
    }

    Totals totals;
    std::atomic<unsigned long> done{0};
    std::atomic<unsigned> running{options.threads};
    auto manager = [&](unsigned index) {
        std::mt19937 engine(index + 1);
        auto roll = [&](unsigned sides) {
            return std::uniform_int_distribution<unsigned>(0, sides - 1)(engine);
        };
        const auto share = options.operations / options.threads +
                           (index < options.operations % options.threads ? 1 : 0);
        std::map<std::uint8_t, unsigned long> codes;
        unsigned long sent = 0, refused = 0, empty = 0, violations = 0;
        for (unsigned long n = 0; n < share; ++n, done.fetch_add(1, std::memory_order_relaxed)) {
            if (roll(8) == 0) {
                // Cancel one of the next thread's extensions, perhaps while it waits there.
                // Each extension has a single cancelling thread besides its owner.
                auto& slot = slots[((index + 1) % options.threads) * 2 + roll(2)];
                const bool ok =
                    slot.did ? slot.did->cancel(cancel_meta()) : slot.rid->cancel(cancel_meta());
                ++(ok ? sent : refused);
                continue;
            }
            auto& slot = slots[index * 2 + roll(2)];
            const auto& entry = *slot.service->entry;
            Bytes response;
            std::uint8_t code = 0;
            std::uint16_t method = 0;
            if (slot.did) {
                method = entry.read_method();
                code = slot.did->read(request_meta(), response);
            } else {
                Bytes request = uds_record(make_values(entry.start_parameters, 0x50, 2));
                const auto which = entry.kind == Kind::full_routine ? roll(3) : 0;
                if (which == 0) {
                    method = entry.start_method();
                    code = slot.rid->start(request, request_meta(), response);
                } else if (which == 1) {
                    method = entry.request_results_method();
                    code = slot.rid->request_results(request, request_meta(), response);
                } else {
                    method = entry.stop_method();
                    code = slot.rid->stop(request, request_meta(), response);
                }
            }
            ++codes[code];
            bool valid = code == 0x10 || code == application_code;
            if (code == 0) {
                valid = slot.service->accepted.at(method).count(response) != 0;
                if (response.empty())
                    ++empty;
            } else if (!response.empty()) {
                valid = false;
            }
            if (!valid) {
                if (violations++ < 5) {
                    std::fprintf(stderr, "violation: %s method %u code 0x%02x response %s\n",
                                 entry.interface_name.c_str(), method, code, hex(response).c_str());
                }
            }
        }
        std::lock_guard<std::mutex> lock(totals.mutex);
        for (const auto& [code, count] : codes)
            totals.codes[code] += count;
        totals.cancels_sent += sent;
        totals.cancels_refused += refused;
        totals.empty_positive += empty;
        totals.violations += violations;
        running.fetch_sub(1);
    };

    unsigned long withdrawals = 0;
    auto driver = [&] {
        std::mt19937 engine(0);
        while (running.load() != 0) {
            auto& service = *services[engine() % services.size()];
            service.app->withdraw();
            ++withdrawals;
            release_all(services, dice);
            std::this_thread::sleep_for(200us);
            service.app->offer();
            std::this_thread::sleep_for(1ms);
            release_all(services, dice);
        }
    };

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < options.threads; ++i)
        threads.emplace_back(manager, i);
    std::thread driver_thread(driver);

    // Watchdog: the run must keep moving; a request that hangs is a failure.
    auto last = done.load();
    auto last_change = std::chrono::steady_clock::now();
    while (running.load() != 0) {
        std::this_thread::sleep_for(10ms);
        const auto now_done = done.load();
        if (now_done != last) {
            last = now_done;
            last_change = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - last_change > 60s) {
            std::fprintf(stderr, "integration_stress: no progress for 60 s after %lu operations\n",
                         now_done);
            std::fflush(stderr);
            std::abort();
        }
    }
    for (auto& thread : threads)
        thread.join();
    driver_thread.join();
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);

    for (auto& service : services) {
        if (!service->app->offered())
            service->app->offer();
    }
    release_all(services, dice);
    slots.clear();  // stop_find_service, then destroy
    platform::runtime::settle();
    for (auto& service : services)
        service->app->drop_held();
    services.clear();
    platform::runtime::settle();
    platform::ara_log::set_sink(previous_sink);

    std::printf("integration_stress: %lu operations on %u threads in %.2f s, %lu withdrawals\n",
                options.operations, options.threads, elapsed.count(), withdrawals);
    for (const auto& [code, count] : totals.codes) {
        std::printf("  code 0x%02x: %lu\n", code, count);
    }
    std::printf("  positive without bytes (cancelled or no record): %lu\n", totals.empty_positive);
    std::printf("  cancels sent: %lu, refused without proxy: %lu\n", totals.cancels_sent,
                totals.cancels_refused);
    std::printf("  log lines: fatal %lu, error %lu, warn %lu\n", sink->lines[1].load(),
                sink->lines[2].load(), sink->lines[3].load());
    std::printf("  violations: %lu\n", totals.violations);
    const bool ok = totals.violations == 0 && sink->lines[1].load() == 0;
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace integration

int main(int argc, char** argv) {
    const auto options = integration::parse_options(argc, argv);
    const int result = integration::run(options);
    integration::Plugin_host::unload();
    return result;
}
