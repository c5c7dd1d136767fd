#pragma once
// Where dmsim writes the platform log: standard error or a file, as text or as JSON lines,
// remembering a failed write.
//
//   auto sink = std::make_shared<dmsim::Log_sink>(
//       std::make_unique<dmsim::Output_file>("run.log", "log"), dmsim::Log_format::jsonl);
//   platform::ara_log::set_sink(sink);
//
// text:  debug {"1_incident":"Method_call_request_tx",...}
// jsonl: {"time":"2026-01-02T03:04:05.000006Z","level":"debug","incident":{"1_incident":...}}
//        A message that is not a JSON document is embedded as a string.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/ara_log/sink.h"
#include "sim/io/output_file.h"

namespace dmsim {

enum class Log_format { text, jsonl };

// The line for one message, without the line break.
std::string log_line(const platform::ara_log::Message& message, Log_format format,
                     std::chrono::system_clock::time_point time);

class Log_sink : public platform::ara_log::Sink {
  public:
    Log_sink(std::unique_ptr<Output_file> file, Log_format format)
        : file_(std::move(file)), format_(format) {}

    std::optional<std::string> failure() const { return file_->failure(); }

  protected:
    void do_write(const platform::ara_log::Message& message) override;

  private:
    std::unique_ptr<Output_file> file_;
    Log_format format_;
};

}  // namespace dmsim
