#pragma once
// The ara::com proxy of a service interface S: owns the binding's Proxy_impl of one
// found instance and offers S's static discovery operations. Generated proxy classes
// derive from it and add one Method member per method, built on port() (the Proxy_impl):
//
//   class XProxy : public Proxy<X> {
//   public:
//       explicit XProxy(Handle_type& handle) : Proxy(handle), Cancel(port()), Read(port()) {}
//       Method<X::Cancel, X::Cancel::Signature> Cancel;
//       Method<X::Read, X::Read::Signature> Read;
//   };

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/find_service_handle.h"
#include "binding/proxy_impl.h"
#include "binding/runtime/identity.h"
#include "binding/runtime/runtime.h"

namespace ara::com::internal::proxy {

namespace detail {

// Find_service_start for the discovery `handle` of `service_id` under `instance`, if
// enabled on ara::com::logger().
void report_find_service_start(const char* service_id, zun::com::runtime::Instance_id instance,
                               const ::kem::com::cpp_binding::Find_service_handle& handle);

// Find_service_stop for the discovery `handle` of `service_id`, if enabled.
void report_find_service_stop(const char* service_id,
                              const ::kem::com::cpp_binding::Find_service_handle& handle);

}  // namespace detail

template <class S>
class Proxy {
  public:
    using Handle_type = typename ::kem::com::cpp_binding::proxy::Proxy_impl<S>::Handle_type;
    using Find_service_handler = std::function<void(std::vector<Handle_type>)>;

    // Connects to the instance behind `handle`; runtime failures propagate.
    explicit Proxy(Handle_type& handle) : impl(std::make_unique<Impl>(handle)) {}
    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;
    // Calls in flight are not cancelled; their responses do not need the proxy.
    virtual ~Proxy() = default;

    // Starts the continuous search for S under the instance specifier; `handler` runs
    // once per report on the discovery's strand. Runtime failures propagate.
    static ::kem::com::cpp_binding::Find_service_handle StartFindService(
        Find_service_handler handler, std::string instance) {
        ::zun::com::runtime::Instance_id instance_id(std::move(instance));
        ::kem::com::cpp_binding::Find_service_handle handle =
            Impl::start_find_service(std::move(handler), instance_id, ::ara::com::logger());
        detail::report_find_service_start(S::service_id, std::move(instance_id), handle);
        return handle;
    }

    // Stops the search; unless called from the discovery's own handler, returns only when
    // no report is being handled or will be.
    static void StopFindService(::kem::com::cpp_binding::Find_service_handle handle) {
        detail::report_find_service_stop(S::service_id, handle);
        Impl::stop_find_service(std::move(handle));
    }

  protected:
    // The proxy implementation the Method members of the generated proxy call through
    // (they reach the required port through it).
    ::kem::com::cpp_binding::proxy::Proxy_impl_base& port() noexcept { return *impl; }

  private:
    using Impl = ::kem::com::cpp_binding::proxy::Proxy_impl<S>;

    std::unique_ptr<Impl> impl;
};

}  // namespace ara::com::internal::proxy
