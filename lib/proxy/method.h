#pragma once
// One method member of a generated proxy: callable with the method's arguments (the
// MetaInfo first), returning the future of its result.
//
//   Method<X::Read, X::Read::Signature> Read{port()};   // the proxy's Proxy_impl
//   zun::com::Future<X::Read::Output> result = Read(meta);

#include <memory>
#include <utility>

#include "binding/method_impl.h"
#include "exec/future.h"

namespace ara::com::internal::proxy {

template <class M, class Signature>
class Method;

template <class M, class R, class... Args>
class Method<M, R(Args...)> {
  public:
    // The proxy implementation belongs to the same proxy as this member and outlives it.
    explicit Method(::kem::com::cpp_binding::proxy::Proxy_impl_base& proxy)
        : impl(std::make_unique<Impl>(proxy)) {}
    Method(const Method&) = delete;
    Method& operator=(const Method&) = delete;
    virtual ~Method() = default;

    // Throws what the call throws before sending (service not available, serialization);
    // every later outcome arrives through the future.
    ::zun::com::Future<R> operator()(Args... args) const {
        return (*impl)(std::forward<Args>(args)...);
    }

  private:
    using Impl = ::kem::com::cpp_binding::proxy::Method_impl<M, false, R(Args...)>;

    std::unique_ptr<Impl> impl;
};

}  // namespace ara::com::internal::proxy
