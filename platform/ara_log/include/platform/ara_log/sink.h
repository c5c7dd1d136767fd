#pragma once
// Where the messages of the platform log go: a sink receives each emitted message.
//
//   auto file = std::make_shared<platform::ara_log::File_sink>("run.log");
//   platform::ara_log::set_sink(file);   // see control.h
//
// A sink is called from any thread that logs, possibly concurrently; subclasses
// implement the protected hook do_write and make it safe for that.

#include <cstdio>
#include <string>
#include <string_view>

#include "ara/log/logger.h"

namespace platform::ara_log {

// One emitted message; the views are valid only during the write call.
struct Message {
    ara::log::LogLevel level;
    std::string_view context_id;
    std::string_view text;
};

// "fatal", "error", "warn", "info", "debug", "verbose"; "off" for kOff and "unknown" for
// values outside the enumeration.
ARA_LOG_API const char* level_name(ara::log::LogLevel level) noexcept;

// A text line for a message: the level name, one space, the text, a line break.
ARA_LOG_API std::string format_line(const Message& message);

class ARA_LOG_API Sink {
  public:
    Sink() = default;
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;
    virtual ~Sink();

    // The only entry point, not overridable: what do_write throws is swallowed so that
    // logging never throws into the caller.
    void write(const Message& message) noexcept;

    // Called with the process-wide threshold when the sink is installed and whenever the
    // threshold changes while it is installed; exceptions of the hook are swallowed.
    void threshold_changed(ara::log::LogLevel level) noexcept;

  protected:
    virtual void do_write(const Message& message) = 0;
    // For sinks whose far end filters by level too; does nothing by default.
    virtual void on_threshold(ara::log::LogLevel level);
};

// One line per message (format_line) on a standard stream; standard error by default.
// The stream is not owned and must outlive the sink.
class ARA_LOG_API Console_sink : public Sink {
  public:
    explicit Console_sink(std::FILE* stream = stderr) noexcept : stream_(stream) {}

  protected:
    void do_write(const Message& message) override;

  private:
    std::FILE* stream_;
};

// One line per message (format_line) in a file, truncated when the sink is created and
// flushed after every line. Throws std::system_error if the file cannot be opened.
class ARA_LOG_API File_sink : public Sink {
  public:
    explicit File_sink(const std::string& path);
    ~File_sink() override;

  protected:
    void do_write(const Message& message) override;

  private:
    std::FILE* file_;
};

}  // namespace platform::ara_log
