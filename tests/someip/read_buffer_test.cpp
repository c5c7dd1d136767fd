#include "someip/read_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "someip/throws_with.h"

TEST(ReadBufferTest, ChecksBeforeReading) {
    const std::vector<std::uint8_t> data{1, 2, 3};
    kem::com::Read_buffer<std::vector<std::uint8_t>> in(data);
    std::uint8_t bytes[3] = {};
    EXPECT_THROWS_WITH(in.read_bytes(0, nullptr), std::invalid_argument,
                       "destination cannot be NULL");
    in.read_bytes(2, bytes);
    EXPECT_THROWS_WITH(in.read_bytes(2, bytes), std::out_of_range,
                       "Read beyond the end of the data buffer");
    EXPECT_THROW(in.read_bytes(SIZE_MAX, bytes), std::out_of_range);
    EXPECT_EQ(in.offset(), 2u);
    in.read_byte(bytes[2]);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_THROW(in.read_byte(bytes[0]), std::out_of_range);
    EXPECT_EQ(in.offset(), 3u);

    const std::vector<std::uint8_t> empty;
    kem::com::Read_buffer<std::vector<std::uint8_t>> none(empty);
    none.read_bytes(0, bytes);
    EXPECT_THROW(none.read_byte(bytes[0]), std::out_of_range);
}
