// Requests through the plug-in loaded with dlopen, each answered at once by a simulated
// application on a runtime thread, with the platform log at warn unless said otherwise.
// Every round trip is reported with the allocations it made per request: on all threads
// ("allocs_per_read") and on the manager's calling thread alone ("allocs_per_read_caller").
//
// One read of 0x0102 at warn, accounted (x86-64, RelWithDebInfo; instructions from
// `valgrind --tool=callgrind bench/read_loop N` at two N, all threads, per read):
//
// Hand-offs: two, the floor that BM_HandoffRoundTrip measures. The manager's thread queues
// the request on the runtime's transport thread (one condition-variable wake-up); that
// thread runs the application's handler, which answers inline, and the response handler,
// whose set_value wakes the manager from its 1 ms wait slice (one futex wake-up). No other
// thread takes part.
//
// Instructions, about 9,000 in all (12,500 before the runtime stand-in stopped copying;
// counted before the response handler decoded from a copy, which adds a malloc, a memcpy
// of the payload and a free on the transport thread):
//   manager, sending: about 3,500 — promise and future 700, MetaInfo serialized in place
//     into the runtime's buffer 750, response handler and cleanup 700, call_method 850
//     (the call record and the runtime's own promise, queueing on the transport);
//   transport thread: about 2,700 — taking the job and readying the runtime future 500,
//     dispatch and the simulated application 550, the response handler 600 (decode the
//     record, level check, set_value);
//   manager, waiting and taking the result: about 400; giving the call up: about 2,400 (its
//     cleanup's readiness check, then every free of the call);
//   spread over all of these: malloc and free about 2,000, 13 mutex lock/unlock pairs
//     about 750 (the caller's State 4 times, the runtime future's State 3, the transport
//     queue 3, the runtime's record of the instance 2, the application 1).
//
// Allocations, 15: 14 on the manager's thread while it sends, one on the transport thread.
//   1. the Promise<R> and its shared pointer's control block, in one block: the caller
//      and the response handler share the promise; 2. and 3. its std::promise's
//      shared state and result storage (libstdc++ allocates them apart); 4. its State, the
//      record of the cleanup and continuation hooks;
//   5. the payload buffer from get_shared_payload(0); 6. its bytes, grown once to the
//      MetaInfo's length;
//   7. the response handler's std::function block (captures: logger, promise, Service_info);
//   8. the Service_info copy's service id (64 characters; the instance id fits in place),
//      so the handler does not depend on the proxy;
//   9. the shared holder of the runtime future, which the cleanup keeps; 10. the cleanup's
//      std::function block; 11. the service id of its Method_call_request_cancelled
//      incident, prepared while sending so the cleanup only has to raise it;
//   12. the runtime's Method_call, which also carries its future's State and, on the way
//      back, the response in the request's buffer; 13. and 14. the shared state and result
//      storage of the std::promise behind that runtime future;
//   15. on the transport thread, in the response handler: the copy of the response bytes
//      [first, last) that the record is decoded from, so that nothing decoded or kept
//      refers to the runtime's buffer.
// Not allocated: the application's answer is written into the request's buffer, which the
// call holds alone by then.
// At debug level a read makes 83 more: the two JSON documents, each map node, key and
// array of nlohmann::json, and the dumped texts.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "bench/request_meta.h"
#include "host/allocation_counter.h"
#include "host/application.h"
#include "host/built_plugin.h"
#include "host/extensions.h"
#include "host/record_writer.h"
#include "platform/ara_log/control.h"
#include "services/d_0102/d_0102.h"
#include "services/d_0261/d_0261.h"
#include "services/d_f15b/d_f15b.h"
#include "services/d_f186/d_f186.h"
#include "services/d_f1af/d_f1af.h"
#include "services/r_0318/r_0318.h"

