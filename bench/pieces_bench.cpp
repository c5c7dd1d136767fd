// The pieces of the request path one by one: the MetaInfo in front of every request
// payload, reading the largest fixed record, the level check of an incident that is not
// logged, and the rendering of the response incident with that record.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/allocation_counter.h"
#include "bench/request_meta.h"
#include "binding/response_handler.h"
#include "host/record_writer.h"
#include "log/json_rendering.h"
#include "platform/ara_log/control.h"
#include "services/d_f15b/d_f15b.h"
#include "someip/serializer.h"

namespace {

namespace ser = kem::com::someip::serialization;
namespace incidents = kem::com::cpp_binding::log::incidents;
using F15b = orlak::services::diag::d_f15b::
    DataIdentifier_FingerprintAndProgrammingDateOfLogicalSoftwareBlocks;

kem::com::cpp_binding::Service_info f15b_info() {
    return {F15b::service_id, bench::bench_instance};
}

// Into a new, empty buffer, as every request payload starts.
void BM_MetaInfoSerialization(benchmark::State& state) {
    const auto& meta = bench::request_meta();
    std::size_t size = 0;
    const auto before = host::allocations().this_thread;
    for (auto _ : state) {
        std::vector<std::uint8_t> payload;
        ser::serialize_method_arguments(payload, meta);
        size = payload.size();
        benchmark::DoNotOptimize(payload.data());
    }
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(host::allocations().this_thread - before),
                           benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_SomeipReadF15B(benchmark::State& state) {
    const auto payload = host::someip_record(host::patterned<F15b::Read::Output>(1));
    for (auto _ : state) {
        ser::Deserializer in(payload);
        F15b::Read::Output record;
        kem::com::cpp_binding::proxy::Method_output_deserialization_dispatcher<
            F15b::Read::Output, false>::deserialize(in, record);
        benchmark::DoNotOptimize(record);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
}

// Method_call_response_rx is at debug; the threshold stays at warn.
void BM_IncidentDisabledLevel(benchmark::State& state) {
    platform::ara_log::set_threshold(ara::log::LogLevel::kWarn);
    const auto record = host::patterned<F15b::Read::Output>(1);
    const auto info = f15b_info();
    auto& logger = ara::com::logger();
    for (auto _ : state) {
        kem::com::cpp_binding::proxy::detail::raise_with_code<incidents::Method_call_response_rx>(
            logger, info, F15b::Read::id, 0, record);
        benchmark::ClobberMemory();
    }
}

void BM_RenderResponseRxF15B(benchmark::State& state) {
    const auto record = host::patterned<F15b::Read::Output>(1);
    const auto info = f15b_info();
    const incidents::Method_call_response_rx incident{
        zun::com::runtime::Service_id(info.service_id),
        zun::com::runtime::Instance_id(info.instance_id), F15b::Read::id, 0};
    std::size_t length = 0;
    for (auto _ : state) {
        std::uint32_t counter = 1;
        std::string text = kem::com::json::serialization::detail::Serialization_helper::serialize(
            counter, incident, record);
        length = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
}

}  // namespace

BENCHMARK(BM_MetaInfoSerialization);
BENCHMARK(BM_SomeipReadF15B);
BENCHMARK(BM_IncidentDisabledLevel);
BENCHMARK(BM_RenderResponseRxF15B);
