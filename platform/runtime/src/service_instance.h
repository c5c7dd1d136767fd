#pragma once
// The runtime's record of one offered instance, behind Service_handle::record(). It
// outlives its offer for as long as a handle or a port refers to it; a re-offer of the
// same service and instance is a new record with a new connection.

#include <cstdint>
#include <memory>
#include <string>

#include "binding/runtime/identity.h"
#include "binding/runtime/runtime.h"
#include "platform/runtime/application.h"

namespace platform::runtime::detail {
class Runtime;
}  // namespace platform::runtime::detail

namespace zun::com::runtime {

class Service_instance {
  public:
    using Connection = kem::com::cpp_binding::Connection;

    // Connection state once the offer has been withdrawn (2 while it is offered).
    static constexpr std::uint8_t withdrawn = 0;

    Service_instance(std::shared_ptr<platform::runtime::detail::Runtime> owner, std::string service,
                     std::string instance, platform::runtime::Call_handler handler)
        : owner(std::move(owner)),
          service(std::move(service)),
          instance(std::move(instance)),
          handler(std::move(handler)) {}

    const std::shared_ptr<platform::runtime::detail::Runtime> owner;
    const std::string service;
    const std::string instance;
    // Shared with every port built from a handle of this record.
    const std::shared_ptr<Connection> connection = std::make_shared<Connection>();

    // Guarded by the owner's mutex. `handler` is called without the lock while `handling`
    // is set, and released once the offer is withdrawn and no call is being handled.
    platform::runtime::Call_handler handler;
    bool offered = false;
    bool handling = false;
};

}  // namespace zun::com::runtime
