#pragma once
// Types shared between the diagnostic manager and the extensions.

#include <cstdint>
#include <map>
#include <string>

namespace kem::dm::types {

// UDS response code: 0 is a positive response, any other value a negative response code.
using UDSResponseCodeType = std::uint8_t;

// Meta-information of one request, ordered by key.
using MetaInfo = std::map<std::string, std::string>;

}  // namespace kem::dm::types
