#pragma once
// The runtime's record of one offered instance, behind Service_handle::record(). It
// outlives its offer for as long as a handle or a port refers to it; a re-offer of the
// same service and instance is a new record with a new connection.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding/runtime/identity.h"
#include "binding/runtime/runtime.h"
#include "platform/runtime/application.h"

namespace platform::runtime::detail {
class Runtime;
}  // namespace platform::runtime::detail

namespace zun::com::runtime {

// An instance another process offers over SOME/IP: the numbers it is found and called by.
struct Remote_instance {
    std::uint16_t service_id = 0;
    std::uint16_t instance_id = 0;
    std::uint8_t major_version = 0;
    std::array<std::uint8_t, 4> address{};  // where its methods are called (UDP)
    std::uint16_t port = 0;
    std::vector<std::uint16_t> method_ids;  // the wire's method id, by the plug-in's method id
};

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
    // An instance found on the wire: no handler, calls go to `remote`.
    Service_instance(std::shared_ptr<platform::runtime::detail::Runtime> owner, std::string service,
                     std::string instance, Remote_instance remote)
        : owner(std::move(owner)),
          service(std::move(service)),
          instance(std::move(instance)),
          remote(std::move(remote)) {}

    const std::shared_ptr<platform::runtime::detail::Runtime> owner;
    const std::string service;
    const std::string instance;
    const std::optional<Remote_instance> remote;
    // Shared with every port built from a handle of this record.
    const std::shared_ptr<Connection> connection = std::make_shared<Connection>();

    // Guarded by the owner's mutex. `handler` is called without the lock while `handling`
    // is set, and released once the offer is withdrawn and no call is being handled.
    platform::runtime::Call_handler handler;
    bool offered = false;
    bool handling = false;
};

}  // namespace zun::com::runtime
