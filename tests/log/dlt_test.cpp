#include "log/dlt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "log/incidents.h"
#include "support/log_capture.h"

// The level of each incident is checked where the binding raises it, and the text of each
// incident with the rendering.

namespace {

using ara::log::LogLevel;
using kem::com::log::target::Dlt;
using Response = kem::com::cpp_binding::log::incidents::Method_call_response_rx;

const Response response{zun::com::runtime::Service_id{"S"}, zun::com::runtime::Instance_id{"I"}, 1,
                        0};

// Counts how often the text of a record is built.
int record_renderings = 0;
struct Counting_record {
    std::uint8_t value = 7;
    template <class F>
    void visit(F& f) {
        ++record_renderings;
        f(value);
    }
};

struct Failing_record {
    template <class F>
    void visit(F&) {
        throw std::runtime_error("broken record");
    }
};

// A target that overrides the two hooks sees exactly what the raising steps hand it.
struct Recording_target : Dlt {
    using Dlt::Dlt;
    bool enabled = true;
    std::vector<std::pair<std::string, LogLevel>> calls;
    bool is_log_enabled(LogLevel) override { return enabled; }
    void trace_impl(const std::string& text, LogLevel level) override {
        calls.emplace_back(text, level);
    }
};

// A line is rendered only when its level is enabled; a rendering that fails hands an empty
// text to the target, which writes nothing.
TEST(Dlt, disabled_levels_render_nothing_and_failed_renderings_write_nothing) {
    support::Log_capture capture(LogLevel::kInfo);
    ara::log::Logger logger{"TEST", "dlt"};
    Dlt dlt{logger};
    record_renderings = 0;
    dlt.trace(response, Counting_record{});
    EXPECT_EQ(record_renderings, 0);
    EXPECT_EQ(capture.sink().size(), 0u);
    platform::ara_log::set_threshold(LogLevel::kDebug);
    dlt.trace(response, Counting_record{});
    EXPECT_EQ(record_renderings, 1);
    EXPECT_EQ(capture.sink().size(), 1u);

    dlt.trace(response, Failing_record{});
    EXPECT_EQ(capture.sink().size(), 1u);

    Recording_target target(logger);
    target.trace(response, Failing_record{});
    EXPECT_EQ(target.calls, (decltype(target.calls){{"", LogLevel::kDebug}}));
    target.enabled = false;
    target.trace(response, Counting_record{});
    EXPECT_EQ(target.calls.size(), 1u);
    EXPECT_EQ(record_renderings, 1);
}

}  // namespace
