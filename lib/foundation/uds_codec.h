#pragma once
// Raw UDS data-record form of records and inputs: fixed-width big-endian integers and
// byte sequences, no tags, no length fields, no filler bytes.
//
//   Serialize(response).serialize(output);           // record members -> UDS bytes
//   Deserialize in(request, meta); in.deserialize(id);  // UDS bytes -> input values

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/types.h"

namespace kem::dm::foundation::extension {

namespace detail {

// The eight value types: 8, 16, 32 and 64-bit, signed and unsigned.
template <class T>
constexpr bool is_uds_value_v =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);

template <class T>
struct is_value_array : std::false_type {};
template <class T, std::size_t N>
struct is_value_array<std::array<T, N>> : std::bool_constant<is_uds_value_v<T>> {};

}  // namespace detail

// Appends to the caller's buffer; never clears or shrinks it. The buffer must outlive
// the Serialize.
class Serialize {
  public:
    explicit Serialize(std::vector<std::uint8_t>& target) noexcept : target_(target) {}

    // Appends the value's bytes, most significant first (signed: two's complement).
    template <class T>
    void write_value(const T& value) {
        static_assert(detail::is_uds_value_v<T>, "UDS values are 8/16/32/64-bit integers");
        using U = std::make_unsigned_t<T>;
        const U bits = static_cast<U>(value);
        std::uint8_t bytes[sizeof(T)];
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bytes[i] = static_cast<std::uint8_t>(bits >> (8 * (sizeof(T) - 1 - i)));
        }
        target_.insert(target_.end(), bytes, bytes + sizeof(T));
    }

    // One record member: a value by write_value, a fixed array element by element, a
    // byte sequence as all of its bytes with no count in front.
    template <class T>
    void write_field(const T& field) {
        if constexpr (detail::is_uds_value_v<T>) {
            write_value(field);
        } else if constexpr (detail::is_value_array<T>::value) {
            for (const auto& element : field) {
                write_value(element);
            }
        } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
            target_.insert(target_.end(), field.begin(), field.end());
        } else {
            static_assert(!sizeof(T), "type has no UDS encoding");
        }
    }

    // Writes every member of a generated record in declaration order (through `visit`).
    template <class T>
    void serialize(T& record) {
        auto writer = [this](const auto& field) { this->write_field(field); };
        record.visit(writer);
    }

  private:
    std::vector<std::uint8_t>& target_;
};

// Reads input values from a copy of the UDS request bytes. A failed read changes
// neither the target nor the position. The MetaInfo must outlive the Deserialize.
class Deserialize {
  public:
    Deserialize(std::vector<std::uint8_t> request, const types::MetaInfo& meta)
        : data_(std::move(request)), meta_(meta) {}

    // Reads one value, most significant byte first, and advances by its width. A byte
    // beyond the end throws std::out_of_range naming the offending index.
    template <class T>
    void deserialize(T& value) {
        if constexpr (detail::is_uds_value_v<T>) {
            using U = std::make_unsigned_t<T>;
            const std::size_t first = position_;
            U bits = 0;
            for (std::size_t i = 0; i < sizeof(T); ++i) {
                bits = static_cast<U>((static_cast<std::uint64_t>(bits) << 8) | byte_at(first + i));
            }
            value = static_cast<T>(bits);
            position_ = static_cast<std::uint32_t>(first + sizeof(T));
        } else if constexpr (detail::is_value_array<T>::value) {
            // Element by element: a failure leaves the elements and the position of the
            // values already read.
            for (auto& element : value) {
                deserialize(element);
            }
        } else {
            static_assert(!sizeof(T), "type has no UDS decoding");
        }
    }

    // Appends every byte left after the position (a variable-length tail; empty at the end).
    void deserialize_rest(std::vector<std::uint8_t>& tail) {
        const std::size_t first = position_ < data_.size() ? position_ : data_.size();
        tail.insert(tail.end(), data_.begin() + static_cast<std::ptrdiff_t>(first), data_.end());
        position_ = static_cast<std::uint32_t>(data_.size());
    }

    std::size_t bytes_left() const noexcept {
        return position_ < data_.size() ? data_.size() - position_ : 0;
    }
    std::uint32_t position() const noexcept { return position_; }
    const types::MetaInfo& meta_info() const noexcept { return meta_; }

  private:
    std::uint8_t byte_at(std::size_t index) const {
        if (index >= data_.size()) {
            char message[128];
            std::snprintf(message, sizeof message,
                          "vector::_M_range_check: __n (which is %zu) >= this->size() (which is "
                          "%zu)",
                          index, data_.size());
            throw std::out_of_range(message);
        }
        return data_[index];
    }

    std::vector<std::uint8_t> data_;
    const types::MetaInfo& meta_;
    std::uint32_t position_ = 0;
};

}  // namespace kem::dm::foundation::extension
