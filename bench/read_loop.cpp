// read_loop N [debug]: N reads of 0x0102 through the plug-in loaded with dlopen, each
// answered at once by a simulated application, log threshold warn (or debug, where every
// read renders its two incidents into a discarding sink). Made for counting instructions:
//
//   valgrind --tool=callgrind build/default/bench/read_loop 20000
//
// and the same with a small N; the difference divided by the difference of N is the cost
// of one read, start-up and shut-down excluded. Exit status 0 when every read answered 0
// with the one-byte record, 1 otherwise, 2 for a bad argument.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/discarding_sink.h"
#include "bench/request_meta.h"
#include "host/application.h"
#include "host/built_plugin.h"
#include "host/extensions.h"
#include "host/record_writer.h"
#include "platform/ara_log/control.h"
#include "services/d_0102/d_0102.h"

namespace {

using D0102 = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus;

int run(unsigned long count, ara::log::LogLevel threshold) {
    platform::ara_log::set_sink(std::make_shared<bench::Discarding_sink>());
    platform::ara_log::set_threshold(threshold);
    const host::Bytes record = host::someip_record(host::patterned<D0102::Read::Output>(0x07));
    unsigned long failures = 0;
    {
        host::Simulated_application app(D0102::service_id, bench::bench_instance,
                                        host::Simulated_application::Recording::none);
        app.answer(D0102::Read::id, 0, record);
        const auto did = host::connect_did(host::built_plugin(), 0x0102, bench::bench_instance);
        if (!did) {
            std::fprintf(stderr, "read_loop: the plug-in refuses 0x0102\n");
            return 1;
        }
        const auto& meta = bench::request_meta();
        std::vector<std::uint8_t> response;
        for (unsigned long i = 0; i < count; ++i) {
            response.clear();
            if (did->read(meta, response) != 0 || response.size() != 1) {
                ++failures;
            }
        }
    }
    platform::runtime::settle();
    if (failures != 0) {
        std::fprintf(stderr, "read_loop: %lu of %lu reads failed\n", failures, count);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const unsigned long count = argc >= 2 ? std::strtoul(argv[1], &end, 10) : 0;
    const bool debug = argc == 3 && std::string(argv[2]) == "debug";
    if (argc < 2 || argc > 3 || (argc == 3 && !debug) || end == argv[1] || *end != '\0') {
        std::fprintf(stderr, "usage: read_loop N [debug]   (N reads of 0x0102)\n");
        return 2;
    }
    return run(count, debug ? ara::log::LogLevel::kDebug : ara::log::LogLevel::kWarn);
}
