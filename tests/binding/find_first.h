#pragma once
// The handle of the first offered instance of S under `instance`, as the binding's discovery
// reports it; the discovery is stopped before returning.
//
//   Proxy_impl<S> impl(find_first<S>("diag"));

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/proxy_impl.h"

namespace binding_test {

template <class S>
typename kem::com::cpp_binding::proxy::Proxy_impl<S>::Handle_type find_first(
    const std::string& instance) {
    using Impl = kem::com::cpp_binding::proxy::Proxy_impl<S>;
    std::promise<typename Impl::Handle_type> found;
    bool done = false;  // touched only by the handler, which runs on the strand
    auto handle = Impl::start_find_service(
        [&found, &done](std::vector<typename Impl::Handle_type> handles) {
            if (!done && !handles.empty()) {
                done = true;
                found.set_value(handles.front());
            }
        },
        zun::com::runtime::Instance_id(instance), ara::com::logger());
    auto result = found.get_future();
    const bool ready = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    Impl::stop_find_service(handle);
    if (!ready) {
        throw std::runtime_error("no instance of the service was found");
    }
    return result.get();
}

}  // namespace binding_test
