#include "runtime_core.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "exec/static_thread_pool.h"
#include "method_call.h"
#include "service_instance.h"
#include "someip_transport.h"

namespace platform::runtime::detail {
namespace {

using zun::com::runtime::Method_call;
using zun::com::runtime::Service_instance;

// Return code of a request whose instance is no longer offered.
constexpr std::uint8_t service_not_available = 0xFF;

// The front-end logger and the pool come into being before the runtime does, so that they
// outlive its threads at exit: those threads run handlers that log and post.
kem::com::static_thread_pool* pool_created_first() {
    ara::com::logger();
    return kem::com::runtime::Component_singleton::get_thread_pool_factory()->get_thread_pool(0);
}

// Owns the process-wide runtime; shuts it down when static objects are destroyed.
struct Holder {
    std::shared_ptr<Runtime> runtime = std::make_shared<Runtime>();
    ~Holder() { runtime->shutdown(); }
};

}  // namespace

std::shared_ptr<Runtime> Runtime::instance() {
    static Holder holder;
    return holder.runtime;
}

Runtime::Runtime() : pool_(pool_created_first()) {}

Runtime::~Runtime() {
    shutdown();
}

std::shared_ptr<Search> Runtime::start_search(zun::com::runtime::Service_finder::Filter filter,
                                              std::string service, std::string instance) {
    auto search =
        std::make_shared<Search>(std::move(filter), std::move(service), std::move(instance));
    std::lock_guard<std::mutex> lock(mutex_);
    searches_.push_back(search);
    Handles found = offered_locked(search->service, search->instance);
    if (network_) {
        network_->search(search->service, search->instance);
        if (found.empty()) {
            // On the wire "nothing offered" is known only once discovery had its chance:
            // the first report comes when an instance is found or the search gives up.
            return search;
        }
    }
    discovery_.post(
        [this, search, found = std::move(found)]() mutable { deliver(search, std::move(found)); });
    return search;
}

void Runtime::end_search(const std::shared_ptr<Search>& search) {
    zun::com::runtime::Service_finder::Filter retired;
    std::unique_lock<std::mutex> lock(mutex_);
    search->released = true;
    searches_.erase(std::remove(searches_.begin(), searches_.end(), search), searches_.end());
    if (!discovery_.running_in_this_thread()) {
        quiet_.wait(lock, [&] { return !search->delivering; });
    }
    // On the discovery thread inside this search's own filter, deliver() retires it.
    if (!search->delivering) {
        retired = std::move(search->filter);
    }
    lock.unlock();
}

std::shared_ptr<Service_instance> Runtime::offer(std::string service, std::string instance,
                                                 Call_handler handler) {
    auto record = std::make_shared<Service_instance>(shared_from_this(), std::move(service),
                                                     std::move(instance), std::move(handler));
    Call_handler retired;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) {
        retired = std::move(record->handler);
        return record;
    }
    record->offered = true;
    record->connection->state.store(kem::com::cpp_binding::Connection::available,
                                    std::memory_order_release);
    offered_.push_back(record);
    report_locked(record->service, record->instance);
    if (network_) {
        network_->offer(record->service, record->instance);
    }
    return record;
}

void Runtime::withdraw(Service_instance& record) {
    Call_handler retired;
    std::unique_lock<std::mutex> lock(mutex_);
    if (record.offered) {
        record.offered = false;
        record.connection->state.store(Service_instance::withdrawn, std::memory_order_release);
        offered_.erase(std::remove_if(offered_.begin(), offered_.end(),
                                      [&](const auto& item) { return item.get() == &record; }),
                       offered_.end());
        report_locked(record.service, record.instance);
        if (network_ && !record.remote) {
            network_->withdraw(record.service, record.instance);
        }
    }
    if (!transport_.running_in_this_thread()) {
        quiet_.wait(lock, [&] { return !record.handling; });
    }
    // On the transport thread inside this instance's own handler, dispatch() retires it.
    if (!record.handling) {
        retired = std::move(record.handler);
    }
    lock.unlock();
}

Transport_job& Transport_job::operator=(Transport_job&& other) noexcept {
    if (this != &other) {
        drop();
        runtime_ = other.runtime_;
        call_ = std::move(other.call_);
        accepted_ = std::move(other.accepted_);
        task_ = std::move(other.task_);
    }
    return *this;
}

Transport_job::~Transport_job() {
    drop();
}

void Transport_job::drop() noexcept {
    if (call_) {
        call_->drop();
    }
}

void Transport_job::operator()() {
    if (task_) {
        task_();
        return;
    }
    const std::shared_ptr<Method_call> call = std::move(call_);  // run: nothing to drop
    if (accepted_) {
        // Taken off the queue: the caller's runtime future becomes ready.
        accepted_->set_value(std::shared_ptr<Method_call>(call));
        runtime_->dispatch(call);
    } else {
        call->deliver();
    }
}

Runtime::Method_call_future Runtime::send(std::shared_ptr<Method_call> call) {
    Transport_job::Accepted accepted(Method_call::future_state(call));
    Method_call_future future = accepted.get_future();
    if (call->target && call->target->remote) {
        const bool sent = send_remote(call);
        accepted.set_value(std::shared_ptr<Method_call>(call));
        // The response handler runs on a runtime thread, also for the runtime's own answer.
        if (!sent && call->answer(service_not_available)) {
            transport_.post(Transport_job{this, std::move(call), std::nullopt});
        }
        return future;
    }
    transport_.post(Transport_job(this, std::move(call), std::move(accepted)));
    return future;
}

void Runtime::respond(const std::shared_ptr<Method_call>& call) {
    if (transport_.running_in_this_thread()) {
        call->deliver();
        return;
    }
    transport_.post(Transport_job{this, call, std::nullopt});
}

