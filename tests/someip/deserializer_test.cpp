#include "someip/deserializer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "someip/throws_with.h"

namespace ser = kem::com::someip::serialization;
using Bytes = std::vector<std::uint8_t>;
using Array3 = std::array<std::uint8_t, 3>;

namespace {
const char* const kBeyondEnd = "Read beyond the end of the data buffer";
const char* const kInvalidEnd = "Deserialization calculated invalid end position.";
}  // namespace

TEST(DeserializerTest, ScalarsAndLengthFieldsInBothByteOrders) {
    const Bytes data{0x7F, 0x12, 0x34, 0x0A, 0x0B, 0x0C, 0x0D, 0x34, 0x12, 0x05, 0x01, 0x02};
    ser::Byte_read_buffer in(data);
    ser::Serialization_properties little{};
    little.byte_order = 1234;
    std::uint8_t u8 = 0;
    std::uint16_t u16 = 0, u16_little = 0;
    std::uint32_t u32 = 0;
    ser::deserialize_dispatch(in, u8, {});
    ser::deserialize_dispatch(in, u16, {});
    ser::deserialize_dispatch(in, u32, {});
    ser::deserialize_dispatch(in, u16_little, little);
    EXPECT_EQ(u8, 0x7F);
    EXPECT_EQ(u16, 0x1234);
    EXPECT_EQ(u32, 0x0A0B0C0Du);
    EXPECT_EQ(u16_little, 0x1234);
    EXPECT_EQ(ser::deserialize_length_field_dispatch(1, in, {}), 5u);
    EXPECT_EQ(ser::deserialize_length_field_dispatch(2, in, {}), 0x0102u);
    for (std::uint64_t size : {0u, 3u, 8u}) {
        EXPECT_THROWS_WITH(ser::deserialize_length_field_dispatch(size, in, {}),
                           std::invalid_argument, "Invalid value for length field size.");
    }
}

TEST(DeserializerTest, ShortScalarFailsAfterConsumingTheBytesPresent) {
    const Bytes data{0x01, 0x02, 0x03};
    ser::Deserializer in(data);
    std::uint16_t u16 = 0;
    in.deserialize(u16);
    EXPECT_THROWS_WITH(in.deserialize(u16), std::out_of_range, kBeyondEnd);
    EXPECT_EQ(in.buffer().offset(), 3u);
}

TEST(DeserializerTest, VectorsAppendAndCheckTheirRange) {
    const Bytes data{0, 0, 0, 3, 0x0A, 0x0B, 0x0C, 0x12, 0x34, 0, 0, 0, 0};
    ser::Deserializer in(data);
    Bytes v{0xEE};
    std::uint16_t u16 = 0;
    Bytes empty;
    in.deserialize(v);
    in.deserialize(u16);
    in.deserialize(empty);
    EXPECT_EQ(v, (Bytes{0xEE, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(u16, 0x1234);
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(in.buffer().remaining(), 0u);

    // A length past the end (also a huge one) fails before anything is allocated or read.
    for (const Bytes& hostile : {Bytes{0, 0, 0, 4, 1, 2, 3}, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 1}}) {
        ser::Deserializer bad(hostile);
        EXPECT_THROWS_WITH(bad.deserialize(v), std::out_of_range, kInvalidEnd);
        EXPECT_EQ(bad.buffer().offset(), 4u);
    }
    EXPECT_EQ(v.size(), 4u);
}

TEST(DeserializerTest, VectorLengthArgumentLimits) {
    const Bytes data{1, 2, 3, 4};
    ser::Byte_read_buffer in(data);
    in.skip_to(2);
    Bytes v;
    const std::uint64_t all_ones = std::numeric_limits<std::uint64_t>::max();
    EXPECT_THROWS_WITH(ser::deserialize_dispatch(in, v, {}, all_ones - 1), std::overflow_error,
                       "Deserialization detected std::size_t overflow.");
    EXPECT_THROWS_WITH(ser::deserialize_dispatch(in, v, {}, 3), std::out_of_range, kInvalidEnd);
    ser::deserialize_dispatch(in, v, {}, all_ones);  // the rest of the buffer
    EXPECT_EQ(v, (Bytes{3, 4}));
}

TEST(DeserializerTest, ArrayRecordLength) {
    // Longer than N: surplus skipped; exactly N; the 12-for-10 case.
    const Bytes data{0, 0, 0,  5, 1, 2, 3, 4, 5, 0, 0, 0, 3,  6,  7,  8,   0,
                     0, 0, 12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x42};
    ser::Deserializer in(data);
    Array3 a{}, b{};
    std::array<std::uint8_t, 10> ten{};
    std::uint8_t tail = 0;
    in.deserialize(a);
    in.deserialize(b);
    in.deserialize(ten);
    in.deserialize(tail);
    EXPECT_EQ(a, (Array3{1, 2, 3}));
    EXPECT_EQ(b, (Array3{6, 7, 8}));
    EXPECT_EQ(ten, (std::array<std::uint8_t, 10>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(tail, 0x42);
}

TEST(DeserializerTest, HostileArrayLengths) {
    Array3 a{};
    const Bytes shorter{0, 0, 0, 2, 0x0A, 0x0B};
    ser::Deserializer in_shorter(shorter);
    EXPECT_THROWS_WITH(in_shorter.deserialize(a), std::out_of_range,
                       "Violation of [PRS_SOMEIP_00900]: Record length provided by sender is "
                       "smaller than expected. This is possibly due to a mismatch between the "
                       "data models of sender and receiver.");
    EXPECT_EQ(in_shorter.buffer().offset(), 4u);

    // Claims more than remains: N elements are read, then the skip fails.
    const Bytes beyond{0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
    ser::Deserializer in_beyond(beyond);
    EXPECT_THROWS_WITH(in_beyond.deserialize(a), std::out_of_range, kBeyondEnd);
    EXPECT_EQ(a, (Array3{1, 2, 3}));
    EXPECT_EQ(in_beyond.buffer().offset(), 7u);

    // Fewer bytes than N: the elements present are read, then it fails.
    const Bytes truncated{0, 0, 0, 3, 9, 8};
    ser::Deserializer in_truncated(truncated);
    EXPECT_THROWS_WITH(in_truncated.deserialize(a), std::out_of_range, kBeyondEnd);
    EXPECT_EQ(a, (Array3{9, 8, 3}));
    EXPECT_EQ(in_truncated.buffer().remaining(), 0u);
}
