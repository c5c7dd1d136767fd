// Payload buffers handed out by the runtime.

#include "binding/runtime/runtime.h"

namespace kem::com::cpp_binding {

// The size is a capacity hint; the buffer starts empty.
std::shared_ptr<std::vector<std::uint8_t>> get_shared_payload(std::size_t size) {
    auto buffer = std::make_shared<std::vector<std::uint8_t>>();
    buffer->reserve(size);
    return buffer;
}

}  // namespace kem::com::cpp_binding
