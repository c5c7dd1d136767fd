#pragma once
// The phases of Service Discovery and the clock they run on. The state machines never read
// a clock: every operation takes the current time, and next_deadline() says when to call
// again, so that tests drive them with a fake clock and the transport with its timer.

#include <chrono>
#include <cstdint>
#include <functional>

namespace platform::runtime::someip {

using Sd_clock = std::chrono::steady_clock;
using Sd_time = Sd_clock::time_point;
using std::chrono::milliseconds;

struct Sd_timing {
    milliseconds initial_delay_min{10};
    milliseconds initial_delay_max{100};
    unsigned repetitions = 3;  // after the first message, each after twice the previous wait
    milliseconds repetition_base_delay{30};
    milliseconds cyclic_offer_delay{1000};
    std::uint32_t ttl_s = 3;
};

// A delay drawn from [low, high].
using Random_delay = std::function<milliseconds(milliseconds low, milliseconds high)>;

// Uniformly distributed, from a generator seeded once per process.
Random_delay uniform_random_delay();

}  // namespace platform::runtime::someip
