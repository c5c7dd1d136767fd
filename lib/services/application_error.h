#pragma once
// What the generated UDSServiceFailed application errors share: their error identifier,
// reading their response codes from an error payload, writing them back, and the factory
// behind the method descriptors' GetApplicationErrorExceptionPtr.
//
//   Response_codes<3> codes = read_response_codes<3>(payload);  // RequestResults, Start, Stop
//   return make_application_error<Interface::UDSServiceFailed>(error_id, payload);

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <vector>

#include "services/types.h"
#include "someip/deserializer.h"
#include "someip/serializer.h"

namespace orlak::services::diag {

// Error identifier of every UDSServiceFailed: the return code of a response that carries one.
inline constexpr std::uint8_t uds_service_failed_id = 2;

template <std::size_t N>
using Response_codes = std::array<UDSResponseCodeType, N>;

// Reads N codes in order, one byte each, with the SOME/IP single-byte read; bytes after them
// are ignored. A payload shorter than N bytes throws std::out_of_range "Read beyond the end of
// the data buffer" at the first missing byte.
template <std::size_t N>
Response_codes<N> read_response_codes(const std::vector<std::uint8_t>& payload) {
    Response_codes<N> codes{};
    kem::com::someip::serialization::Deserializer in(payload);
    for (UDSResponseCodeType& code : codes) {
        in.deserialize(code);
    }
    return codes;
}

// Appends the codes in order, one byte each: the error payload has no length field.
inline void write_response_codes(kem::com::someip::serialization::Serializer& out,
                                 std::initializer_list<UDSResponseCodeType> codes) {
    for (UDSResponseCodeType code : codes) {
        out.serialize(code);
    }
}

// `Error` read from `payload` when `error_id` is uds_service_failed_id, else empty. An
// exception of the payload read leaves this function.
template <class Error>
std::exception_ptr make_application_error(std::uint8_t error_id,
                                          const std::vector<std::uint8_t>& payload) {
    if (error_id != uds_service_failed_id) {
        return {};
    }
    return std::make_exception_ptr(Error(payload));
}

}  // namespace orlak::services::diag
