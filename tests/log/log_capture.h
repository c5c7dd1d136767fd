#pragma once
// Test helper: records what the platform log emits while it is alive.
//
//   Log_capture capture(ara::log::LogLevel::kDebug);
//   ...  EXPECT_EQ(capture.sink().texts(), expected);

#include <memory>

#include "platform/ara_log/control.h"
#include "platform/ara_log/recording_sink.h"

namespace diag_test {

// Installs a recording sink and a threshold; puts the previous ones back on destruction.
class Log_capture {
  public:
    explicit Log_capture(ara::log::LogLevel threshold)
        : sink_(std::make_shared<platform::ara_log::Recording_sink>()),
          previous_sink_(platform::ara_log::set_sink(sink_)),
          previous_threshold_(platform::ara_log::threshold()) {
        platform::ara_log::set_threshold(threshold);
    }
    Log_capture(const Log_capture&) = delete;
    Log_capture& operator=(const Log_capture&) = delete;
    ~Log_capture() {
        platform::ara_log::set_threshold(previous_threshold_);
        platform::ara_log::set_sink(previous_sink_);
    }

    platform::ara_log::Recording_sink& sink() { return *sink_; }

  private:
    std::shared_ptr<platform::ara_log::Recording_sink> sink_;
    std::shared_ptr<platform::ara_log::Sink> previous_sink_;
    ara::log::LogLevel previous_threshold_;
};

}  // namespace diag_test
