#pragma once
// The log target of the communication stack: writes incident texts to one ara::log
// logger at the incident's level.
//
//   kem::com::log::target::Dlt dlt{ara::log::CreateLogger("ACOM", "communication")};
//   dlt.trace(incident, extra_data...);   // checks the level first, renders only if enabled
//
// Shared by the runtime (which creates the targets) and the plug-in (which calls them),
// so it is header-only. Keeps no state between calls; callable from any thread.

#include <cstdint>
#include <string>

#include "ara/log/logger.h"
#include "log/json_rendering.h"

namespace kem::com::log::target {

class Dlt {
  public:
    // The logger is not owned and must outlive the target.
    explicit Dlt(::ara::log::Logger& logger) noexcept : logger_(&logger) {}
    Dlt(const Dlt&) = delete;
    Dlt& operator=(const Dlt&) = delete;
    virtual ~Dlt() = default;

    // Overrides must not throw: a throwing target terminates the raising site.
    virtual bool is_log_enabled(::ara::log::LogLevel level) { return logger_->IsLogEnabled(level); }

    // Writes one message holding the text; an empty text writes nothing. Levels outside
    // kFatal..kVerbose (kOff included) are written at kDebug.
    virtual void trace_impl(const std::string& text, ::ara::log::LogLevel level) {
        if (text.empty()) {
            return;
        }
        ::ara::log::LogStream stream(written_level(level), *logger_);
        stream << text.c_str();
    }

    // Raises an incident: nothing is rendered unless Incident::level is enabled.
    template <class Incident, class... Args>
    void trace(const Incident& incident, const Args&... args) noexcept {
        if (!is_log_enabled(Incident::level)) {
            return;
        }
        std::uint32_t counter = 1;
        trace_impl(::kem::com::json::serialization::detail::Serialization_helper::serialize(
                       counter, incident, args...),
                   Incident::level);
    }

    ::ara::log::Logger& logger() const noexcept { return *logger_; }

    static constexpr ::ara::log::LogLevel written_level(::ara::log::LogLevel level) noexcept {
        switch (level) {
            case ::ara::log::LogLevel::kFatal:
            case ::ara::log::LogLevel::kError:
            case ::ara::log::LogLevel::kWarn:
            case ::ara::log::LogLevel::kInfo:
            case ::ara::log::LogLevel::kDebug:
            case ::ara::log::LogLevel::kVerbose:
                return level;
            default:
                return ::ara::log::LogLevel::kDebug;
        }
    }

  private:
    ::ara::log::Logger* logger_;
};

}  // namespace kem::com::log::target
