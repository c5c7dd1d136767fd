#pragma once
// A sink for tests: keeps every message in memory, in the order of emission.
//
//   auto sink = std::make_shared<platform::ara_log::Recording_sink>();
//   auto previous = platform::ara_log::set_sink(sink);  ...  sink->texts()

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ara_log/sink.h"

namespace platform::ara_log {

class ARA_LOG_API Recording_sink : public Sink {
  public:
    struct Record {
        ara::log::LogLevel level;
        std::string context_id;
        std::string text;
    };

    // Snapshots; thread-safe against concurrent writes.
    std::vector<Record> records() const;
    std::vector<std::string> texts() const;
    // format_line of every message, without the line breaks.
    std::vector<std::string> lines() const;
    std::size_t size() const;
    void clear();

  protected:
    void do_write(const Message& message) override;

  private:
    mutable std::mutex mutex_;
    std::vector<Record> records_;
};

}  // namespace platform::ara_log
