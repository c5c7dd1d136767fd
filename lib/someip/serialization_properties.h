#pragma once
// Configuration of one SOME/IP serialization step (writing or reading).
//
//   const Serialization_properties props{};  // big-endian, 4-byte length fields
//   serialize_dispatch(out, std::uint16_t{0x1234}, props);  // appends 12 34

#include <cstdint>

namespace kem::com::someip::serialization {

// Byte-order values of Serialization_properties::byte_order.
constexpr std::uint32_t big_endian = 4321;
constexpr std::uint32_t little_endian = 1234;

// Every call site creates its own record; the defaults are the wire settings of the
// whole system. Fields 1, 3 and 6 are carried for completeness: no codec operation
// reads them.
struct Serialization_properties {
    std::uint64_t struct_length_field_size = 0;
    // 1234 is little-endian; every other value is treated as big-endian.
    std::uint32_t byte_order = big_endian;
    std::uint32_t string_encoding = 1;
    // Bytes of the length field in front of an array or a vector (0, 1, 2 or 4).
    std::uint64_t array_length_field_size = 4;
    // Bytes of the length field in front of a string (0, 1, 2 or 4).
    std::uint64_t string_length_field_size = 4;
    std::uint64_t union_length_field_size = 4;

    bool is_little_endian() const noexcept { return byte_order == little_endian; }
};

}  // namespace kem::com::someip::serialization
