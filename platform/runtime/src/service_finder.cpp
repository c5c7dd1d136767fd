#include <stdexcept>
#include <utility>

#include "binding/runtime/runtime.h"
#include "runtime_core.h"

namespace zun::com::runtime {

// Keeps one search running; the last holder's release ends it.
class Service_finder::Subscription_handle {
  public:
    Subscription_handle(std::shared_ptr<platform::runtime::detail::Runtime> runtime,
                        std::shared_ptr<platform::runtime::detail::Search> search)
        : runtime_(std::move(runtime)), search_(std::move(search)) {}
    // Once this returns, the filter is never called again (see Runtime::end_search).
    ~Subscription_handle() { runtime_->end_search(search_); }
    Subscription_handle(const Subscription_handle&) = delete;
    Subscription_handle& operator=(const Subscription_handle&) = delete;

  private:
    std::shared_ptr<platform::runtime::detail::Runtime> runtime_;
    std::shared_ptr<platform::runtime::detail::Search> search_;
};

Service_finder::~Service_finder() = default;

namespace {

class Finder final : public Service_finder {
  public:
    explicit Finder(std::shared_ptr<platform::runtime::detail::Runtime> runtime)
        : runtime_(std::move(runtime)) {}

    std::shared_ptr<Subscription_handle> find_service(Filter filter, const std::string& service,
                                                      const Instance_id& instance) override {
        if (!filter) {
            throw std::invalid_argument("find_service: empty filter");
        }
        auto search = runtime_->start_search(std::move(filter), service, instance.to_string());
        try {
            return std::make_shared<Subscription_handle>(runtime_, search);
        } catch (...) {
            runtime_->end_search(search);
            throw;
        }
    }

  private:
    std::shared_ptr<platform::runtime::detail::Runtime> runtime_;
};

}  // namespace
}  // namespace zun::com::runtime

namespace kem::com::runtime {

std::shared_ptr<zun::com::runtime::Service_finder> Component_singleton::get_service_finder() {
    static const auto finder =
        std::make_shared<zun::com::runtime::Finder>(platform::runtime::detail::Runtime::instance());
    return finder;
}

}  // namespace kem::com::runtime
