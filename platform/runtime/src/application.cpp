#include "platform/runtime/application.h"

#include <stdexcept>
#include <utility>

#include "method_call.h"
#include "runtime_core.h"
#include "service_instance.h"

namespace platform::runtime {

Incoming_call::Incoming_call(std::shared_ptr<zun::com::runtime::Method_call> call)
    : call_(std::move(call)) {}
Incoming_call::Incoming_call(Incoming_call&&) noexcept = default;
Incoming_call& Incoming_call::operator=(Incoming_call&&) noexcept = default;
Incoming_call::~Incoming_call() = default;

// Calls reach an application only through the record of its offered instance.
const std::string& Incoming_call::service() const noexcept {
    return call_->target->service;
}

const std::string& Incoming_call::instance() const noexcept {
    return call_->target->instance;
}

std::uint16_t Incoming_call::method_id() const noexcept {
    return call_->method_id;
}

Bytes_view Incoming_call::payload() const noexcept {
    return call_->request();
}

bool Incoming_call::respond(std::uint8_t return_code, const std::vector<std::uint8_t>& payload) {
    if (call_ == nullptr || !call_->answer(return_code, payload)) {
        return false;
    }
    call_->target->owner->respond(call_);
    return true;
}

struct Offer::Record {
    std::shared_ptr<zun::com::runtime::Service_instance> instance;
};

Offer::Offer(std::shared_ptr<Record> record) : record_(std::move(record)) {}
Offer::Offer(Offer&&) noexcept = default;

Offer& Offer::operator=(Offer&& other) noexcept {
    if (this != &other) {
        withdraw();
        record_ = std::move(other.record_);
    }
    return *this;
}

Offer::~Offer() {
    withdraw();
}

void Offer::withdraw() {
    if (!record_) {
        return;
    }
    const auto record = std::move(record_);
    record->instance->owner->withdraw(*record->instance);
}

bool Offer::active() const noexcept {
    return record_ != nullptr &&
           record_->instance->connection->state.load(std::memory_order_acquire) ==
               kem::com::cpp_binding::Connection::available;
}

Offer offer_service(std::string service, std::string instance, Call_handler handler) {
    if (!handler) {
        throw std::invalid_argument("offer_service: empty handler");
    }
    auto runtime = detail::Runtime::instance();
    auto record = std::make_shared<Offer::Record>();
    record->instance = runtime->offer(std::move(service), std::move(instance), std::move(handler));
    return Offer(std::move(record));
}

void settle() {
    detail::Runtime::instance()->settle();
}

}  // namespace platform::runtime
