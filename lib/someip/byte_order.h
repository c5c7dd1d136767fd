#pragma once
// Multi-byte values on the wire. The host is little-endian: "no conversion" keeps the
// memory order (little-endian on the wire), "with conversion" reverses it (big-endian).
//
//   kem::com::byte_order::write_with_conversion(out, std::uint16_t{0x1234});  // 12 34
//   kem::com::byte_order::read_with_conversion(in, value);

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "someip/read_buffer.h"

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the SOME/IP byte-order helpers assume a little-endian host"
#endif

namespace kem::com::byte_order {

// Appends the value's bytes in memory order (little-endian on the wire).
template <class T>
void write_no_conversion(std::vector<std::uint8_t>& out, T value) {
    static_assert(std::is_integral_v<T>, "byte order applies to integers only");
    std::uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

// Appends the value's bytes in reverse memory order: most significant byte first.
template <class T>
void write_with_conversion(std::vector<std::uint8_t>& out, T value) {
    static_assert(std::is_integral_v<T>, "byte order applies to integers only");
    std::uint8_t bytes[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[i] = static_cast<std::uint8_t>(static_cast<std::make_unsigned_t<T>>(value) >>
                                             (8 * (sizeof(T) - 1 - i)));
    }
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

// Reads sizeof(T) bytes one at a time into the value's memory from the first position
// onwards. A short buffer throws std::out_of_range after the bytes present were consumed.
template <class T>
void read_no_conversion(Read_buffer<std::vector<std::uint8_t>>& in, T& value) {
    static_assert(std::is_integral_v<T>, "byte order applies to integers only");
    auto* memory = reinterpret_cast<std::uint8_t*>(&value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        in.read_byte(memory[i]);
    }
}

// Reads sizeof(T) bytes one at a time into the value's memory from the last position
// backwards (the first byte read is the most significant). Short buffer: as above.
template <class T>
void read_with_conversion(Read_buffer<std::vector<std::uint8_t>>& in, T& value) {
    static_assert(std::is_integral_v<T>, "byte order applies to integers only");
    auto* memory = reinterpret_cast<std::uint8_t*>(&value);
    for (std::size_t i = sizeof(T); i > 0; --i) {
        in.read_byte(memory[i - 1]);
    }
}

}  // namespace kem::com::byte_order
