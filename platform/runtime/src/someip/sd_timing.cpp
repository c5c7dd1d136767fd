#include "someip/sd_timing.h"

#include <memory>
#include <mutex>
#include <random>

namespace platform::runtime::someip {

Random_delay uniform_random_delay() {
    struct Source {
        std::mutex mutex;
        std::mt19937 generator{std::random_device{}()};
    };
    auto source = std::make_shared<Source>();
    return [source](milliseconds low, milliseconds high) {
        if (high <= low) {
            return low;
        }
        std::lock_guard<std::mutex> lock(source->mutex);
        std::uniform_int_distribution<milliseconds::rep> pick(low.count(), high.count());
        return milliseconds(pick(source->generator));
    };
}

}  // namespace platform::runtime::someip
