#include "binding/response_handler.h"

#include "binding/exceptions.h"

namespace kem::com::cpp_binding::proxy::detail {

namespace {

using namespace kem::com::cpp_binding::log::incidents;

// Raises Incident with the text of `error` as data; the text is made only when the
// incident's level is enabled.
template <class Incident>
void report_error(kem::com::log::Generic_logger& logger, const Service_info& info,
                  std::uint16_t method_id, std::uint8_t code, const std::exception_ptr& error) {
    if (incident_enabled<Incident>(logger)) {
        raise_with_code<Incident>(logger, info, method_id, code, to_string(error));
    }
}

// Transport code stored for a return code the binding does not know and for a payload
// that cannot be decoded.
constexpr std::uint8_t invalid_response_code = 0x8A;

}  // namespace

std::vector<std::uint8_t> copy_payload(const Serialized_payload& payload) {
    if (payload.first == nullptr || payload.last <= payload.first) {
        return {};
    }
    return std::vector<std::uint8_t>(payload.first, payload.last);
}

zun::com::runtime::Service_id service_of(const Service_info& info) {
    return zun::com::runtime::Service_id(info.service_id);
}

zun::com::runtime::Instance_id instance_of(const Service_info& info) {
    return zun::com::runtime::Instance_id(info.instance_id);
}

std::exception_ptr undecodable(kem::com::log::Generic_logger& logger, const Service_info& info,
                               std::uint16_t method_id, std::uint8_t code,
                               const std::exception& failure) {
    raise_with_code<Method_call_deserializer_exception>(logger, info, method_id, code,
                                                        failure.what());
    return std::make_exception_ptr<Transport_exception>(Transport_exception(invalid_response_code));
}

std::exception_ptr error_outcome(kem::com::log::Generic_logger& logger, const Service_info& info,
                                 std::uint16_t method_id, std::uint8_t code,
                                 const Serialized_payload& payload,
                                 Application_error_factory factory) {
    std::exception_ptr error = factory(code, copy_payload(payload));
    if (error) {
        report_error<Method_call_response_rx>(logger, info, method_id, code, error);
        return error;
    }
    switch (code) {
        case 0x81:
        case 0x82:
        case 0x86:
            error = std::make_exception_ptr<Transport_exception>(Transport_exception(code));
            report_error<Method_call_request_err>(logger, info, method_id, code, error);
            break;
        case 0xFF:
            error = std::make_exception_ptr<Service_not_available_exception>(
                Service_not_available_exception());
            report_error<Method_call_request_err>(logger, info, method_id, code, error);
            break;
        default:
            error = std::make_exception_ptr<Transport_exception>(
                Transport_exception(invalid_response_code));
            report_error<Method_call_response_invalid_code>(logger, info, method_id, code, error);
            break;
    }
    return error;
}

void report_completion(kem::com::log::Generic_logger& logger, const Service_info& info,
                       std::uint16_t method_id) {
    raise_with_code<Method_call_response_rx>(logger, info, method_id, 0);
}

}  // namespace kem::com::cpp_binding::proxy::detail
