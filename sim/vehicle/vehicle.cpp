#include "sim/vehicle/vehicle.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace dmsim {

Vehicle::Vehicle(Vehicle_profile profile, const std::string& instance, Trace* trace)
    : trace_(trace) {
    applications_.reserve(profile.services.size());
    for (const Service_profile& service : profile.services) {
        if (!service.offered) {
            continue;
        }
        // Offered at once; nothing calls it before the vehicle is complete.
        auto& app = *applications_.emplace_back(std::make_unique<host::Simulated_application>(
            service.service->service_id, instance, host::Simulated_application::Recording::none));
        app.drop_others();  // no such method: an application would not know what to answer
        for (std::size_t index = 0; index < service.answers.size(); ++index) {
            const Answer& answer = service.answers[index];
            const auto method = static_cast<std::uint16_t>(index);
            if (answer.respond) {
                app.answer(method, answer.return_code, answer.payload, answer.delay);
            } else {
                app.drop(method);
            }
        }
        app.set_scheduler([this](std::chrono::milliseconds delay, std::function<void()> task) {
            timer_.schedule(Timer::Clock::now() + delay, std::move(task));
        });
        if (trace_ != nullptr) {
            const Service_info* info = service.service;
            app.set_observer([this, info](const host::Received_call& call) {
                const Method_info* method = info->method(call.method_id);
                trace_->record({call.service, call.instance, call.method_id,
                                method != nullptr ? method->name : nullptr, call.payload});
            });
        }
    }
}

Vehicle::~Vehicle() {
    // Each withdrawal waits for a running handler, so no handler runs after this loop.
    for (auto& app : applications_) {
        app->withdraw();
    }
}

}  // namespace dmsim
