#pragma once
// The call trace: one JSON line per method call that a simulated application receives,
// written when the call arrives.
//
//   dmsim::Trace trace("calls.jsonl");
//   trace.record(call.service(), call.instance(), call.method_id(), call.payload());
//   // {"service":"orlak::...","instance":"diag","method":1,"request":"00000000"}

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>

#include "sim/hex.h"

namespace dmsim {

// The line for one call, without the line break; the request payload in upper-case hex.
std::string trace_line(const std::string& service, const std::string& instance,
                       std::uint16_t method, const Bytes& request);

class Trace {
  public:
    // Creates or truncates the file; throws std::runtime_error naming it when that fails.
    explicit Trace(const std::string& path);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Appends one line and flushes it. Thread-safe; write errors are ignored.
    void record(const std::string& service, const std::string& instance, std::uint16_t method,
                const Bytes& request);

  private:
    std::mutex mutex_;
    std::FILE* file_;
};

}  // namespace dmsim
