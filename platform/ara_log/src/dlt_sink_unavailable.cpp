// The DLT sink of a build without the DLT user library (a cross build for which Debian's
// libdlt-dev of the target architecture is not installed): constructing it says so.
#include "platform/ara_log/dlt_sink.h"

#include <stdexcept>

namespace platform::ara_log {

struct Dlt_sink::State {};

Dlt_sink::Dlt_sink(const std::string&, const std::string&, const std::string&) {
    throw std::runtime_error("this build has no DLT library (libdlt-dev was not found)");
}

Dlt_sink::~Dlt_sink() = default;

std::size_t Dlt_sink::text_limit() const noexcept {
    return 0;
}

void Dlt_sink::do_write(const Message&) {}

void Dlt_sink::on_threshold(ara::log::LogLevel) {}

}  // namespace platform::ara_log
