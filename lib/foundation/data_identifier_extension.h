#pragma once
// The read operation of every data identifier extension, over its service interface S:
// calls S's Read with the MetaInfo, waits for the record and appends it in UDS form.
//
//   UDSResponseCodeType read(const MetaInfo& meta, std::vector<std::uint8_t>& response) override {
//       return read_data_identifier<S>(*this, cancel_requested, meta, response); }
//
// S provides Read (with Output and response_code(const UDSServiceFailed&)) and
// UDSServiceFailed; the proxy a member Read callable with the MetaInfo.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/extension_service_callback.h"
#include "foundation/request_wait.h"
#include "foundation/response_codes.h"
#include "foundation/types.h"

namespace kem::dm::foundation::extension {

// 0 with the record appended, or 0 with the response untouched when cancelled; without a
// proxy 0x10 and nothing sent; S's UDSServiceFailed its code; any other failure 0x10.
// Lets no exception escape.
template <class S, class Proxy>
types::UDSResponseCodeType read_data_identifier(const Extension_service_callback<Proxy>& service,
                                                std::atomic<bool>& cancel_requested,
                                                const types::MetaInfo& meta,
                                                std::vector<std::uint8_t>& response) noexcept {
    clear_cancel_request(cancel_requested);
    const std::shared_ptr<Proxy> proxy = service.current_proxy();
    if (!proxy) {
        return general_reject;
    }
    try {
        auto result = proxy->Read(meta);
        append_result(result, cancel_requested, response);
        return positive_response;
    } catch (const typename S::UDSServiceFailed& failure) {
        return S::Read::response_code(failure);
    } catch (...) {
        return general_reject;
    }
}

}  // namespace kem::dm::foundation::extension
