#pragma once
// The second base of every generated extension: owns the proxy of the application service
// and the continuous discovery that keeps it current.
//
//   extension.start_find_service("diag");   // reports rebuild the proxy on the discovery's strand
//   if (auto proxy = extension.current_proxy()) { proxy->Read(meta); }
//
// Proxy is a generated proxy class (ara::com::internal::proxy::Proxy<S> plus its Method
// members): constructible from a Handle_type&, with the static StartFindService and
// StopFindService of its base.
//
// Threads: start_find_service, stop_find_service and destruction run on the manager's
// thread; find_service_callback runs on the discovery's strand, one report at a time;
// current_proxy may be called from any thread. A report replaces the proxy under a short
// lock; a request keeps the proxy it took alive until it is done with it. No lock is held
// while a proxy is built or destroyed.
// Destruction releases the discovery handle, then the proxy, and sends nothing; it does not
// stop the discovery: the manager calls stop_find_service first.

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "binding/find_service_handle.h"
#include "binding/runtime/identity.h"

namespace kem::dm::foundation::extension {

namespace detail {

using Find_service_handle = ::kem::com::cpp_binding::Find_service_handle;
using Report_handler = std::function<void(std::vector<zun::com::runtime::Service_handle>)>;
using Start_find_service = Find_service_handle (*)(Report_handler, std::string);
using Stop_find_service = void (*)(Find_service_handle);

// The steps of start_find_service: copies `instance` (only an allocation failure there
// leaves), starts the search with `start` and keeps its handle in `find_handle`,
// replacing an earlier one; any later failure leaves `find_handle` as it was.
void start_discovery(const std::string& instance, Report_handler handler, Start_find_service start,
                     std::unique_ptr<Find_service_handle>& find_handle);

// The steps of stop_find_service: nothing without a handle; otherwise `stop` with a copy
// of it, failures ignored.
void stop_discovery(const std::unique_ptr<Find_service_handle>& find_handle,
                    Stop_find_service stop) noexcept;

}  // namespace detail

template <class Proxy>
class Extension_service_callback {
  public:
    using Handle_type = typename Proxy::Handle_type;

    Extension_service_callback() = default;
    Extension_service_callback(const Extension_service_callback&) = delete;
    Extension_service_callback& operator=(const Extension_service_callback&) = delete;
    ~Extension_service_callback() = default;

    // Starts a search for the service under `instance` and keeps its handle, replacing (and
    // releasing, without joining) an earlier one. Only an allocation failure while copying
    // `instance` leaves it; any later failure leaves the previous handle in place.
    void start_find_service(const std::string& instance) {
        detail::start_discovery(
            instance,
            [this](std::vector<Handle_type> report) { find_service_callback(std::move(report)); },
            &Proxy::StartFindService, find_handle);
    }

    // One discovery report: drops the current proxy, then builds a new one from the first
    // reported instance (none for an empty report, or when building fails).
    void find_service_callback(std::vector<Handle_type> report) {
        std::shared_ptr<Proxy> replaced = exchange_proxy(nullptr);
        replaced.reset();
        if (report.empty()) {
            return;
        }
        try {
            exchange_proxy(std::make_shared<Proxy>(report.front()));
        } catch (...) {
        }
    }

    // Stops the deliveries; unless called from a report on the discovery's strand, returns
    // only when no report is being handled. The handle and the last proxy stay.
    void stop_find_service() noexcept {
        detail::stop_discovery(find_handle, &Proxy::StopFindService);
    }

    // The proxy a new request uses, or null; stays alive while the caller holds it.
    std::shared_ptr<Proxy> current_proxy() const noexcept {
        std::lock_guard<std::mutex> lock(proxy_mutex);
        return proxy;
    }

    // The running (or stopped) discovery, or null before the first start_find_service.
    const ::kem::com::cpp_binding::Find_service_handle* discovery() const noexcept {
        return find_handle.get();
    }

  private:
    // Returns the previous proxy, to be released by the caller outside the lock.
    std::shared_ptr<Proxy> exchange_proxy(std::shared_ptr<Proxy> next) noexcept {
        std::lock_guard<std::mutex> lock(proxy_mutex);
        return std::exchange(proxy, std::move(next));
    }

    // Declared first, destroyed last: releasing find_handle may wait for a running report,
    // which still exchanges the proxy.
    mutable std::mutex proxy_mutex;
    std::shared_ptr<Proxy> proxy;  // guarded by proxy_mutex
    std::unique_ptr<::kem::com::cpp_binding::Find_service_handle> find_handle;
};

}  // namespace kem::dm::foundation::extension
