#include "platform/ara_log/sink.h"

#include <cerrno>
#include <system_error>

namespace platform::ara_log {

const char* level_name(ara::log::LogLevel level) noexcept {
    switch (level) {
        case ara::log::LogLevel::kOff:
            return "off";
        case ara::log::LogLevel::kFatal:
            return "fatal";
        case ara::log::LogLevel::kError:
            return "error";
        case ara::log::LogLevel::kWarn:
            return "warn";
        case ara::log::LogLevel::kInfo:
            return "info";
        case ara::log::LogLevel::kDebug:
            return "debug";
        case ara::log::LogLevel::kVerbose:
            return "verbose";
    }
    return "unknown";
}

std::string format_line(const Message& message) {
    std::string line = level_name(message.level);
    line.reserve(line.size() + 2 + message.text.size());
    line += ' ';
    line += message.text;
    line += '\n';
    return line;
}

Sink::~Sink() = default;

void Sink::write(const Message& message) noexcept {
    try {
        do_write(message);
    } catch (...) {
        // A sink that fails loses the message; logging never fails its caller.
    }
}

void Sink::threshold_changed(ara::log::LogLevel level) noexcept {
    try {
        on_threshold(level);
    } catch (...) {
        // The threshold still applies on this side.
    }
}

void Sink::on_threshold(ara::log::LogLevel) {}

// One fwrite per line: stdio locks the stream per call, so lines never interleave.
void Console_sink::do_write(const Message& message) {
    const auto line = format_line(message);
    std::fwrite(line.data(), 1, line.size(), stream_);
}

File_sink::File_sink(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {
    if (file_ == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot open log file " + path);
    }
}

File_sink::~File_sink() {
    std::fclose(file_);
}

void File_sink::do_write(const Message& message) {
    const auto line = format_line(message);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace platform::ara_log
