#include "sim/io/log_sink.h"

#include <nlohmann/json.hpp>

#include "sim/io/utc_time.h"

namespace dmsim {

std::string log_line(const platform::ara_log::Message& message, Log_format format,
                     std::chrono::system_clock::time_point time) {
    const char* level = platform::ara_log::level_name(message.level);
    if (format == Log_format::text) {
        std::string line = level;
        line += ' ';
        line += message.text;
        return line;
    }
    // The incident goes in as rendered, byte for byte; other text as a JSON string.
    const bool is_document = nlohmann::json::accept(message.text.begin(), message.text.end()) &&
                             message.text.find('\n') == std::string_view::npos;
    std::string line =
        R"({"time":")" + utc_time(time) + R"(","level":")" + level + R"(","incident":)";
    if (is_document) {
        line += message.text;
    } else {
        line += nlohmann::json(std::string(message.text))
                    .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    line += '}';
    return line;
}

void Log_sink::do_write(const platform::ara_log::Message& message) {
    file_->write_line(log_line(message, format_, std::chrono::system_clock::now()));
}

}  // namespace dmsim
