#include "sim/vehicle.h"

#include <utility>

namespace dmsim {

Vehicle::Vehicle(Vehicle_profile profile, const std::string& instance, Trace* trace)
    : profile_(std::move(profile)), trace_(trace) {
    offers_.reserve(profile_.services.size());
    for (const Service_profile& service : profile_.services) {
        if (!service.offered) {
            continue;
        }
        offers_.push_back(platform::runtime::offer_service(
            service.service->service_id, instance,
            [this, &service](platform::runtime::Incoming_call call) {
                handle(service, std::move(call));
            }));
    }
}

Vehicle::~Vehicle() {
    // Each withdrawal waits for a running handler, so no handler runs after this loop.
    for (auto& offer : offers_) {
        offer.withdraw();
    }
}

void Vehicle::handle(const Service_profile& service, platform::runtime::Incoming_call call) {
    if (trace_ != nullptr) {
        trace_->record(call.service(), call.instance(), call.method_id(), call.payload());
    }
    if (call.method_id() >= service.answers.size()) {
        return;  // no such method: an application would not know what to answer
    }
    const Answer& answer = service.answers[call.method_id()];
    if (!answer.respond) {
        return;  // the call is dropped unanswered
    }
    if (answer.delay.count() == 0) {
        call.respond(answer.return_code, answer.payload);
        return;
    }
    // Incoming_call is move-only and timer tasks are copyable: share it.
    auto held = std::make_shared<platform::runtime::Incoming_call>(std::move(call));
    timer_.schedule(Timer::Clock::now() + answer.delay,
                    [held, &answer] { held->respond(answer.return_code, answer.payload); });
}

}  // namespace dmsim
