#pragma once
// dmsim's exit statuses (dmsim --help, "Exit status").

namespace dmsim::exit_status {

constexpr int answered = 0;      // every request answered (negative responses included)
constexpr int plugin = 1;        // the plug-in cannot be loaded
constexpr int usage = 2;         // usage error, bad request or profile, a bad input line
constexpr int cancelled = 3;     // a request was cancelled by --cancel-after
constexpr int write_failed = 4;  // writing standard output, the log or the trace failed

}  // namespace dmsim::exit_status