namespace {

namespace diag = orlak::services::diag;
using D0102 = diag::d_0102::DataIdentifier_BasicSettingsStatus;
using D0261 = diag::d_0261::DataIdentifier_OBDDrivingCycleSetOnce;
using Df15b = diag::d_f15b::DataIdentifier_FingerprintAndProgrammingDateOfLogicalSoftwareBlocks;
using Df1af = diag::d_f1af::DataIdentifier_AUTOSARStandardApplicationSoftwareIdentification;
using Df186 = diag::d_f186::DataIdentifier_ActiveDiagnosticSession;
using R0318 = diag::r_0318::RoutineService_DriverNotificationHandlerWarnIDTrigger;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t sequence_size = 4096;  // the byte sequence of 0xF1AF

// Record filled with a pattern; its byte sequence, if any, holds `sequence` bytes.
template <class Record>
Record make_record(std::uint8_t seed, std::size_t sequence = 0) {
    auto record = host::patterned<Record>(seed);
    auto size_sequence = [sequence](auto& member) {
        if constexpr (std::is_same_v<std::decay_t<decltype(member)>, Bytes>) {
            member.assign(sequence, 0x5A);
        }
    };
    record.visit(size_sequence);
    return record;
}

// A simulated application of the benchmarks: calls are counted, not kept. Every method
// without a rule (Cancel) answers 0 with no payload.
class Application : public host::Simulated_application {
  public:
    explicit Application(const char* service)
        : Simulated_application(service, bench::bench_instance, Recording::none) {}
};

// Read answered with its record.
template <class Interface>
void answer_read(Application& app, std::uint8_t seed, std::size_t sequence = 0) {
    app.answer(Interface::Read::id, 0,
               host::someip_record(make_record<typename Interface::Read::Output>(seed, sequence)));
}

template <class Owned>
Owned connected(Owned extension, std::uint16_t id) {
    if (!extension) {
        throw std::runtime_error("the plug-in refuses identifier " + std::to_string(id));
    }
    return extension;
}

host::Did_extension connect_did(std::uint16_t id) {
    return connected(host::connect_did(host::built_plugin(), id, bench::bench_instance), id);
}

host::Rid_extension connect_rid(std::uint16_t id) {
    return connected(host::connect_rid(host::built_plugin(), id, bench::bench_instance), id);
}

// Counts the Read calls of the never-answering service as they reach it.
class Arrivals {
  public:
    void add() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++count_;
        }
        changed_.notify_all();
    }
    // Waits until more than `seen` calls arrived or `stop` is set; returns the count.
    std::uint64_t wait_beyond(std::uint64_t seen, const std::atomic<bool>& stop) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return count_ > seen || stop.load(); });
        return count_;
    }
    void wake_all() {
        std::lock_guard<std::mutex> lock(mutex_);
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t count_ = 0;
};

// The simulated applications and the connected extensions of all request benchmarks,
// created on first use and kept until the process ends.
struct World {
    World() {
        answer_read<D0102>(app_0102, 0x07);
        answer_read<D0261>(app_0261, 0x08);
        answer_read<Df15b>(app_f15b, 0x10);
        answer_read<Df1af>(app_f1af, 0, sequence_size);
        app_0318.answer(R0318::Start::id, 0,
                        host::someip_record(make_record<R0318::Start::Output>(0x01)));
        // Never answers Read; answers Cancel.
        app_f186.drop(Df186::Read::id);
        app_f186.set_observer([this](const host::Received_call& call) {
            if (call.method_id == Df186::Read::id) {
                silent_reads.add();
            }
        });
    }

    Arrivals silent_reads;
    Application app_0102{D0102::service_id};
    Application app_0261{D0261::service_id};
    Application app_f15b{Df15b::service_id};
    Application app_f1af{Df1af::service_id};
    Application app_0318{R0318::service_id};
    Application app_f186{Df186::service_id};
    host::Did_extension did_0102 = connect_did(0x0102);
    host::Did_extension did_0261 = connect_did(0x0261);
    host::Did_extension did_f15b = connect_did(0xF15B);
    host::Did_extension did_f1af = connect_did(0xF1AF);
    host::Did_extension did_f186 = connect_did(0xF186);
    host::Rid_extension rid_0318 = connect_rid(0x0318);
};

World& world() {
    static World instance;
    return instance;
}

// Sets the allocation counters of a finished loop of requests.
class Allocation_meter {
  public:
    Allocation_meter() : start_(host::allocations()) {}
    void report(benchmark::State& state) const {
        const auto end = host::allocations();
        const double requests = static_cast<double>(state.iterations());
        if (requests == 0) {
            return;
        }
        state.counters["allocs_per_read"] =
            static_cast<double>(end.all_threads - start_.all_threads) / requests;
        state.counters["allocs_per_read_caller"] =
            static_cast<double>(end.this_thread - start_.this_thread) / requests;
    }

