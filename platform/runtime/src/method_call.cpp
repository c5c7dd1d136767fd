#include "method_call.h"

#include <utility>

namespace zun::com::runtime {

bool Method_call::answer(std::uint8_t code, const std::vector<std::uint8_t>& bytes) {
    if (answered_.exchange(true, std::memory_order_acq_rel)) {
        return false;
    }
    // The call holds the only reference once the binding has sent it; anything else gets
    // a buffer of its own instead of having its bytes overwritten.
    if (!request_.buffer || request_.buffer.use_count() != 1) {
        request_.buffer = std::make_shared<std::vector<std::uint8_t>>();
    }
    request_.buffer->assign(bytes.begin(), bytes.end());
    request_.first = request_.buffer->data();
    request_.last = request_.first + request_.buffer->size();
    code_ = code;
    return true;
}

void Method_call::deliver() noexcept {
    if (delivered_.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    try {
        // A copy: the buffer goes with the call, usually on the caller's thread, which
        // allocated it, instead of on the transport thread.
        handler_(code_, request_);
    } catch (...) {
        // The caller learns nothing more; the transport thread goes on.
    }
}

void Method_call::deliver(std::uint8_t code) noexcept {
    if (answer(code)) {
        deliver();
    }
}

bool Method_call::answer(std::uint8_t code) noexcept {
    if (answered_.exchange(true, std::memory_order_acq_rel)) {
        return false;
    }
    code_ = code;
    request_ = Payload{};
    return true;
}

void Method_call::drop() noexcept {
    if (delivered_.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    Response_handler released;
    released.swap(handler_);
}

}  // namespace zun::com::runtime
