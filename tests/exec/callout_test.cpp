#include "exec/callout.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

namespace kem::com {
namespace {

TEST(CalloutDeathTest, ReturnsResultOrReportsAndTerminates) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::function<void()> report = [] { std::fputs("exception reported\n", stderr); };
    auto owned = std::make_unique<int>(41);
    const auto add = [](std::unique_ptr<int> value, int n) { return *value + n; };
    EXPECT_EQ(apply_callout_with_on_exception(add, report, std::move(owned), 1), 42);

    EXPECT_DEATH(apply_callout_with_on_exception([] { throw std::runtime_error("x"); }, report),
                 "exception reported");
    const std::function<void(int)> empty;
    EXPECT_DEATH(apply_callout_with_on_exception(empty, report, 1), "exception reported");
}

}  // namespace
}  // namespace kem::com
