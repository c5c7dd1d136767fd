#pragma once
// Controls of the platform log for tests and the simulator: the process-wide level
// threshold and the sink that receives emitted messages.
//
//   platform::ara_log::set_threshold(ara::log::LogLevel::kDebug);
//   auto previous = platform::ara_log::set_sink(std::make_shared<Recording_sink>());

#include <memory>

#include "ara/log/logger.h"
#include "platform/ara_log/sink.h"

namespace platform::ara_log {

// Threshold of every logger (default kWarn); kOff disables everything. Atomic, takes
// effect for checks made after the call.
ARA_LOG_API void set_threshold(ara::log::LogLevel level) noexcept;
ARA_LOG_API ara::log::LogLevel threshold() noexcept;

// Installs the sink for all later messages and returns the one it replaces; null installs
// the default console sink (standard error). Safe against concurrent logging: a message
// being emitted during the swap goes wholly to the old or wholly to the new sink, and a
// replaced sink stays alive until its last write has returned.
ARA_LOG_API std::shared_ptr<Sink> set_sink(std::shared_ptr<Sink> sink);
ARA_LOG_API std::shared_ptr<Sink> current_sink();

}  // namespace platform::ara_log
