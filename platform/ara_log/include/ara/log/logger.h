#pragma once
// Loggers and log streams of the platform log (ara::log).
//
//   ara::log::Logger& ctx = ara::log::CreateLogger("DIAG", "diagnostic extensions");
//   ara::log::LogStream(ara::log::LogLevel::kInfo, ctx) << "text";  // emitted here
//
// Every logger follows one process-wide level threshold (default kWarn); where messages
// go is the installed sink. Both are controlled through "platform/ara_log/control.h".

#include <cstdint>
#include <string>

#define ARA_LOG_API __attribute__((visibility("default")))

namespace ara::log {

enum class LogLevel : std::uint8_t {
    kOff = 0,
    kFatal = 1,
    kError = 2,
    kWarn = 3,
    kInfo = 4,
    kDebug = 5,
    kVerbose = 6,
};

// One log context. Thread-safe; lives as long as whoever created it keeps it (the ones
// from CreateLogger live until the process ends).
class ARA_LOG_API Logger {
  public:
    Logger(std::string context_id, std::string description);
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    ~Logger();

    // True when the level is neither kOff nor above the process-wide threshold. One
    // relaxed atomic load; sits on the request path. Out of line, as on the platform: the
    // threshold is the library's own state.
    bool IsLogEnabled(LogLevel level) const noexcept;

    const std::string& ContextId() const noexcept { return context_id_; }
    const std::string& Description() const noexcept { return description_; }

  private:
    std::string context_id_;
    std::string description_;
};

// The logger of a context: created on the first call for that identifier, the same
// object on every later call (the description of the first call stays).
ARA_LOG_API Logger& CreateLogger(const std::string& context_id, const std::string& description);

// One message: collects what is streamed into it and emits it when destroyed, if its
// level is enabled at construction. Never throws; a message that cannot be stored is
// dropped.
class ARA_LOG_API LogStream {
  public:
    LogStream(LogLevel level, const Logger& logger) noexcept;
    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;
    ~LogStream();

    // A null pointer adds nothing.
    LogStream& operator<<(const char* text) noexcept;
    LogStream& operator<<(const std::string& text) noexcept;

  private:
    LogLevel level_;
    const Logger* logger_;
    bool enabled_;
    std::string text_;
};

}  // namespace ara::log
