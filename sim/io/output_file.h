#pragma once
// A line-oriented output of the simulator (standard output, the log, the trace) that
// remembers its first failed write, so that dmsim can stop instead of losing lines.
//
//   dmsim::Output_file trace("calls.jsonl", "trace");   // throws when it cannot be created
//   trace.write_line(R"({"service":...})");
//   if (auto why = trace.failure()) { ... "calls.jsonl: No space left on device" }

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace dmsim {

class Output_file {
  public:
    // Creates or truncates `path`; throws std::runtime_error
    // ("<path>: cannot write the <what>: <reason>") when that fails.
    Output_file(const std::string& path, const std::string& what);
    // A stream that stays open and owned by the caller; `name` names it in failures.
    Output_file(std::FILE* stream, std::string name) noexcept;
    ~Output_file();
    Output_file(const Output_file&) = delete;
    Output_file& operator=(const Output_file&) = delete;

    // Writes the line and a line break and flushes them; thread-safe. After the first
    // failure nothing more is written and every call returns false.
    bool write_line(std::string_view line);

    // "<name>: <reason>" once a write has failed.
    std::optional<std::string> failure() const;

  private:
    mutable std::mutex mutex_;
    std::FILE* stream_;
    bool owned_;
    std::string name_;
    std::optional<std::string> failure_;
};

}  // namespace dmsim
