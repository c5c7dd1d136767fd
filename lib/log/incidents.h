#pragma once
// Incident records: what the communication stack reports to the platform log. Each is a
// plain aggregate, filled at the raising site and rendered as one JSON line
// (json_rendering.h) at the fixed level of its `level` member.
//
//   kem::com::cpp_binding::log::incidents::Method_call_request_tx incident{service, instance, 1};
//   kem::com::log::raise_incident(logger, incident, meta);   // raise_incident.h

#include <cstdint>

#include "ara/log/logger.h"
#include "binding/runtime/identity.h"

namespace ara::com::log::incidents {

// Discovery started by the front-end; extra data: the find-service handle number.
struct Find_service_start {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kInfo;
    zun::com::runtime::Service_id_literal service_id;
    zun::com::runtime::Instance_id instance_id;
};

// Discovery stopped by the front-end; extra data: the find-service handle number.
struct Find_service_stop {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kInfo;
    zun::com::runtime::Service_id_literal service_id;
};

}  // namespace ara::com::log::incidents

namespace kem::com::cpp_binding::log::incidents {

// A discovery report reached the handler; extra data: the handles found.
struct Find_service_result {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kInfo;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
};

// A discovery handler overran its deadline; `time` is the elapsed time it took.
struct Find_service_handler_performance {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kWarn;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    std::uint64_t time;
};

struct Find_service_handler_exception {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kFatal;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
};

// Raised with both flags true.
struct Service_proxy_constructed {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kInfo;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    bool struct4bytes;
    bool utf8simple;
};

// The server-side counterpart; never raised by the plug-in. Renders exactly as
// Service_proxy_constructed, "1_id" included.
struct Service_skeleton_constructed {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kInfo;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    bool struct4bytes;
    bool utf8simple;
};

// A request is about to be sent; extra data: the MetaInfo and the input arguments.
struct Method_call_request_tx {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kDebug;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    std::uint16_t method_id;
};

// A future was dropped before the runtime accepted its request.
struct Method_call_request_cancelled {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kInfo;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    std::uint16_t method_id;
};

// A transport failure or an unavailable service (error_code 0x81, 0x82, 0x86, 0xFF).
struct Method_call_request_err {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kError;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    std::uint16_t method_id;
    std::uint8_t error_code;
};

// A result (error_code 0) or an application error arrived; both at kDebug.
struct Method_call_response_rx {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kDebug;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    std::uint16_t method_id;
    std::uint8_t error_code;
};

// A return code that is neither a result, an application error nor a transport code.
struct Method_call_response_invalid_code {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kError;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    std::uint16_t method_id;
    std::uint8_t error_code;
};

// Decoding a response failed; extra data: the decoder's message.
struct Method_call_deserializer_exception {
    static constexpr ::ara::log::LogLevel level = ::ara::log::LogLevel::kError;
    zun::com::runtime::Service_id service_id;
    zun::com::runtime::Instance_id instance_id;
    std::uint16_t method_id;
    std::uint8_t error_code;
};

}  // namespace kem::com::cpp_binding::log::incidents
