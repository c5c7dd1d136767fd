#pragma once
// The UDS response codes that the extensions produce themselves; every other negative
// response code comes from an application through its UDSServiceFailed.
//
//   if (!proxy) return general_reject;

#include "foundation/types.h"

namespace kem::dm::foundation::extension {

inline constexpr types::UDSResponseCodeType positive_response = 0x00;
// No service found, transport failure, broken result, any other failure: generalReject.
inline constexpr types::UDSResponseCodeType general_reject = 0x10;
// Routine request bytes too short for the method's input.
inline constexpr types::UDSResponseCodeType incorrect_message_length_or_invalid_format = 0x13;

}  // namespace kem::dm::foundation::extension
