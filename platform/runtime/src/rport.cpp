#include <functional>
#include <stdexcept>
#include <utility>

#include "binding/runtime/runtime.h"
#include "method_call.h"
#include "runtime_core.h"
#include "service_instance.h"

namespace kem::com::cpp_binding {
namespace {

// The request bytes [first, last) must lie inside the buffer when there is one.
void check_request(const Serialized_payload& payload) {
    if (payload.first == nullptr && payload.last == nullptr) {
        return;
    }
    const std::less<const std::uint8_t*> before;
    if (payload.first == nullptr || payload.last == nullptr ||
        before(payload.last, payload.first)) {
        throw std::invalid_argument("call_method: payload range is not a range");
    }
    if (payload.buffer) {
        const std::uint8_t* begin = payload.buffer->data();
        const std::uint8_t* end = begin + payload.buffer->size();
        if (before(payload.first, begin) || before(end, payload.last)) {
            throw std::invalid_argument("call_method: payload range outside its buffer");
        }
    }
}

std::shared_ptr<Connection> connection_of(const zun::com::runtime::Service_handle& handle) {
    if (const auto& record = handle.record()) {
        return record->connection;
    }
    return std::make_shared<Connection>();  // no instance behind it: never available
}

}  // namespace

Port_link::~Port_link() = default;

namespace proxy {

// The description (method count) is not checked against the calls: the application
// answers whatever method id it receives.
Rport::Rport(const zun::com::runtime::Service_handle& handle,
             const connector::Service_interface_description& /*description*/)
    : Port_link(
          Service_info{handle.get_service_id().to_string(), handle.get_instance_id().to_string()}),
      handle_(handle),
      logger_(&ara::com::logger()),
      connection_(connection_of(handle)) {}

Rport::~Rport() = default;

zun::com::Future<std::shared_ptr<zun::com::runtime::Method_call>> Rport::call_method(
    std::uint16_t method_id, Serialized_payload payload, Response_handler handler) {
    if (!handler) {
        throw std::invalid_argument("call_method: empty response handler");
    }
    check_request(payload);
    const auto& target = handle_.record();
    auto* runtime =
        target ? target->owner.get() : platform::runtime::detail::Runtime::instance().get();
    return runtime->send(std::make_shared<zun::com::runtime::Method_call>(
        target, method_id, std::move(payload), std::move(handler)));
}

}  // namespace proxy
}  // namespace kem::com::cpp_binding
