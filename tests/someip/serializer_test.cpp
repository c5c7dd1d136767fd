#include "someip/serializer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "someip/throws_with.h"

namespace ser = kem::com::someip::serialization;
using Bytes = std::vector<std::uint8_t>;
using Meta = std::map<std::string, std::string>;

namespace {
const char* const kOverflow = "Calculated record length does not fit into configured length field";
}  // namespace

TEST(SerializerTest, LengthFieldLimitsAndSizes) {
    Bytes out;
    ser::serialize_length_field_dispatch(0, 0xFFFFFFFFFFull, out, {});
    ser::serialize_length_field_dispatch(1, 255, out, {});
    ser::serialize_length_field_dispatch(2, 65535, out, {});
    ser::serialize_length_field_dispatch(4, 0xFFFFFFFFu, out, {});
    EXPECT_EQ(out, Bytes(7, 0xFF));
    EXPECT_THROWS_WITH(ser::serialize_length_field_dispatch(1, 256, out, {}), std::overflow_error,
                       kOverflow);
    EXPECT_THROWS_WITH(ser::serialize_length_field_dispatch(2, 65536, out, {}), std::overflow_error,
                       kOverflow);
    EXPECT_THROWS_WITH(ser::serialize_length_field_dispatch(4, 0x100000000ull, out, {}),
                       std::overflow_error, kOverflow);
    EXPECT_THROWS_WITH(ser::serialize_length_field_dispatch(3, 0, out, {}), std::invalid_argument,
                       "Invalid value for length field size.");
    EXPECT_THROWS_WITH(ser::serialize_length_field_dispatch(8, 0, out, {}), std::invalid_argument,
                       "Invalid value for length field size.");
    EXPECT_EQ(out.size(), 7u);  // nothing appended by a failure
}

TEST(SerializerTest, ScalarsVectorsArraysInBothByteOrders) {
    ser::Serialization_properties little{};
    little.byte_order = 1234;
    Bytes out{0xEE};
    ser::serialize_dispatch(out, std::uint8_t{0x7F}, {});
    ser::serialize_dispatch<std::uint16_t>(out, 0x1234, {});
    ser::serialize_dispatch(out, std::uint32_t{0x0A0B0C0D}, {});
    ser::serialize_without_tag(out, Bytes{}, {});
    ser::serialize_dispatch(out, std::array<std::uint8_t, 3>{7, 8, 9}, {});
    ser::serialize_dispatch<std::uint16_t>(out, 0x1234, little);
    ser::serialize_without_tag(out, Bytes(11, 0), little);
    EXPECT_EQ(
        out, (Bytes{0xEE, 0x7F, 0x12, 0x34, 0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 0, 0, 0, 0, 3, 7, 8,
                    9,    0x34, 0x12, 0x0B, 0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    ser::Serialization_properties one{};
    one.array_length_field_size = 1;
    out.clear();
    ser::serialize_without_tag(out, Bytes(255, 0x5A), one);
    EXPECT_EQ(out.size(), 256u);
    EXPECT_THROWS_WITH(ser::serialize_without_tag(out, Bytes(256, 0), one), std::overflow_error,
                       kOverflow);

    ser::Serialization_properties none{};
    none.array_length_field_size = 0;
    out.clear();
    EXPECT_THROWS_WITH(ser::serialize_without_tag(out, Bytes{1}, none), std::invalid_argument,
                       "Vectors must have a length field that deserializer can also deserialize "
                       "it. Violation of PRS_SOMEIP_00376 & PRS_SOMEIP_00107!");
    EXPECT_TRUE(out.empty());
}

TEST(SerializerTest, MetaInfoMap) {
    Bytes out;
    ser::serialize_dispatch(out, Meta{{"a", "bc"}}, {});
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0x0B, 0, 0, 0, 1, 'a', 0, 0, 0, 2, 'b', 'c'}));
    out.clear();
    ser::serialize_dispatch(out, Meta{}, {});
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0}));

    // Ascending byte-wise key order; zero and non-ASCII bytes pass unchanged.
    Meta meta;
    meta["\xFF"] = "";
    meta["z"] = std::string("\0\xC3", 2);
    meta["b"] = "x";
    out.clear();
    ser::serialize_dispatch(out, meta, {});
    EXPECT_EQ(out, (Bytes{0, 0,   0, 30, 0, 0, 0, 1,    'b', 0, 0, 0, 1,    'x', 0, 0, 0,
                          1, 'z', 0, 0,  0, 2, 0, 0xC3, 0,   0, 0, 1, 0xFF, 0,   0, 0, 0}));

    ser::Serialization_properties none{};
    none.string_length_field_size = 0;
    out.clear();
    EXPECT_THROWS_WITH(ser::serialize_dispatch(out, Meta{{"k", "vv"}}, none), std::invalid_argument,
                       "Dynamic strings must have a length field. Violation of PRS_SOMEIP_00089!");
    EXPECT_EQ(out, (Bytes{0, 0, 0, 3}));  // the total precedes the entries
}

TEST(SerializerTest, MethodArgumentsFollowTheMetaInfo) {
    Bytes out;
    ser::serialize_method_arguments(out, Meta{}, std::array<std::uint8_t, 3>{1, 2, 3});
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0, 0, 0, 0, 3, 1, 2, 3}));
    out.clear();
    ser::serialize_method_arguments(out, Meta{}, std::uint8_t{5}, std::uint8_t{6},
                                    std::uint16_t{0x1234});
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0, 5, 6, 0x12, 0x34}));
    out.clear();
    ser::serialize_method_arguments(out, Meta{{"a", "bc"}}, Bytes{9});
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0x0B, 0, 0, 0, 1, 'a', 0, 0, 0, 2, 'b', 'c', 0, 0, 0, 1, 9}));

    ser::Serializer s(out);
    s.serialize(std::uint8_t{0x78});
    EXPECT_EQ(out.back(), 0x78);
}
