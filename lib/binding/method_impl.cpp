#include "binding/method_impl.h"

#include <future>
#include <mutex>

#include "binding/exceptions.h"

namespace kem::com::cpp_binding::proxy::detail {

void require_available(const Rport& port) {
    if (port.connection_state() != Connection::available) {
        throw Service_not_available_exception();
    }
}

void report_request(Rport& port, std::uint16_t method_id, const MetaInfo& meta) {
    report_request<>(port, method_id, meta);
}

std::shared_ptr<std::vector<std::uint8_t>> serialize_request(const MetaInfo& meta) {
    std::shared_ptr<std::vector<std::uint8_t>> buffer = get_shared_payload(0);
    someip::serialization::serialize_method_arguments(*buffer, meta);
    return buffer;
}

cpp_binding::log::incidents::Method_call_request_cancelled cancelled_incident(
    const Rport& port, std::uint16_t method_id) {
    const Service_info& info = port.service_info();
    return {service_of(info), instance_of(info), method_id};
}

Request_future send_request(Rport& port, std::uint16_t method_id,
                            std::shared_ptr<std::vector<std::uint8_t>> buffer,
                            Rport::Response_handler handler) {
    const std::uint8_t* first = buffer->data();
    const std::uint8_t* last = first + buffer->size();
    return port.call_method(method_id, Serialized_payload{0, std::move(buffer), first, last},
                            std::move(handler));
}

void install_cleanup(const std::shared_ptr<zun::com::future_detail::State>& state,
                     Request_future&& request,
                     cpp_binding::log::incidents::Method_call_request_cancelled&& cancelled,
                     kem::com::log::Generic_logger& logger) {
    if (!state) {
        throw std::future_error(std::future_errc::no_state);
    }
    // The runtime's request is ready once the runtime produced its Method_call: then the
    // caller gave up a call that had been accepted, which is no incident.
    std::function<void()> cleanup = [request = std::make_shared<Request_future>(std::move(request)),
                                     cancelled = std::move(cancelled), logger = &logger] {
        if (!request->is_ready()) {
            kem::com::log::raise_incident(*logger, cancelled);
        }
    };
    std::lock_guard<std::mutex> lock(state->mutex);
    // The replaced cleanup is destroyed before the lock is released.
    state->cleanup.swap(cleanup);
    cleanup = nullptr;
}

}  // namespace kem::com::cpp_binding::proxy::detail
