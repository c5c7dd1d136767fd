#pragma once
// The UDS response codes that the plug-in produces itself. Every other negative response
// code comes from an application, carried by its UDSServiceFailed.
//
//   if (!proxy) return general_reject;

#include "services/types.h"

namespace orlak::services::diag {

inline constexpr UDSResponseCodeType positive_response = 0x00;
// No service found, transport failure, broken result: ISO 14229 generalReject.
inline constexpr UDSResponseCodeType general_reject = 0x10;
// Routine request bytes too short for the Start parameters.
inline constexpr UDSResponseCodeType incorrect_message_length_or_invalid_format = 0x13;

}  // namespace orlak::services::diag
