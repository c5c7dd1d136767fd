#pragma once
// The call trace: one JSON line per method call that a simulated application receives,
// written when the call arrives.
//
//   dmsim::Trace trace("calls.jsonl");
//   trace.record({call.service, call.instance, call.method_id, "Read", call.payload});
//   // {"time":"2026-01-02T03:04:05.000006Z","service":"orlak::...","instance":"diag",
//   //  "method":1,"method_name":"Read","request":"00000000"}

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/io/hex.h"
#include "sim/io/output_file.h"

namespace dmsim {

struct Traced_call {
    const std::string& service;
    const std::string& instance;
    std::uint16_t method;
    const char* method_name;  // null: a method the interface does not have
    const Bytes& request;
};

// The line for one call, without the line break; the request payload in upper-case hex.
std::string trace_line(const Traced_call& call, std::chrono::system_clock::time_point time);

class Trace {
  public:
    // Creates or truncates the file; throws std::runtime_error naming it when that fails.
    explicit Trace(const std::string& path) : file_(path, "trace") {}

    // Appends one line stamped with the current time and flushes it. Thread-safe; a failed
    // write is kept for failure() and ends the trace.
    void record(const Traced_call& call);

    std::optional<std::string> failure() const { return file_.failure(); }

  private:
    Output_file file_;
};

}  // namespace dmsim
