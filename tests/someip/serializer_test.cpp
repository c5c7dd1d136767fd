#include "someip/serializer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "someip/throws_with.h"

namespace {

namespace ser = kem::com::someip::serialization;
using Bytes = std::vector<std::uint8_t>;
using Meta = std::map<std::string, std::string>;

// Each length field size up to its largest value; one more overflows; 3 and 8 are no sizes.
TEST(Serializer, length_field_limits_and_sizes) {
    Bytes out;
    for (const auto& [size, largest] :
         {std::pair<std::uint8_t, std::uint64_t>{1, 0xFF}, {2, 0xFFFF}, {4, 0xFFFFFFFF}}) {
        ser::serialize_length_field_dispatch(size, largest, out, {});
        EXPECT_THROWS_WITH(ser::serialize_length_field_dispatch(size, largest + 1, out, {}),
                           std::overflow_error,
                           "Calculated record length does not fit into configured length field");
    }
    ser::serialize_length_field_dispatch(0, 0xFFFFFFFFFFull, out, {});  // none written
    EXPECT_EQ(out, Bytes(7, 0xFF));
    for (std::uint8_t size : {3, 8}) {
        EXPECT_THROWS_WITH(ser::serialize_length_field_dispatch(size, 0, out, {}),
                           std::invalid_argument, "Invalid value for length field size.");
    }
    EXPECT_EQ(out.size(), 7u);  // nothing appended by a failure
}

// The examples: scalars big-endian, arrays and vectors behind a 4-byte length, the MetaInfo
// first with its total length, entries in ascending key order and bytes passed unchanged.
TEST(Serializer, writes_the_method_arguments_after_the_meta_info) {
    Bytes out{0xEE};
    ser::serialize_dispatch(out, std::uint8_t{0x7F}, {});
    ser::serialize_dispatch<std::uint16_t>(out, 0x1234, {});
    ser::serialize_without_tag(out, Bytes{}, {});
    ser::serialize_dispatch(out, std::array<std::uint8_t, 3>{7, 8, 9}, {});
    EXPECT_EQ(out, (Bytes{0xEE, 0x7F, 0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 3, 7, 8, 9}));

    out.clear();
    ser::serialize_method_arguments(out, Meta{}, std::array<std::uint8_t, 3>{1, 2, 3});
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0, 0, 0, 0, 3, 1, 2, 3}));
    out.clear();
    ser::serialize_method_arguments(out, Meta{}, std::uint8_t{5}, std::uint8_t{6},
                                    std::uint16_t{0x1234});
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0, 5, 6, 0x12, 0x34}));
    out.clear();
    ser::serialize_method_arguments(out, Meta{{"a", "bc"}}, Bytes{9});
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0x0B, 0, 0, 0, 1, 'a', 0, 0, 0, 2, 'b', 'c', 0, 0, 0, 1, 9}));
    out.clear();
    ser::serialize_dispatch(out, Meta{{"\xFF", ""}, {"z", std::string("\0\xC3", 2)}, {"b", "x"}},
                            {});
    EXPECT_EQ(out, (Bytes{0, 0,   0, 30, 0, 0, 0, 1,    'b', 0, 0, 0, 1,    'x', 0, 0, 0,
                          1, 'z', 0, 0,  0, 2, 0, 0xC3, 0,   0, 0, 1, 0xFF, 0,   0, 0, 0}));
}

TEST(Serializer, missing_length_fields_are_refused) {
    ser::Serialization_properties none{};
    none.array_length_field_size = 0;
    none.string_length_field_size = 0;
    Bytes out;
    EXPECT_THROWS_WITH(ser::serialize_without_tag(out, Bytes{1}, none), std::invalid_argument,
                       "Vectors must have a length field that deserializer can also deserialize "
                       "it. Violation of PRS_SOMEIP_00376 & PRS_SOMEIP_00107!");
    EXPECT_TRUE(out.empty());
    EXPECT_THROWS_WITH(ser::serialize_dispatch(out, Meta{{"k", "vv"}}, none), std::invalid_argument,
                       "Dynamic strings must have a length field. Violation of PRS_SOMEIP_00089!");
    EXPECT_EQ(out, (Bytes{0, 0, 0, 3}));  // the total precedes the entries
}

}  // namespace
