#pragma once
// The MetaInfo that the benchmarks pass with every request: four entries of the size a
// diagnostic manager typically sends; and the instance under which they offer and search
// every service.

#include "foundation/types.h"

namespace bench {

inline const char* const bench_instance = "bench";

inline const kem::dm::types::MetaInfo& request_meta() {
    static const kem::dm::types::MetaInfo meta{
        {"addressing", "physical"},
        {"session", "extended"},
        {"source_address", "0x0E80"},
        {"target_address", "0x1010"},
    };
    return meta;
}

}  // namespace bench
