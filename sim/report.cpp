#include "sim/report.h"

#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

namespace dmsim {

namespace {

// Input lines come from outside: replace what is not UTF-8 instead of failing.
std::string dump(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string text_line(const Bytes& request, const Outcome& outcome) {
    return to_hex(request, ' ') + " -> " +
           (outcome.cancelled    ? std::string("cancelled, no response")
            : outcome.suppressed ? std::string("suppressed")
                                 : to_hex(outcome.response, ' '));
}

std::string json_line(const Bytes& request, const Outcome& outcome,
                      std::chrono::microseconds elapsed) {
    nlohmann::ordered_json line;
    line["request"] = to_hex(request);
    if (outcome.cancelled) {
        line["cancelled"] = true;
    } else {
        line["response"] = to_hex(outcome.response);
    }
    if (outcome.suppressed) {
        line["suppressed"] = true;
    }
    if (outcome.pending > 0) {
        line["pending"] = outcome.pending;
    }
    line["elapsed_us"] = elapsed.count();
    return dump(line);
}

std::string text_error_line(const std::string& line, const std::string& message) {
    return line + " -> error: " + message;
}

std::string json_error_line(const std::string& line, const std::string& message) {
    nlohmann::ordered_json object;
    object["request"] = line;
    object["error"] = message;
    return dump(object);
}

std::string utc_time(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto since_epoch = duration_cast<microseconds>(time.time_since_epoch());
    auto seconds = duration_cast<std::chrono::seconds>(since_epoch);
    auto micros = since_epoch - seconds;
    if (micros.count() < 0) {  // before 1970: the fraction counts forward from a second
        seconds -= std::chrono::seconds(1);
        micros += std::chrono::seconds(1);
    }
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long>(micros.count()));
    return text;
}

}  // namespace dmsim
