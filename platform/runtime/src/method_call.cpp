#include "method_call.h"

#include <utility>

#include "runtime_core.h"
#include "service_instance.h"

namespace zun::com::runtime {

void Method_call::deliver(std::uint8_t code,
                          kem::com::cpp_binding::Serialized_payload payload) noexcept {
    if (delivered_.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    try {
        handler_(code, std::move(payload));
    } catch (...) {
        // The caller learns nothing more; the transport thread goes on.
    }
}

}  // namespace zun::com::runtime

namespace platform::runtime {

bool Call_state::respond(std::uint8_t return_code, std::vector<std::uint8_t> payload) {
    if (answered_.exchange(true, std::memory_order_acq_rel)) {
        return false;
    }
    call_->target->owner->respond(call_, return_code, std::move(payload));
    return true;
}

}  // namespace platform::runtime
