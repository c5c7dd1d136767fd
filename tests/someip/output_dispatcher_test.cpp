#include "binding/output_dispatcher.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

using kem::com::cpp_binding::proxy::Method_output_deserialization_dispatcher;
using kem::com::someip::serialization::Deserializer;

namespace {

// Shape of a data-block record: u8, u16, u8[12], u32, bytes.
struct Block_description {
    std::uint8_t kind = 0;
    std::uint16_t block = 0;
    std::array<std::uint8_t, 12> name{};
    std::uint32_t size = 0;
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

using Dispatcher = Method_output_deserialization_dispatcher<Block_description, false>;

}  // namespace

TEST(OutputDispatcherTest, ReadsMembersInOrderAndIgnoresSurplus) {
    std::vector<std::uint8_t> payload{0x05, 0x01, 0x02, 0, 0, 0, 0x0C};
    for (std::uint8_t c = 0x41; c <= 0x4C; ++c) {
        payload.push_back(c);
    }
    payload.insert(payload.end(), {0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 1, 0x77, 0x99});
    Deserializer in(payload);
    Block_description out;
    Dispatcher::deserialize(in, out);
    EXPECT_EQ(out.kind, 0x05);
    EXPECT_EQ(out.block, 0x0102);
    EXPECT_EQ(out.name.front(), 0x41);
    EXPECT_EQ(out.name.back(), 0x4C);
    EXPECT_EQ(out.size, 0x0A0B0C0Du);
    EXPECT_EQ(out.data, std::vector<std::uint8_t>{0x77});

    // One byte too short: the members before the failure keep their values.
    payload.resize(7);
    Deserializer short_in(payload);
    Block_description partial;
    EXPECT_THROW(Dispatcher::deserialize(short_in, partial), std::out_of_range);
    EXPECT_EQ(partial.block, 0x0102);
}
