#pragma once
// SOME/IP deserialization of output records and error payloads, with bounds checks on
// every byte and the record-length tolerance for arrays (a longer array is accepted and
// its surplus skipped, a shorter one is rejected).
//
//   Deserializer in(payload);        // payload must outlive `in`
//   in.deserialize(record.counter);  // std::uint16_t, big-endian

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "someip/byte_order.h"
#include "someip/read_buffer.h"
#include "someip/serialization_properties.h"

namespace kem::com::someip::serialization {

using Byte_read_buffer = Read_buffer<std::vector<std::uint8_t>>;

namespace detail {

template <class T>
struct is_read_byte_array : std::false_type {};
template <std::size_t N>
struct is_read_byte_array<std::array<std::uint8_t, N>> : std::true_type {};

template <class T>
constexpr bool is_read_scalar_v =
    std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool> &&
    (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4);

[[noreturn]] inline void throw_record_length_too_small() {
    throw std::out_of_range(
        "Violation of [PRS_SOMEIP_00900]: Record length given by sender is too small. This is "
        "possibly due to a mismatch between the data models of sender and receiver.");
}

// After a member that started at `start` and declared `length` bytes: a member that read
// more than declared is an error; a shorter one skips to start + length, which must lie
// inside the buffer.
inline void finish_record(Byte_read_buffer& buffer, std::size_t start, std::uint64_t length) {
    const std::uint64_t consumed = buffer.offset() - start;
    if (consumed > length) {
        throw_record_length_too_small();
    }
    if (consumed < length) {
        if (length > buffer.size() - start) {
            Byte_read_buffer::throw_read_beyond_end();
        }
        buffer.skip_to(start + static_cast<std::size_t>(length));
    }
}

}  // namespace detail

// Reads one uint8_t (also the response-code byte), uint16_t or uint32_t in the configured
// byte order, one checked byte at a time: a short buffer throws std::out_of_range after
// the bytes present were consumed.
template <class T>
void deserialize_dispatch(Byte_read_buffer& buffer, T& value,
                          const Serialization_properties& properties) {
    static_assert(detail::is_read_scalar_v<T>, "only unsigned 8/16/32-bit scalars here");
    if (properties.is_little_endian()) {
        byte_order::read_no_conversion(buffer, value);
    } else {
        byte_order::read_with_conversion(buffer, value);
    }
}

// Reads a length field of 1, 2 or 4 bytes; any other size throws std::invalid_argument.
inline std::uint64_t deserialize_length_field_dispatch(std::uint64_t length_field_size,
                                                       Byte_read_buffer& buffer,
                                                       const Serialization_properties& properties) {
    switch (length_field_size) {
        case 1: {
            std::uint8_t length = 0;
            deserialize_dispatch(buffer, length, properties);
            return length;
        }
        case 2: {
            std::uint16_t length = 0;
            deserialize_dispatch(buffer, length, properties);
            return length;
        }
        case 4: {
            std::uint32_t length = 0;
            deserialize_dispatch(buffer, length, properties);
            return length;
        }
        default:
            throw std::invalid_argument("Invalid value for length field size.");
    }
}

// Appends the next `length` bytes to `value` (all remaining bytes when `length` is the
// all-ones value). The range is checked against the buffer before anything is allocated
// or read.
template <class T>
void deserialize_dispatch(Byte_read_buffer& buffer, T& value,
                          const Serialization_properties& /*properties*/, std::uint64_t length) {
    static_assert(std::is_same_v<T, std::vector<std::uint8_t>>, "only byte vectors here");
    const std::size_t start = buffer.offset();
    std::size_t end = buffer.size();
    const bool to_end = length == std::numeric_limits<std::uint64_t>::max();
    if (!to_end) {
        if (length > std::numeric_limits<std::uint64_t>::max() - start) {
            throw std::overflow_error("Deserialization detected std::size_t overflow.");
        }
        if (start + length > buffer.size()) {
            throw std::out_of_range("Deserialization calculated invalid end position.");
        }
        end = start + static_cast<std::size_t>(length);
    }
    const std::size_t count = end - start;
    if (count != 0) {
        const std::size_t old_size = value.size();
        value.resize(old_size + count);
        buffer.read_bytes(count, value.data() + old_size);
    }
    if (!to_end) {
        detail::finish_record(buffer, start, length);
    }
}

// Reads std::array<uint8_t, N> inside a record of `record_length` bytes: fewer than N
// throws before reading; more than N skips the surplus. A buffer that ends inside the
// array fills and consumes the elements present, then throws std::out_of_range.
template <class T>
void deserialize_dispatch_with_record_length(Byte_read_buffer& buffer, T& value,
                                             const Serialization_properties& /*properties*/,
                                             std::uint64_t record_length) {
    static_assert(detail::is_read_byte_array<T>::value, "only std::array<uint8_t, N> here");
    constexpr std::size_t n = std::tuple_size_v<T>;
    if (record_length < n) {
        throw std::out_of_range(
            "Violation of [PRS_SOMEIP_00900]: Record length provided by sender is smaller than "
            "expected. This is possibly due to a mismatch between the data models of sender "
            "and receiver.");
    }
    const std::size_t start = buffer.offset();
    const std::size_t present = buffer.remaining() < n ? buffer.remaining() : n;
    if (present != 0) {
        buffer.read_bytes(present, value.data());
    }
    if (present < n) {
        Byte_read_buffer::throw_read_beyond_end();
    }
    detail::finish_record(buffer, start, record_length);
}

// Reads the members of a response payload in order, with the default properties. The
// payload must outlive the Deserializer and stay unchanged while it is read.
class Deserializer {
  public:
    explicit Deserializer(const std::vector<std::uint8_t>& payload) : buffer_(payload) {}

    // uint8_t, uint16_t, uint32_t: the scalar; std::vector<uint8_t> and
    // std::array<uint8_t, N>: a 4-byte length field, then the bytes.
    template <class T>
    void deserialize(T& value) {
        if constexpr (detail::is_read_scalar_v<T>) {
            deserialize_dispatch(buffer_, value, properties_);
        } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
            const std::uint64_t length = deserialize_length_field_dispatch(
                properties_.array_length_field_size, buffer_, properties_);
            deserialize_dispatch(buffer_, value, properties_, length);
        } else if constexpr (detail::is_read_byte_array<T>::value) {
            const std::uint64_t length = deserialize_length_field_dispatch(
                properties_.array_length_field_size, buffer_, properties_);
            deserialize_dispatch_with_record_length(buffer_, value, properties_, length);
        } else {
            static_assert(!sizeof(T), "type has no SOME/IP deserialization here");
        }
    }

    Byte_read_buffer& buffer() noexcept { return buffer_; }

  private:
    Serialization_properties properties_{};
    Byte_read_buffer buffer_;
};

}  // namespace kem::com::someip::serialization
