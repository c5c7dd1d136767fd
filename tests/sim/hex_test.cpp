#include "sim/io/hex.h"

#include <gtest/gtest.h>

namespace dmsim {
namespace {

TEST(Hex, ReadsAndWritesBytesWithOrWithoutBlanks) {
    const Bytes expected{0x22, 0xF1, 0x90};
    EXPECT_EQ(to_hex({0x62, 0xF1, 0x0a}), "62F10A");
    EXPECT_EQ(to_hex({0x62, 0xF1, 0x0a}, ' '), "62 F1 0A");
    EXPECT_EQ(parse_hex("22F190"), expected);
    EXPECT_EQ(parse_hex("22 f1 90"), expected);
    EXPECT_EQ(parse_hex(" \t22  F1\t90  "), expected);
    EXPECT_TRUE(parse_hex("").empty());
    EXPECT_TRUE(parse_hex("   ").empty());
}

TEST(Hex, RejectsEverythingElseNamingThePosition) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"22F19", "odd number of hexadecimal digits"},
        {"2 2", "position 2: a space splits a byte"},
        {"22G190", "position 3: 'G' is not a hexadecimal digit"},
        {"0x22", "position 2: 'x' is not a hexadecimal digit"},
        {"22,F1", "position 3: ',' is not a hexadecimal digit"},
        {"22\n", "position 3: byte 0x0A is not a hexadecimal digit"},
        {"\xC3\xA4", "position 1: byte 0xC3 is not a hexadecimal digit"},
    };
    for (const Case& c : cases) {
        try {
            parse_hex(c.text);
            ADD_FAILURE() << "accepted " << c.text;
        } catch (const Hex_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace dmsim
