#pragma once
// Big-endian reads through one bounds-checked cursor, and the matching writes. Every
// decoder of this folder reads through a Byte_cursor: a read past the end fails (returns
// false) and leaves the cursor failed, so a decoder checks once after a group of reads.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::runtime::someip {

using Bytes = std::vector<std::uint8_t>;

class Byte_cursor {
  public:
    Byte_cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remaining() const { return failed_ ? 0 : size_ - offset_; }
    std::size_t offset() const { return offset_; }
    bool failed() const { return failed_; }
    const std::uint8_t* position() const { return data_ + offset_; }

    bool read_u8(std::uint8_t& value) { return read_be(value, 1); }
    bool read_u16(std::uint16_t& value) { return read_be(value, 2); }
    bool read_u24(std::uint32_t& value) { return read_be(value, 3); }
    bool read_u32(std::uint32_t& value) { return read_be(value, 4); }

    // Moves past `count` bytes; `start` gets their first byte.
    bool take(std::size_t count, const std::uint8_t*& start) {
        if (!has(count)) {
            return false;
        }
        start = data_ + offset_;
        offset_ += count;
        return true;
    }
    bool skip(std::size_t count) {
        const std::uint8_t* ignored = nullptr;
        return take(count, ignored);
    }

    // A cursor over the next `count` bytes, which this cursor moves past; a failed cursor
    // when fewer remain.
    Byte_cursor sub(std::size_t count) {
        const std::uint8_t* start = nullptr;
        if (!take(count, start)) {
            Byte_cursor none(data_, 0);
            none.failed_ = true;
            return none;
        }
        return Byte_cursor(start, count);
    }

  private:
    bool has(std::size_t count) {
        if (failed_ || count > size_ - offset_) {
            failed_ = true;
            return false;
        }
        return true;
    }

    template <class T>
    bool read_be(T& value, std::size_t count) {
        if (!has(count)) {
            return false;
        }
        T result = 0;
        for (std::size_t i = 0; i < count; ++i) {
            result = static_cast<T>((result << 8) | data_[offset_ + i]);
        }
        offset_ += count;
        value = result;
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    bool failed_ = false;
};

inline void put_u8(Bytes& out, std::uint8_t value) {
    out.push_back(value);
}
inline void put_u16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}
inline void put_u24(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}
inline void put_u32(Bytes& out, std::uint32_t value) {
    put_u16(out, static_cast<std::uint16_t>(value >> 16));
    put_u16(out, static_cast<std::uint16_t>(value));
}
// Overwrites four bytes at `at` (a length field written before its contents were known).
inline void patch_u32(Bytes& out, std::size_t at, std::uint32_t value) {
    out.at(at) = static_cast<std::uint8_t>(value >> 24);
    out.at(at + 1) = static_cast<std::uint8_t>(value >> 16);
    out.at(at + 2) = static_cast<std::uint8_t>(value >> 8);
    out.at(at + 3) = static_cast<std::uint8_t>(value);
}

}  // namespace platform::runtime::someip
