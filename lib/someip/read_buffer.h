#pragma once
// Bounds-checked read cursor over received payload bytes.
//
//   kem::com::Read_buffer<std::vector<std::uint8_t>> in(payload);
//   std::uint8_t b; in.read_byte(b);  // throws std::out_of_range past the end

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace kem::com {

template <class Container>
class Read_buffer;

// Reads a byte vector that it does not own: the vector must outlive the Read_buffer and
// must not change while it is read. The position only moves forward and never passes
// the end of the vector.
template <>
class Read_buffer<std::vector<std::uint8_t>> {
  public:
    explicit Read_buffer(const std::vector<std::uint8_t>& data) noexcept
        : data_(data), position_(data.data()) {}

    Read_buffer(const Read_buffer&) = delete;
    Read_buffer& operator=(const Read_buffer&) = delete;

    // Offset of the next unread byte from the start of the vector.
    std::size_t offset() const noexcept {
        return static_cast<std::size_t>(position_ - data_.data());
    }
    std::size_t size() const noexcept { return data_.size(); }
    std::size_t remaining() const noexcept { return size() - offset(); }

    // The single-byte read every scalar is built from.
    void read_byte(std::uint8_t& destination) {
        if (remaining() < 1) {
            throw_read_beyond_end();
        }
        destination = *position_;
        ++position_;
    }

    // Copies `count` bytes to `destination` and advances; nothing is read when fewer remain.
    void read_bytes(std::size_t count, std::uint8_t* destination) {
        if (destination == nullptr) {
            throw std::invalid_argument("destination cannot be NULL");
        }
        if (count > remaining()) {
            throw_read_beyond_end();
        }
        if (count != 0) {
            std::memcpy(destination, position_, count);
            position_ += count;
        }
    }

    // Moves the position to `new_offset`, which must lie between the current offset and
    // the end of the vector.
    void skip_to(std::size_t new_offset) {
        if (new_offset > size() || new_offset < offset()) {
            throw_read_beyond_end();
        }
        position_ = data_.data() + new_offset;
    }

    [[noreturn]] static void throw_read_beyond_end() {
        throw std::out_of_range("Read beyond the end of the data buffer");
    }

  private:
    const std::vector<std::uint8_t>& data_;
    const std::uint8_t* position_;
};

}  // namespace kem::com
