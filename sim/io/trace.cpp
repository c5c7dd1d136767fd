#include "sim/io/trace.h"

#include <nlohmann/json.hpp>

#include "sim/io/utc_time.h"

namespace dmsim {

std::string trace_line(const Traced_call& call, std::chrono::system_clock::time_point time) {
    nlohmann::ordered_json line;
    line["time"] = utc_time(time);
    line["service"] = call.service;
    line["instance"] = call.instance;
    line["method"] = call.method;
    line["method_name"] = call.method_name != nullptr ? nlohmann::ordered_json(call.method_name)
                                                      : nlohmann::ordered_json(nullptr);
    line["request"] = to_hex(call.request);
    // Service and instance names come from outside: replace what is not UTF-8.
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void Trace::record(const Traced_call& call) {
    file_.write_line(trace_line(call, std::chrono::system_clock::now()));
}

}  // namespace dmsim
