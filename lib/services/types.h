#pragma once
// The vocabulary of the generated service code: the diagnostic manager's types, visible
// unqualified in orlak::services::diag and so in every interface namespace below it.
//
//   namespace orlak::services::diag::d_0102 {
//   using Signature = void(const MetaInfo&);  // kem::dm::types::MetaInfo

#include "foundation/types.h"

namespace orlak::services::diag {

using kem::dm::types::MetaInfo;
using kem::dm::types::UDSResponseCodeType;

}  // namespace orlak::services::diag