void Runtime::settle() {
    if (discovery_.running_in_this_thread() || transport_.running_in_this_thread()) {
        throw std::logic_error("settle() called on a runtime thread");
    }
    // Work moves between the three (a report starts a pool task, a pool task offers a
    // service, ...): repeat until a whole round saw no new job on either thread.
    for (;;) {
        const std::uint64_t before = discovery_.posted() + transport_.posted();
        discovery_.wait_idle();
        transport_.wait_idle();
        pool_->wait_idle();
        if (discovery_.posted() + transport_.posted() == before) {
            return;
        }
    }
}

void Runtime::shutdown() {
    std::vector<std::shared_ptr<Service_instance>> offered;
    std::vector<std::shared_ptr<Search>> searches;
    std::shared_ptr<Someip_transport> network;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        offered.swap(offered_);
        searches.swap(searches_);
        network = network_;
    }
    if (network) {
        network->stop();  // nothing arrives any more
    }
    discovery_.stop();
    transport_.stop();
}

Runtime::Handles Runtime::offered_locked(const std::string& service,
                                         const std::string& instance) const {
    Handles found;
    for (const auto& record : offered_) {
        // On the wire, searches find what other processes offer.
        if (network_ && !record->remote) {
            continue;
        }
        if (record->service == service && record->instance == instance) {
            found.emplace_back(zun::com::runtime::Service_id(service),
                               zun::com::runtime::Instance_id(instance), record);
        }
    }
    return found;
}

void Runtime::report_locked(const std::string& service, const std::string& instance) {
    Handles found;
    bool listed = false;
    for (const auto& search : searches_) {
        if (search->service != service || search->instance != instance) {
            continue;
        }
        if (!listed) {
            found = offered_locked(service, instance);
            listed = true;
        }
        discovery_.post([this, search, found]() mutable { deliver(search, std::move(found)); });
    }
}

void Runtime::deliver(const std::shared_ptr<Search>& search, Handles found) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (search->released) {
            return;
        }
        search->delivering = true;
    }
    try {
        search->filter(std::move(found));
    } catch (...) {
        // What the filter returns or throws does not change the search.
    }
    zun::com::runtime::Service_finder::Filter retired;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        search->delivering = false;
        if (search->released) {
            retired = std::move(search->filter);
        }
    }
    quiet_.notify_all();
}

void Runtime::dispatch(const std::shared_ptr<Method_call>& call) {
    Service_instance* record = call->target.get();
    bool handled = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (record != nullptr && record->offered) {
            record->handling = true;
            handled = true;
        }
    }
    if (!handled) {
        call->deliver(service_not_available);
        return;
    }
    try {
        // A copy: the job's reference keeps the record alive until the handler is retired.
        record->handler(Incoming_call(call));
    } catch (...) {
        // An application that throws leaves its call unanswered.
    }
    Call_handler retired;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record->handling = false;
        if (!record->offered) {
            retired = std::move(record->handler);
        }
    }
    quiet_.notify_all();
}

bool Runtime::send_remote(const std::shared_ptr<Method_call>& call) {
    std::shared_ptr<Someip_transport> network;
    bool offered = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        offered = call->target->offered;
        network = network_;
    }
    return offered && network && network->send_request(call);
}

void Runtime::start_someip(const Someip_settings& settings) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (network_ || stopped_) {
            throw std::runtime_error("SOME/IP is already started");
        }
    }
    auto network = std::make_shared<Someip_transport>(*this, settings);
    std::lock_guard<std::mutex> lock(mutex_);
    network_ = std::move(network);
}

void Runtime::stop_someip() {
    std::shared_ptr<Someip_transport> network;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        network = network_;
    }
    if (network) {
        discovery_.wait_idle();  // StopOffers queued by withdrawals go out first
        network->stop();
    }
}

Someip_report Runtime::someip_report() const {
    std::shared_ptr<Someip_transport> network;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        network = network_;
    }
    return network ? network->report() : Someip_report{};
}

void Runtime::post_discovery(std::function<void()> job) {
    discovery_.post(std::move(job));
}

void Runtime::post_transport(std::function<void()> job) {
    transport_.post(Transport_job(std::move(job)));
}

void Runtime::replace_remote(const std::string& service, const std::string& instance,
                             std::optional<zun::com::runtime::Remote_instance> remote) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) {
        return;
    }
    for (auto it = offered_.begin(); it != offered_.end();) {
        Service_instance& record = **it;
        if (record.remote && record.service == service && record.instance == instance) {
            record.offered = false;
            record.connection->state.store(Service_instance::withdrawn, std::memory_order_release);
            it = offered_.erase(it);
        } else {
            ++it;
        }
    }
    if (remote) {
        auto record = std::make_shared<Service_instance>(shared_from_this(), service, instance,
                                                         std::move(*remote));
        record->offered = true;
        record->connection->state.store(kem::com::cpp_binding::Connection::available,
                                        std::memory_order_release);
        offered_.push_back(std::move(record));
    }
    report_locked(service, instance);
}

std::shared_ptr<Service_instance> Runtime::local_offer(const std::string& service) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& record : offered_) {
        if (!record->remote && record->service == service) {
            return record;
        }
    }
    return nullptr;
}

}  // namespace platform::runtime::detail

namespace platform::runtime {

void start_someip(const Someip_settings& settings) {
    detail::Runtime::instance()->start_someip(settings);
}

void stop_someip() {
    detail::Runtime::instance()->stop_someip();
}

Someip_report someip_report() {
    return detail::Runtime::instance()->someip_report();
}

}  // namespace platform::runtime
