#pragma once
// Session ids of requests: one counter per process counts 1..0xFFFF and wraps to 1,
// skipping 0 and every id a call still waits on. Not synchronised: the owner calls it
// under the lock that guards its pending calls.

#include <cstdint>
#include <functional>

namespace platform::runtime::someip {

class Session_counter {
  public:
    // The next free session id; 0 when every id is pending.
    std::uint16_t next(const std::function<bool(std::uint16_t)>& pending = {});

  private:
    std::uint16_t last_ = 0;
};

}  // namespace platform::runtime::someip
