#pragma once
// Counts the allocations of the process through the global operator new, which this
// binary replaces (the dlopen'ed plug-in and the runtime resolve to it as well).
//
//   const auto before = host::allocations();  ...  host::allocations() - before

#include <cstdint>

namespace host {

struct Allocation_count {
    std::uint64_t all_threads;  // every thread of the process
    std::uint64_t this_thread;  // the calling thread only
};

Allocation_count allocations() noexcept;

}  // namespace host
