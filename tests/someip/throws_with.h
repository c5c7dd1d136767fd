#pragma once
// Test helper: the statement throws exactly this exception type with exactly this text.
//
//   EXPECT_THROWS_WITH(in.deserialize(v), std::out_of_range, "Read beyond ...");

#include <gtest/gtest.h>

#include <string>

#define EXPECT_THROWS_WITH(statement, type, text)                       \
    do {                                                                \
        std::string throws_with_what = "<nothing thrown>";              \
        try {                                                           \
            statement;                                                  \
        } catch (const type& e) {                                       \
            throws_with_what = e.what();                                \
        } catch (const std::exception& e) {                             \
            throws_with_what = std::string("<other type> ") + e.what(); \
        }                                                               \
        EXPECT_EQ(throws_with_what, text) << #statement;                \
    } while (false)
