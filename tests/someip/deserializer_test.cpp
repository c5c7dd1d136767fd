#include "someip/deserializer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <vector>

#include "someip/read_buffer.h"
#include "someip/throws_with.h"

namespace {

namespace ser = kem::com::someip::serialization;
using Bytes = std::vector<std::uint8_t>;
using Array3 = std::array<std::uint8_t, 3>;

const char* const beyond_end = "Read beyond the end of the data buffer";
const char* const invalid_end = "Deserialization calculated invalid end position.";

TEST(Deserializer, reads_members_with_their_length_fields) {
    // Vector (appended to what it holds), u16, empty vector, u32; then arrays longer than N
    // (surplus skipped), exactly N, and 12 bytes for a 10-byte member.
    const Bytes data{0, 0, 0,  3, 0x0A, 0x0B, 0x0C, 0x12, 0x34, 0, 0, 0, 0,  1,  2,  3,   4,
                     0, 0, 0,  5, 1,    2,    3,    4,    5,    0, 0, 0, 3,  6,  7,  8,   0,
                     0, 0, 12, 1, 2,    3,    4,    5,    6,    7, 8, 9, 10, 11, 12, 0x42};
    ser::Deserializer in(data);
    Bytes v{0xEE}, empty;
    std::uint16_t u16 = 0;
    std::uint32_t u32 = 0;
    Array3 a{}, b{};
    std::array<std::uint8_t, 10> ten{};
    std::uint8_t tail = 0;
    in.deserialize(v);
    in.deserialize(u16);
    in.deserialize(empty);
    in.deserialize(u32);
    in.deserialize(a);
    in.deserialize(b);
    in.deserialize(ten);
    in.deserialize(tail);
    EXPECT_EQ(v, (Bytes{0xEE, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(u16, 0x1234);
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(u32, 0x01020304u);
    EXPECT_EQ(a, (Array3{1, 2, 3}));
    EXPECT_EQ(b, (Array3{6, 7, 8}));
    EXPECT_EQ(ten, (std::array<std::uint8_t, 10>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(tail, 0x42);
    EXPECT_EQ(in.buffer().remaining(), 0u);
}

// Every failure leaves the position where it happened; nothing is read past the end.
TEST(Deserializer, hostile_payloads_fail_with_their_message) {
    const auto vector = [](ser::Deserializer& in) {
        Bytes v;
        in.deserialize(v);
    };
    const auto array = [](ser::Deserializer& in) {
        Array3 a{};
        in.deserialize(a);
    };
    const auto u8_then_u16 = [](ser::Deserializer& in) {
        std::uint8_t u8 = 0;
        std::uint16_t u16 = 0;
        in.deserialize(u8);
        in.deserialize(u16);
    };
    const struct {
        const char* what;
        std::function<void(ser::Deserializer&)> read;
        Bytes payload;
        const char* error;
        std::size_t offset;
    } cases[] = {
        {"vector past the end", vector, {0, 0, 0, 4, 1, 2, 3}, invalid_end, 4},
        {"vector of 2^32-1 bytes", vector, {0xFF, 0xFF, 0xFF, 0xFF, 1}, invalid_end, 4},
        {"array shorter than its size",
         array,
         {0, 0, 0, 2, 0x0A, 0x0B},
         "Violation of [PRS_SOMEIP_00900]: Record length provided by sender is smaller than "
         "expected. This is possibly due to a mismatch between the data models of sender and "
         "receiver.",
         4},
        {"array claiming more than remains",
         array,
         {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4},
         beyond_end,
         7},
        {"array cut short", array, {0, 0, 0, 3, 9, 8}, beyond_end, 6},
        {"length field cut short", array, {0, 0}, beyond_end, 2},
        {"u16 with one byte left", u8_then_u16, {1, 2}, beyond_end, 2},
        {"nothing at all", u8_then_u16, {}, beyond_end, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ser::Deserializer in(c.payload);
        EXPECT_THROWS_WITH(c.read(in), std::out_of_range, c.error);
        EXPECT_EQ(in.buffer().offset(), c.offset);
    }
}

TEST(Deserializer, explicit_lengths_and_length_field_sizes_are_checked) {
    const Bytes data{1, 2, 3, 4};
    ser::Byte_read_buffer in(data);
    in.skip_to(2);
    Bytes v;
    const std::uint64_t all_ones = std::numeric_limits<std::uint64_t>::max();
    EXPECT_THROWS_WITH(ser::deserialize_dispatch(in, v, {}, all_ones - 1), std::overflow_error,
                       "Deserialization detected std::size_t overflow.");
    EXPECT_THROWS_WITH(ser::deserialize_dispatch(in, v, {}, 3), std::out_of_range, invalid_end);
    ser::deserialize_dispatch(in, v, {}, all_ones);  // the rest of the buffer
    EXPECT_EQ(v, (Bytes{3, 4}));
    for (std::uint64_t size : {0u, 3u, 8u}) {
        EXPECT_THROWS_WITH(ser::deserialize_length_field_dispatch(size, in, {}),
                           std::invalid_argument, "Invalid value for length field size.");
    }
}

TEST(Read_buffer, checks_before_reading) {
    const Bytes data{1, 2, 3};
    kem::com::Read_buffer<Bytes> in(data);
    std::uint8_t bytes[3] = {};
    EXPECT_THROWS_WITH(in.read_bytes(0, nullptr), std::invalid_argument,
                       "destination cannot be NULL");
    in.read_bytes(2, bytes);
    EXPECT_THROWS_WITH(in.read_bytes(2, bytes), std::out_of_range, beyond_end);
    // Not a constant: with a literal count the optimiser warns about the memcpy that the
    // bounds check makes unreachable.
    volatile std::size_t huge = SIZE_MAX;
    EXPECT_THROW(in.read_bytes(huge, bytes), std::out_of_range);
    EXPECT_EQ(in.offset(), 2u);
}

}  // namespace
