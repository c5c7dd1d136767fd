// Runs the benchmarks with the platform log at warn into a sink that discards; the
// benchmarks that need another threshold set it themselves and restore warn.

#include <benchmark/benchmark.h>

#include <memory>

#include "bench/discarding_sink.h"
#include "platform/ara_log/control.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    platform::ara_log::set_sink(std::make_shared<bench::Discarding_sink>());
    platform::ara_log::set_threshold(ara::log::LogLevel::kWarn);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
