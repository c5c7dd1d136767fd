#pragma once
// How an extension waits for the result of one request: in 1 ms slices on the system
// clock, polling the extension's cancel flag once per slice.
//
//   clear_cancel_request(cancel_requested);               // at the start of every request
//   if (append_result(future, cancel_requested, response)) { /* record appended */ }
//
// The flag is a level set by cancel from another manager thread; sequentially consistent.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "exec/future.h"
#include "foundation/uds_codec.h"

namespace kem::dm::foundation::extension {

// Lowers a cancel left over from an earlier request; stores only when it was raised.
inline void clear_cancel_request(std::atomic<bool>& cancel_requested) noexcept {
    if (cancel_requested.load()) {
        cancel_requested.store(false);
    }
}

// Waits until `result` is ready (true) or the flag is raised first (false). No limit of its
// own. Throws std::future_error(no_state) for a Future without state.
template <class T>
bool wait_unless_cancelled(const zun::com::Future<T>& result,
                           const std::atomic<bool>& cancel_requested) {
    while (!result.is_ready()) {
        if (cancel_requested.load()) {
            return false;
        }
        const auto deadline = std::chrono::system_clock::now() + std::chrono::nanoseconds(1000000);
        result.wait_for(deadline - std::chrono::system_clock::now());
    }
    return true;
}

// Waits as above, then takes the result and appends its record's members to `response` in
// UDS form (a void result only rethrows a stored error). False, response untouched, when
// cancelled. Rethrows the stored exception; a failure while appending keeps what was written.
template <class T>
bool append_result(zun::com::Future<T>& result, const std::atomic<bool>& cancel_requested,
                   std::vector<std::uint8_t>& response) {
    if (!wait_unless_cancelled(result, cancel_requested)) {
        return false;
    }
    if constexpr (std::is_void_v<T>) {
        result.get();
    } else {
        T output = result.get();
        Serialize(response).serialize(output);
    }
    return true;
}

}  // namespace kem::dm::foundation::extension
