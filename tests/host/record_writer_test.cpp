#include "host/record_writer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using host::Bytes;

// Every kind of member a generated record may hold, in the same shape.
struct Every_member {
    std::uint8_t u8{};
    std::uint16_t u16{};
    std::uint32_t u32{};
    std::array<std::uint8_t, 2> array{};
    std::vector<std::uint8_t> bytes;

    template <class F>
    void visit(F& f) {
        f(u8);
        f(u16);
        f(u32);
        f(array);
        f(bytes);
    }
};

TEST(Record_writer, writes_members_in_order_big_endian_with_4_byte_length_fields) {
    const Every_member record{0x01, 0x0203, 0x04050607, {0x08, 0x09}, {0x0A, 0x0B, 0x0C}};
    EXPECT_EQ(host::someip_record(record),
              (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,  // u8, u16, u32
                     0x00, 0x00, 0x00, 0x02, 0x08, 0x09,        // array: length 2
                     0x00, 0x00, 0x00, 0x03, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(host::someip_record(Every_member{}),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0}));

    Bytes length;
    host::append_length(length, 0x01020304);
    EXPECT_EQ(length, (Bytes{0x01, 0x02, 0x03, 0x04}));
}

TEST(Record_writer, writes_the_meta_info_with_its_total_length_and_keys_ascending) {
    EXPECT_EQ(host::someip_meta({}), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(host::someip_meta({{"b", "xy"}, {"a", ""}}),
              (Bytes{0, 0, 0, 20,                   // 4+1+4+0 + 4+1+4+2
                     0, 0, 0, 1,  'a', 0, 0, 0, 0,  // "a" = ""
                     0, 0, 0, 1,  'b', 0, 0, 0, 2, 'x', 'y'}));
}

}  // namespace
