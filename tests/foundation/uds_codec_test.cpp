#include "foundation/uds_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "someip/throws_with.h"

namespace {

using kem::dm::foundation::extension::Deserialize;
using kem::dm::foundation::extension::Serialize;
using Bytes = std::vector<std::uint8_t>;

TEST(Uds_codec, writes_big_endian_twos_complement) {
    Bytes out{0xEE};  // existing bytes stay in front
    Serialize s(out);
    s.write_value(std::uint64_t{0x08090A0B0C0D0E0Full});
    s.write_value(std::int8_t{-1});
    s.write_value(std::int32_t{-3});
    EXPECT_EQ(out, (Bytes{0xEE, 8, 9, 10, 11, 12, 13, 14, 15, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD}));
}

TEST(Uds_codec, reads_big_endian_and_keeps_its_position_on_failure) {
    const kem::dm::types::MetaInfo meta{{"k", "v"}};
    Deserialize in({0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFE, 1, 2, 3, 4, 5}, meta);
    std::uint16_t u16 = 0;
    std::int32_t i32 = 0;
    std::array<std::uint8_t, 3> a{};
    in.deserialize(u16);
    in.deserialize(i32);
    in.deserialize(a);
    EXPECT_EQ(u16, 0x1234);
    EXPECT_EQ(i32, -2);
    EXPECT_EQ(a, (std::array<std::uint8_t, 3>{1, 2, 3}));
    EXPECT_EQ(&in.meta_info(), &meta);

    std::uint32_t u32 = 0x5A5A5A5A;
    EXPECT_THROWS_WITH(in.deserialize(u32), std::out_of_range,
                       "vector::_M_range_check: __n (which is 11) >= this->size() (which is 11)");
    EXPECT_EQ(u32, 0x5A5A5A5Au);
    EXPECT_EQ(in.bytes_left(), 2u);
    Bytes tail;
    in.deserialize_rest(tail);
    in.deserialize_rest(tail);  // at the end: empty, not an error
    EXPECT_EQ(tail, (Bytes{4, 5}));
}

}  // namespace