  private:
    host::Allocation_count start_;
};

void read_loop(benchmark::State& state, host::Extension_data_identifier& did,
               std::size_t expected_size) {
    const auto& meta = bench::request_meta();
    Bytes response;
    Allocation_meter meter;
    for (auto _ : state) {
        response.clear();
        const auto code = did.read(meta, response);
        if (code != 0 || response.size() != expected_size) {
            state.SkipWithError("read did not answer positively with the whole record");
            break;
        }
    }
    meter.report(state);
}

host::Extension_data_identifier& did_of(World& w, std::uint16_t id) {
    switch (id) {
        case 0xF15B:
            return *w.did_f15b;
        case 0xF1AF:
            return *w.did_f1af;
        default:
            return *w.did_0102;
    }
}

void BM_DidRead(benchmark::State& state, std::uint16_t id, std::size_t expected_size) {
    read_loop(state, did_of(world(), id), expected_size);
}

// The same read with every incident line rendered and emitted (into the discarding sink).
void BM_DidReadDebugLog(benchmark::State& state) {
    World& w = world();
    platform::ara_log::set_threshold(ara::log::LogLevel::kDebug);
    read_loop(state, *w.did_0102, 1);
    platform::ara_log::set_threshold(ara::log::LogLevel::kWarn);
}

// Start with its six inputs decoded from nine request bytes.
void BM_RoutineStart(benchmark::State& state) {
    World& w = world();
    const auto& meta = bench::request_meta();
    Bytes request{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11};
    Bytes response;
    Allocation_meter meter;
    for (auto _ : state) {
        response.clear();
        const auto code = w.rid_0318->start(request, meta, response);
        if (code != 0 || response.size() != 1) {
            state.SkipWithError("start did not answer positively with its record");
            break;
        }
    }
    meter.report(state);
}

// One manager thread per identifier (0x0102, 0x0261), each on its own extension.
void BM_DidReadParallel(benchmark::State& state) {
    World& w = world();
    auto& did = state.thread_index() % 2 == 0 ? *w.did_0102 : *w.did_0261;
    const auto& meta = bench::request_meta();
    Bytes response;
    for (auto _ : state) {
        response.clear();
        if (did.read(meta, response) != 0 || response.size() != 1) {
            state.SkipWithError("read did not answer positively with the whole record");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// Time from cancel() on a second thread until the waiting read() has returned, with an
// application that never answers the read.
void BM_CancelLatency(benchmark::State& state) {
    World& w = world();
    auto& did = *w.did_f186;
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> stop{false};
    std::atomic<Clock::rep> cancelled_at{0};
    std::thread canceller([&] {
        std::uint64_t seen = 0;
        for (;;) {
            seen = w.silent_reads.wait_beyond(seen, stop);
            if (stop.load()) {
                return;
            }
            cancelled_at.store(Clock::now().time_since_epoch().count());
            did.cancel(bench::request_meta());
        }
    });

    const auto& meta = bench::request_meta();
    Bytes response;
    for (auto _ : state) {
        response.clear();
        const auto code = did.read(meta, response);
        const auto returned = Clock::now().time_since_epoch().count();
        if (code != 0 || !response.empty()) {
            state.SkipWithError("a cancelled read must answer 0 without data");
            break;
        }
        const Clock::duration latency(returned - cancelled_at.load());
        state.SetIterationTime(std::chrono::duration<double>(latency).count());
    }
    stop.store(true);
    w.silent_reads.wake_all();
    canceller.join();
}

}  // namespace

BENCHMARK_CAPTURE(BM_DidRead, 0102, 0x0102, 1)->UseRealTime();
BENCHMARK_CAPTURE(BM_DidRead, F15B, 0xF15B, 520)->UseRealTime();
BENCHMARK_CAPTURE(BM_DidRead, F1AF, 0xF1AF, sequence_size)->UseRealTime();
BENCHMARK(BM_DidReadDebugLog)->Name("BM_DidReadDebugLog/0102")->UseRealTime();
BENCHMARK(BM_RoutineStart)->Name("BM_RoutineStart/0318")->UseRealTime();
BENCHMARK(BM_DidReadParallel)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_CancelLatency)->UseManualTime();
