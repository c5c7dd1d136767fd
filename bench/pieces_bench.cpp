// The pieces of the request path one by one: the MetaInfo in front of every request
// payload, reading the largest fixed record, the level check of an incident that is not
// logged, the rendering of the response incident with that record, and the floor of a
// debug-level read's logging.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/request_meta.h"
#include "binding/response_handler.h"
#include "host/allocation_counter.h"
#include "host/record_writer.h"
#include "log/json_rendering.h"
#include "platform/ara_log/control.h"
#include "services/d_0102/d_0102.h"
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

// The least a debug-level read of 0x0102 can allocate for its two lines: the documents of
// Method_call_request_tx and Method_call_response_rx built member by member straight from
// the call's data, dumped as the log requires, each text copied once into its log stream,
// and the service id copied once into each incident record. BM_DidReadDebugLog minus
// BM_DidRead, in allocations, is compared with this.
void BM_DebugLinesFloor(benchmark::State& state) {
    using nlohmann::json;
    const std::string service =
        orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus::service_id;
    const std::string instance = bench::bench_instance;
    const auto& meta = bench::request_meta();
    auto identify = [&](json& incident, const char* name) {
        incident["1_id"] = name;
        json& service_id = incident["2_service_id"];
        service_id["1_id"] = "Service_id";
        service_id["string"] = service;
        json& instance_id = incident["3_instance_id"];
        instance_id["1_id"] = "Instance_id";
        instance_id["2_string"] = instance;
        incident["4_method_id"] = 1;
    };
    auto log = [](const json& document) {
        std::string stream;  // the log stream's copy
        stream += document.dump(-1, ' ', false, json::error_handler_t::strict);
        benchmark::DoNotOptimize(stream.data());
    };
    const auto before = host::allocations().this_thread;
    for (auto _ : state) {
        std::string record_service = service;  // each incident record's own Service_id
        json request;
        identify(request["1_incident"], "Method_call_request_tx");
        request["2_data"]["1_map"] = meta;
        log(request);

        std::string response_service = service;
        json response;
        identify(response["1_incident"], "Method_call_response_rx");
        response["1_incident"]["5_error_code"] = 0;
        response["2_data"]["1_generated_type"]["1_uint8"] = 7;
        log(response);
        benchmark::DoNotOptimize(record_service.data());
        benchmark::DoNotOptimize(response_service.data());
    }
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(host::allocations().this_thread - before),
                           benchmark::Counter::kAvgIterations);
}

}  // namespace

BENCHMARK(BM_DebugLinesFloor);
BENCHMARK(BM_MetaInfoSerialization);
BENCHMARK(BM_SomeipReadF15B);
BENCHMARK(BM_IncidentDisabledLevel);
BENCHMARK(BM_RenderResponseRxF15B);
