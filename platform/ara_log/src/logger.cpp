#include "ara/log/logger.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/ara_log/control.h"
#include "platform/ara_log/sink.h"

namespace ara::log {

namespace {

// The process-wide threshold: a level is enabled when it is neither kOff nor above it.
std::atomic<LogLevel> threshold{LogLevel::kWarn};

// Process-wide state that must survive static destruction: threads of the runtime may
// still log while the process exits. Allocated once and never freed.
struct Log_state {
    std::mutex sink_mutex;
    std::shared_ptr<platform::ara_log::Sink> sink =
        std::make_shared<platform::ara_log::Console_sink>();

    std::mutex registry_mutex;
    std::map<std::string, std::unique_ptr<Logger>, std::less<>> registry;
};

Log_state& state() {
    static Log_state* const instance = new Log_state;
    return *instance;
}

}  // namespace

Logger::Logger(std::string context_id, std::string description)
    : context_id_(std::move(context_id)), description_(std::move(description)) {}

Logger::~Logger() = default;

bool Logger::IsLogEnabled(LogLevel level) const noexcept {
    const auto limit = threshold.load(std::memory_order_relaxed);
    return level != LogLevel::kOff &&
           static_cast<std::uint8_t>(level) <= static_cast<std::uint8_t>(limit);
}

Logger& CreateLogger(const std::string& context_id, const std::string& description) {
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.registry_mutex);
    auto found = s.registry.find(context_id);
    if (found == s.registry.end()) {
        found =
            s.registry.emplace(context_id, std::make_unique<Logger>(context_id, description)).first;
    }
    return *found->second;
}

LogStream::LogStream(LogLevel level, const Logger& logger) noexcept
    : level_(level), logger_(&logger), enabled_(logger.IsLogEnabled(level)) {}

LogStream& LogStream::operator<<(const char* text) noexcept {
    if (enabled_ && text != nullptr) {
        try {
            text_ += text;
        } catch (...) {
            enabled_ = false;  // out of memory: the message is dropped
        }
    }
    return *this;
}

LogStream& LogStream::operator<<(const std::string& text) noexcept {
    return *this << text.c_str();
}

LogStream::~LogStream() {
    if (!enabled_) {
        return;
    }
    auto sink = platform::ara_log::current_sink();
    sink->write(platform::ara_log::Message{level_, logger_->ContextId(), text_});
}

}  // namespace ara::log

namespace platform::ara_log {

void set_threshold(::ara::log::LogLevel level) noexcept {
    ::ara::log::threshold.store(level, std::memory_order_relaxed);
    current_sink()->threshold_changed(level);
}

::ara::log::LogLevel threshold() noexcept {
    return ::ara::log::threshold.load(std::memory_order_relaxed);
}

std::shared_ptr<Sink> set_sink(std::shared_ptr<Sink> sink) {
    if (!sink) {
        sink = std::make_shared<Console_sink>();
    }
    sink->threshold_changed(threshold());
    auto& s = ::ara::log::state();
    std::lock_guard<std::mutex> lock(s.sink_mutex);
    std::swap(s.sink, sink);
    return sink;
}

std::shared_ptr<Sink> current_sink() {
    auto& s = ::ara::log::state();
    std::lock_guard<std::mutex> lock(s.sink_mutex);
    return s.sink;
}

}  // namespace platform::ara_log
