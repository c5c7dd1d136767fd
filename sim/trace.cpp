#include "sim/trace.h"

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

namespace dmsim {

std::string trace_line(const std::string& service, const std::string& instance,
                       std::uint16_t method, const Bytes& request) {
    nlohmann::ordered_json line;
    line["service"] = service;
    line["instance"] = instance;
    line["method"] = method;
    line["request"] = to_hex(request);
    // Service and instance names come from outside: replace what is not UTF-8.
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Trace::Trace(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {
    if (file_ == nullptr) {
        throw std::runtime_error(path + ": cannot write the trace: " + std::strerror(errno));
    }
}

Trace::~Trace() {
    std::fclose(file_);
}

void Trace::record(const std::string& service, const std::string& instance, std::uint16_t method,
                   const Bytes& request) {
    const std::string line = trace_line(service, instance, method, request) + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace dmsim
