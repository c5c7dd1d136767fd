#pragma once
// SOME/IP serialization of method arguments and application errors (untagged forms:
// no type tags, no padding, length fields in front of arrays, vectors and strings).
//
//   std::vector<std::uint8_t> payload;
//   serialize_method_arguments(payload, meta, std::array<std::uint8_t, 3>{1, 2, 3});

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "someip/byte_order.h"
#include "someip/serialization_properties.h"

namespace kem::com::someip::serialization {

namespace detail {

template <class T>
struct is_byte_array : std::false_type {};
template <std::size_t N>
struct is_byte_array<std::array<std::uint8_t, N>> : std::true_type {};

template <class T>
constexpr bool is_wire_scalar_v =
    std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool> &&
    (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4);

template <class T>
void write_scalar(std::vector<std::uint8_t>& out, T value,
                  const Serialization_properties& properties) {
    if (properties.is_little_endian()) {
        byte_order::write_no_conversion(out, value);
    } else {
        byte_order::write_with_conversion(out, value);
    }
}

[[noreturn]] inline void throw_invalid_length_field_size() {
    throw std::invalid_argument("Invalid value for length field size.");
}

inline std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

inline std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) noexcept {
    return (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
               ? std::numeric_limits<std::uint64_t>::max()
               : a * b;
}

// Stores `length` in `size` bytes (1, 2 or 4; the caller checked that it fits) at `at` in
// the configured byte order and returns the position after it.
inline std::uint8_t* store_length(std::uint8_t* at, std::uint64_t size, std::uint64_t length,
                                  const Serialization_properties& properties) noexcept {
    if (size == 4) {
        std::uint32_t word = static_cast<std::uint32_t>(length);
        if (!properties.is_little_endian()) {
            word = __builtin_bswap32(word);
        }
        std::memcpy(at, &word, 4);
        return at + 4;
    }
    for (std::uint64_t i = 0; i < size; ++i) {
        const std::uint64_t shift = 8 * (properties.is_little_endian() ? i : size - 1 - i);
        at[i] = static_cast<std::uint8_t>(length >> shift);
    }
    return at + size;
}

inline std::uint8_t* copy_bytes(std::uint8_t* at, const std::string& text) noexcept {
    if (!text.empty()) {
        std::memcpy(at, text.data(), text.size());
    }
    return at + text.size();
}

// The largest length a length field of `size` bytes holds; 0 for a size that is not one.
constexpr std::uint64_t length_field_limit(std::uint64_t size) noexcept {
    return size == 1 ? 0xFFu : size == 2 ? 0xFFFFu : size == 4 ? 0xFFFFFFFFu : 0;
}

// The MetaInfo map: a 4-byte length field with the byte count of all entries, then each
// entry in key order as key string and value string. When every length fits its field the
// buffer grows once and everything is written in place; otherwise the map is written piece
// by piece, which throws where the first length does not fit.
template <class Map>
void serialize_map(std::vector<std::uint8_t>& out, const Map& map,
                   const Serialization_properties& properties);

}  // namespace detail

// Appends a length field of `length_field_size` bytes (0, 1, 2 or 4) holding `length`.
// Size 0 appends nothing. Throws std::overflow_error when the length does not fit and
// std::invalid_argument for any other size; nothing is appended on failure.
inline void serialize_length_field_dispatch(std::uint64_t length_field_size, std::uint64_t length,
                                            std::vector<std::uint8_t>& out,
                                            const Serialization_properties& properties) {
    std::uint64_t limit = 0;
    switch (length_field_size) {
        case 0:
            return;
        case 1:
            limit = 0xFFu;
            break;
        case 2:
            limit = 0xFFFFu;
            break;
        case 4:
            limit = 0xFFFFFFFFu;
            break;
        default:
            detail::throw_invalid_length_field_size();
    }
    if (length > limit) {
        throw std::overflow_error(
            "Calculated record length does not fit into configured length field");
    }
    switch (length_field_size) {
        case 1:
            detail::write_scalar(out, static_cast<std::uint8_t>(length), properties);
            break;
        case 2:
            detail::write_scalar(out, static_cast<std::uint16_t>(length), properties);
            break;
        default:
            detail::write_scalar(out, static_cast<std::uint32_t>(length), properties);
            break;
    }
}

// Untagged serialization of a value that needs a length field; only byte vectors occur.
template <class T>
void serialize_without_tag(std::vector<std::uint8_t>&, const T&, const Serialization_properties&) {
    static_assert(std::is_same_v<T, std::vector<std::uint8_t>>,
                  "only byte vectors are serialized without tag here");
}

// A byte vector: array length field with its byte count, then the bytes. A length field
// size of 0 throws std::invalid_argument before anything is appended.
template <>
inline void serialize_without_tag<std::vector<std::uint8_t>>(
    std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& value,
    const Serialization_properties& properties) {
    if (properties.array_length_field_size == 0) {
        throw std::invalid_argument(
            "Vectors must have a length field that deserializer can also deserialize it. "
            "Violation of PRS_SOMEIP_00376 & PRS_SOMEIP_00107!");
    }
    serialize_length_field_dispatch(properties.array_length_field_size, value.size(), out,
                                    properties);
    out.insert(out.end(), value.begin(), value.end());
}

// A string: length field (string length field size) with its byte count, then its bytes
// exactly as stored.
inline void serialize_string(std::vector<std::uint8_t>& out, const std::string& value,
                             const Serialization_properties& properties) {
    if (properties.string_length_field_size == 0) {
        throw std::invalid_argument(
            "Dynamic strings must have a length field. Violation of PRS_SOMEIP_00089!");
    }
    serialize_length_field_dispatch(properties.string_length_field_size, value.size(), out,
                                    properties);
    out.insert(out.end(), value.begin(), value.end());
}

namespace detail {

template <class Map>
void serialize_map(std::vector<std::uint8_t>& out, const Map& map,
                   const Serialization_properties& properties) {
    const std::uint64_t field = properties.string_length_field_size;
    const std::uint64_t limit = length_field_limit(field);
    const std::uint64_t per_entry = saturating_mul(2, field);
    std::uint64_t total = 0;
    bool fits = limit != 0;
    for (const auto& [key, text] : map) {
        total = saturating_add(total, per_entry);
        total = saturating_add(total, key.size());
        total = saturating_add(total, text.size());
        fits = fits && key.size() <= limit && text.size() <= limit;
    }
    if (fits && total <= length_field_limit(4)) {
        const std::size_t start = out.size();
        out.resize(start + 4 + static_cast<std::size_t>(total));
        std::uint8_t* at = store_length(out.data() + start, 4, total, properties);
        for (const auto& [key, text] : map) {
            at = copy_bytes(store_length(at, field, key.size(), properties), key);
            at = copy_bytes(store_length(at, field, text.size(), properties), text);
        }
        return;
    }
    serialize_length_field_dispatch(4, total, out, properties);
    for (const auto& [key, text] : map) {
        serialize_string(out, key, properties);
        serialize_string(out, text, properties);
    }
}

}  // namespace detail

// Appends one value:
// - uint8_t (also the response-code byte), uint16_t, uint32_t in the configured byte order;
// - std::array<uint8_t, N>: array length field holding N, then the N bytes;
// - std::vector<uint8_t>: as serialize_without_tag;
// - the MetaInfo map: 4-byte length field with the byte count of all entries, then each
//   entry in key order as key string and value string.
template <class T>
void serialize_dispatch(std::vector<std::uint8_t>& out, const T& value,
                        const Serialization_properties& properties) {
    if constexpr (detail::is_wire_scalar_v<T>) {
        detail::write_scalar(out, value, properties);
    } else if constexpr (detail::is_byte_array<T>::value) {
        serialize_length_field_dispatch(properties.array_length_field_size, value.size(), out,
                                        properties);
        out.insert(out.end(), value.begin(), value.end());
    } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
        serialize_without_tag(out, value, properties);
    } else if constexpr (std::is_same_v<T, std::map<std::string, std::string>>) {
        detail::serialize_map(out, value, properties);
    } else {
        static_assert(!sizeof(T), "type has no SOME/IP serialization here");
    }
}

// Request payload of a method call: the MetaInfo map, then each input argument in order,
// all with the default properties.
template <class... Args>
void serialize_method_arguments(std::vector<std::uint8_t>& out,
                                const std::map<std::string, std::string>& meta,
                                const Args&... args) {
    serialize_dispatch(out, meta, Serialization_properties{});
    (serialize_dispatch(out, args, Serialization_properties{}), ...);
}

// Appends values to one output buffer; used by application errors to write their fields.
// The buffer must outlive the Serializer.
class Serializer {
  public:
    explicit Serializer(std::vector<std::uint8_t>& out,
                        const Serialization_properties& properties = {})
        : out_(out), properties_(properties) {}

    template <class T>
    void serialize(const T& value) {
        serialize_dispatch(out_, value, properties_);
    }

    std::vector<std::uint8_t>& buffer() noexcept { return out_; }
    const Serialization_properties& properties() const noexcept { return properties_; }

  private:
    std::vector<std::uint8_t>& out_;
    Serialization_properties properties_;
};

}  // namespace kem::com::someip::serialization
