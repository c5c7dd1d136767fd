#include "host/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace host {
namespace {

std::atomic<std::uint64_t> all_threads{0};
thread_local std::uint64_t this_thread = 0;

void* allocate(std::size_t size) {
    all_threads.fetch_add(1, std::memory_order_relaxed);
    ++this_thread;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

}  // namespace

Allocation_count allocations() noexcept {
    return {all_threads.load(std::memory_order_relaxed), this_thread};
}

}  // namespace host

// The nothrow forms of the standard library call these.
void* operator new(std::size_t size) {
    return host::allocate(size);
}

void* operator new[](std::size_t size) {
    return host::allocate(size);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete[](void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
