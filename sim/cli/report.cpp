#include "sim/cli/report.h"

#include <cstdio>

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

}  // namespace dmsim
