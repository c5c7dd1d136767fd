#pragma once
// Where dmsim writes: standard output, the log and the trace.

#include <memory>
#include <optional>
#include <string>

#include "sim/io/log_sink.h"
#include "sim/io/output_file.h"
#include "sim/io/trace.h"

namespace dmsim {

// Where dmsim writes; a failed write to any of them ends the run (exit status 4).
struct Outputs {
    Output_file out{stdout, "standard output"};
    std::shared_ptr<Log_sink> log;  // null with --log dlt
    std::unique_ptr<Trace> trace;

    std::optional<std::string> failure() const {
        if (auto failed = out.failure()) {
            return failed;
        }
        if (log) {
            if (auto failed = log->failure()) {
                return failed;
            }
        }
        return trace ? trace->failure() : std::nullopt;
    }
};

}  // namespace dmsim
