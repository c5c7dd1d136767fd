#pragma once
// The time stamps of log and trace lines.

#include <chrono>
#include <string>

namespace dmsim {

// UTC in ISO 8601 with microseconds: "2026-01-02T03:04:05.000006Z".
std::string utc_time(std::chrono::system_clock::time_point time);

}  // namespace dmsim
