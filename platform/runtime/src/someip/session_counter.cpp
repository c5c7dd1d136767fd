#include "someip/session_counter.h"

namespace platform::runtime::someip {

std::uint16_t Session_counter::next(const std::function<bool(std::uint16_t)>& pending) {
    for (std::uint32_t tries = 0; tries < 0xFFFF; ++tries) {
        last_ = static_cast<std::uint16_t>(last_ == 0xFFFF ? 1 : last_ + 1);
        if (!pending || !pending(last_)) {
            return last_;
        }
    }
    return 0;
}

}  // namespace platform::runtime::someip
