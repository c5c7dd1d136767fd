#include "foundation/uds_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "someip/throws_with.h"

using kem::dm::foundation::extension::Deserialize;
using kem::dm::foundation::extension::Serialize;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Shape of a data-block record: u8, u16, u8[12], u32, bytes.
struct Block_description {
    std::uint8_t kind = 0x05;
    std::uint16_t block = 0x0102;
    std::array<std::uint8_t, 12> name{0x41, 0x42, 0x43, 0x44, 0x45, 0x46,
                                      0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C};
    std::uint32_t size = 0x0A0B0C0D;
    std::vector<std::uint8_t> data;

    template <class F>
    void visit(F& f) {
        f(kind);
        f(block);
        f(name);
        f(size);
        f(data);
    }
};

}  // namespace

TEST(UdsCodecTest, WriteValueIsBigEndianTwosComplement) {
    Bytes out{0xEE};  // existing bytes stay in front
    Serialize s(out);
    s.write_value(std::uint16_t{0x0203});
    s.write_value(std::uint64_t{0x08090A0B0C0D0E0Full});
    s.write_value(std::int8_t{-1});
    s.write_value(std::int32_t{-3});
    EXPECT_EQ(out, (Bytes{0xEE, 0x02, 0x03, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0xFF,
                          0xFF, 0xFF, 0xFF, 0xFD}));
}

TEST(UdsCodecTest, RecordsHaveNoLengthFields) {
    Block_description block;
    Bytes out;
    Serialize(out).serialize(block);
    EXPECT_EQ(out, (Bytes{0x05, 0x01, 0x02, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
                          0x4A, 0x4B, 0x4C, 0x0A, 0x0B, 0x0C, 0x0D}));
    block.data = {7, 8};
    Serialize(out).serialize(block);
    EXPECT_EQ(out.size(), 19u + 21u);
    EXPECT_EQ(out.back(), 8);
}

TEST(UdsCodecTest, DeserializeReadsBigEndianAndKeepsPositionOnFailure) {
    const kem::dm::types::MetaInfo meta{{"k", "v"}};
    Deserialize in({0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFE, 0x80, 0x01, 0x02, 0x03}, meta);
    std::uint16_t u16 = 0;
    std::int32_t i32 = 0;
    std::int8_t i8 = 0;
    in.deserialize(u16);
    in.deserialize(i32);
    in.deserialize(i8);
    EXPECT_EQ(u16, 0x1234);
    EXPECT_EQ(i32, -2);
    EXPECT_EQ(i8, -128);
    EXPECT_EQ(in.position(), 7u);
    EXPECT_EQ(&in.meta_info(), &meta);

    std::uint32_t u32 = 0x5A5A5A5A;
    EXPECT_THROWS_WITH(in.deserialize(u32), std::out_of_range,
                       "vector::_M_range_check: __n (which is 10) >= this->size() (which is 10)");
    EXPECT_EQ(u32, 0x5A5A5A5Au);
    EXPECT_EQ(in.position(), 7u);
    in.deserialize(u16);  // still usable at the old position
    EXPECT_EQ(u16, 0x0102);
}

TEST(UdsCodecTest, ArraysAndTails) {
    const kem::dm::types::MetaInfo meta;
    Deserialize in({1, 2, 3, 4, 5}, meta);
    std::array<std::uint8_t, 3> a{};
    in.deserialize(a);
    EXPECT_EQ(a, (std::array<std::uint8_t, 3>{1, 2, 3}));
    EXPECT_EQ(in.bytes_left(), 2u);
    Bytes tail;
    in.deserialize_rest(tail);
    in.deserialize_rest(tail);  // at the end: empty, not an error
    EXPECT_EQ(tail, (Bytes{4, 5}));

    Deserialize empty({}, meta);
    EXPECT_THROWS_WITH(empty.deserialize(a), std::out_of_range,
                       "vector::_M_range_check: __n (which is 0) >= this->size() (which is 0)");
}
