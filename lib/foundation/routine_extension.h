#pragma once
// The three sub-functions of every routine extension, over its service interface S: decode
// the request bytes into the method's input, call the method, wait for the record and
// append it in UDS form.
//
//   UDSResponseCodeType start(Bytes& request, const MetaInfo& meta, Bytes& response) override {
//       return start_routine<S>(*this, cancel_requested, request, meta, response); }
//
// Request bytes: the input parameters of the method's signature in order, integers most
// significant byte first, a fixed array byte by byte, a trailing byte sequence taking every
// remaining byte; bytes after the last fixed-width parameter are ignored. Stop and
// RequestResults take no input, so their request bytes are never looked at.
// S provides UDSServiceFailed and the methods Start (Stop, RequestResults) with Signature
// and response_code(const UDSServiceFailed&); the proxy a member of the same name for each.

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <vector>

#include "foundation/extension_service_callback.h"
#include "foundation/request_wait.h"
#include "foundation/response_codes.h"
#include "foundation/types.h"
#include "foundation/uds_codec.h"

namespace kem::dm::foundation::extension {

namespace routine_detail {

// The decoded input parameters of a method signature (MetaInfo first, then the inputs).
template <class Signature>
struct Inputs;
template <class R, class... Args>
struct Inputs<R(const types::MetaInfo&, Args...)> {
    using type = std::tuple<std::decay_t<Args>...>;
};

inline void read_input(Deserialize& in, std::vector<std::uint8_t>& rest) {
    in.deserialize_rest(rest);
}

template <class T>
void read_input(Deserialize& in, T& value) {
    in.deserialize(value);
}

// Calls `method` with a copy of the reader's MetaInfo and the inputs read in parameter
// order. Throws std::out_of_range at the first missing request byte, before sending.
template <class M, class Method>
auto call_with_request(const Method& method, Deserialize& in) {
    const types::MetaInfo meta = in.meta_info();
    typename Inputs<typename M::Signature>::type inputs;
    std::apply([&in](auto&... input) { (read_input(in, input), ...); }, inputs);
    return std::apply([&](const auto&... input) { return method(meta, input...); }, inputs);
}

// Steps shared by the three sub-functions; `method` selects the proxy's member for M.
// Only an allocation failure while copying `request` leaves it.
template <class S, class M, class Proxy, class Method>
types::UDSResponseCodeType forward(const Extension_service_callback<Proxy>& service,
                                   std::atomic<bool>& cancel_requested, Method Proxy::*method,
                                   const std::vector<std::uint8_t>& request,
                                   const types::MetaInfo& meta,
                                   std::vector<std::uint8_t>& response) {
    clear_cancel_request(cancel_requested);
    const std::shared_ptr<Proxy> proxy = service.current_proxy();
    if (!proxy) {
        return general_reject;
    }
    Deserialize in(request, meta);
    try {
        auto result = call_with_request<M>((*proxy).*method, in);
        append_result(result, cancel_requested, response);
        return positive_response;
    } catch (const std::out_of_range&) {
        return incorrect_message_length_or_invalid_format;
    } catch (const typename S::UDSServiceFailed& failure) {
        return M::response_code(failure);
    } catch (...) {
        return general_reject;
    }
}

}  // namespace routine_detail

// Each answers 0 with the output appended, or 0 with the response untouched when
// cancelled; 0x10 without a proxy (before decoding; nothing sent); 0x13 when the request
// is too short (nothing sent); the code that S's UDSServiceFailed carries for the method;
// 0x10 for any other failure. `request` is never modified.

template <class S, class Proxy>
types::UDSResponseCodeType start_routine(const Extension_service_callback<Proxy>& service,
                                         std::atomic<bool>& cancel_requested,
                                         const std::vector<std::uint8_t>& request,
                                         const types::MetaInfo& meta,
                                         std::vector<std::uint8_t>& response) {
    return routine_detail::forward<S, typename S::Start>(service, cancel_requested, &Proxy::Start,
                                                         request, meta, response);
}

template <class S, class Proxy>
types::UDSResponseCodeType stop_routine(const Extension_service_callback<Proxy>& service,
                                        std::atomic<bool>& cancel_requested,
                                        const std::vector<std::uint8_t>& request,
                                        const types::MetaInfo& meta,
                                        std::vector<std::uint8_t>& response) {
    return routine_detail::forward<S, typename S::Stop>(service, cancel_requested, &Proxy::Stop,
                                                        request, meta, response);
}

template <class S, class Proxy>
types::UDSResponseCodeType request_routine_results(const Extension_service_callback<Proxy>& service,
                                                   std::atomic<bool>& cancel_requested,
                                                   const std::vector<std::uint8_t>& request,
                                                   const types::MetaInfo& meta,
                                                   std::vector<std::uint8_t>& response) {
    return routine_detail::forward<S, typename S::RequestResults>(
        service, cancel_requested, &Proxy::RequestResults, request, meta, response);
}

}  // namespace kem::dm::foundation::extension
