// The floor of every round trip: a request handed to a second thread and its answer handed
// back, each through a bare std::promise / std::future pair. A request through the plug-in
// makes at least these two hand-overs between the manager's thread and the runtime's.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <future>
#include <memory>
#include <thread>
#include <utility>

namespace {

// One request: its value, the promise of its answer and the future of the next request.
struct Job;
using Job_future = std::future<std::unique_ptr<Job>>;
struct Job {
    std::uint64_t request = 0;
    bool last = false;
    std::promise<std::uint64_t> answer;
    Job_future next;
};

void BM_HandoffRoundTrip(benchmark::State& state) {
    std::promise<std::unique_ptr<Job>> next_job;
    std::thread server([first = next_job.get_future()]() mutable {
        Job_future pending = std::move(first);
        for (;;) {
            std::unique_ptr<Job> job = pending.get();
            if (job->last) {
                return;
            }
            pending = std::move(job->next);
            job->answer.set_value(job->request + 1);
        }
    });

    std::uint64_t request = 0;
    for (auto _ : state) {
        std::promise<std::unique_ptr<Job>> following;
        auto job = std::make_unique<Job>();
        job->request = request;
        std::future<std::uint64_t> answer = job->answer.get_future();
        job->next = following.get_future();
        next_job.set_value(std::move(job));
        next_job = std::move(following);
        request = answer.get();
    }
    auto last = std::make_unique<Job>();
    last->last = true;
    next_job.set_value(std::move(last));
    server.join();
    benchmark::DoNotOptimize(request);
}

}  // namespace

BENCHMARK(BM_HandoffRoundTrip)->UseRealTime();
