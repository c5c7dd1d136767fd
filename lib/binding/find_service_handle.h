#pragma once
// The value that stands for one running service discovery: its number, the runtime's
// search subscription and the strand its reports are delivered on.
//
//   Find_service_handle handle = Proxy_impl<S>::start_find_service(handler, instance, logger);
//   Proxy_impl<S>::stop_find_service(handle);

#include <cstdint>
#include <memory>

#include "binding/runtime/runtime.h"
#include "exec/strand.h"

namespace kem::com::cpp_binding {

// Copies share the subscription and the strand: the search runs while any copy holds the
// subscription. Destruction releases the strand first, then the subscription.
struct Find_service_handle {
    // Unique per interface and process, counted from 0.
    std::uint32_t id = 0;
    std::shared_ptr<zun::com::runtime::Service_finder::Subscription_handle> subscription;
    std::shared_ptr<Strand> strand;
};

}  // namespace kem::com::cpp_binding
