// Deadline_guard: measures a scope on the steady clock, in milliseconds.

#include <chrono>

#include "binding/runtime/runtime.h"

namespace kem::com {
namespace {

std::int64_t now_ns() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Deadline_guard::Deadline_guard(const unsigned long& deadline,
                               std::function<void(unsigned long)> late)
    : deadline_(deadline), late_(std::move(late)), start_ns_(now_ns()) {}

Deadline_guard::~Deadline_guard() {
    const auto elapsed_ms = static_cast<unsigned long>((now_ns() - start_ns_) / 1000000);
    if (elapsed_ms <= deadline_ || !late_) {
        return;
    }
    try {
        late_(elapsed_ms);
    } catch (...) {
        // Reporting lateness must never take the guarded scope down.
    }
}

}  // namespace kem::com
