#pragma once
// The runtime stand-in's process-wide state: the offered instances, the running searches,
// and the two runtime threads: the discovery thread calls the filters with reports, the
// transport thread carries requests to the applications and responses back.
//
//   auto runtime = Runtime::instance();
//   auto record = runtime->offer("ns::Interface", "diag", handler);
//
// Threads: reports are produced under the runtime lock and queued for the discovery
// thread in the order they were produced, so one search sees them in order and one at a
// time. Filters, application handlers and response handlers always run with no runtime
// lock held, and are destroyed with none held.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "binding/runtime/identity.h"
#include "binding/runtime/runtime.h"
#include "exec/future.h"
#include "platform/runtime/application.h"
#include "platform/runtime/someip.h"
#include "runtime_worker.h"

namespace zun::com::runtime {
class Method_call;
class Service_instance;
struct Remote_instance;
}  // namespace zun::com::runtime

namespace platform::runtime::detail {

// One running search, shared by its subscription handle and the queued reports.
struct Search {
    Search(zun::com::runtime::Service_finder::Filter filter, std::string service,
           std::string instance)
        : filter(std::move(filter)), service(std::move(service)), instance(std::move(instance)) {}

    // Called only by the discovery thread, without the runtime lock, while `delivering` is
    // set; taken out and destroyed once `released` is set and no delivery is running.
    zun::com::runtime::Service_finder::Filter filter;
    const std::string service;
    const std::string instance;
    // Guarded by the runtime mutex.
    bool released = false;
    bool delivering = false;
};

class Runtime;
class Someip_transport;

// One item for the transport thread: a request to hand to its application (its runtime
// future becomes ready as it is taken off the queue), an answer to deliver, or a task of
// the SOME/IP transport. A job
// destroyed without having run (the transport stopped) drops its call: nothing will
// answer it, and the caller's promise must not wait for the caller to give up the call.
class Transport_job {
  public:
    using Accepted = zun::com::Promise<std::shared_ptr<zun::com::runtime::Method_call>>;

    // `accepted` is empty for an answer.
    Transport_job(Runtime* runtime, std::shared_ptr<zun::com::runtime::Method_call> call,
                  std::optional<Accepted> accepted) noexcept
        : runtime_(runtime), call_(std::move(call)), accepted_(std::move(accepted)) {}
    explicit Transport_job(std::function<void()> task) noexcept
        : runtime_(nullptr), task_(std::move(task)) {}
    Transport_job(Transport_job&&) noexcept = default;
    Transport_job& operator=(Transport_job&& other) noexcept;
    ~Transport_job();

    void operator()();

  private:
    void drop() noexcept;

    Runtime* runtime_;
    std::shared_ptr<zun::com::runtime::Method_call> call_;  // null once run or moved from
    std::optional<Accepted> accepted_;
    std::function<void()> task_;
};

class Runtime : public std::enable_shared_from_this<Runtime> {
  public:
    using Method_call_future = zun::com::Future<std::shared_ptr<zun::com::runtime::Method_call>>;

    // The process-wide runtime. It is shut down at process exit (or when the library is
    // unloaded); what still refers to it then stays valid but inert.
    static std::shared_ptr<Runtime> instance();

    Runtime();
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // Registers a search and queues its first report (the instances offered now). On the
    // wire, with nothing found yet, the first report waits for discovery's outcome.
    std::shared_ptr<Search> start_search(zun::com::runtime::Service_finder::Filter filter,
                                         std::string service, std::string instance);
    // After this returns the search's filter is never called again. Waits for a running
    // call of the filter unless called on the discovery thread.
    void end_search(const std::shared_ptr<Search>& search);

    // Offers an instance and reports the new list to the matching searches.
    std::shared_ptr<zun::com::runtime::Service_instance> offer(std::string service,
                                                               std::string instance,
                                                               Call_handler handler);
    // Ends an offer: its connection becomes unavailable and the matching searches get the
    // new list. Waits for a running call of the instance's handler unless called on the
    // transport thread; afterwards the handler is never called again.
    void withdraw(zun::com::runtime::Service_instance& record);

    // Queues a request for the transport thread; the future becomes ready when the
    // transport has taken the request off the queue. A call to an instance found on the
    // wire is sent at once on the calling thread instead, its future ready once sent; one
    // that cannot be sent is answered 0xFF on the transport thread.
    Method_call_future send(std::shared_ptr<zun::com::runtime::Method_call> call);
    // Delivers the call's stored answer: inline on the transport thread, otherwise queued
    // for it.
    void respond(const std::shared_ptr<zun::com::runtime::Method_call>& call);

    // SOME/IP over UDP (see platform/runtime/someip.h). Once started, searches find only
    // instances offered on the wire, and local offers are also offered there.
    void start_someip(const Someip_settings& settings);
    void stop_someip();
    Someip_report someip_report() const;

    // For the SOME/IP transport: work for the runtime threads; the instance of `service`
    // and `instance` found on the wire now (none: no longer found), which replaces the
    // earlier one and is reported to the searches; the offered local instance of
    // `service`; handing a request to its application (on the transport thread).
    void post_discovery(std::function<void()> job);
    void post_transport(std::function<void()> job);
    void replace_remote(const std::string& service, const std::string& instance,
                        std::optional<zun::com::runtime::Remote_instance> remote);
    std::shared_ptr<zun::com::runtime::Service_instance> local_offer(
        const std::string& service) const;
    // Hands the call to its application, or answers it as not available.
    void dispatch(const std::shared_ptr<zun::com::runtime::Method_call>& call);

    // Waits until the runtime threads and the thread pool have nothing left to do.
    // Precondition: not on a runtime thread or a pool thread.
    void settle();

    // Stops both threads and drops their queues. Idempotent.
    void shutdown();

  private:
    using Handles = std::vector<zun::com::runtime::Service_handle>;

    Handles offered_locked(const std::string& service, const std::string& instance) const;
    void report_locked(const std::string& service, const std::string& instance);
    void deliver(const std::shared_ptr<Search>& search, Handles found);
    bool send_remote(const std::shared_ptr<zun::com::runtime::Method_call>& call);
    friend class Transport_job;

    kem::com::static_thread_pool* pool_;

    // Lock order: mutex_ before the workers' own locks (reports and requests are queued
    // under it). Never held while a filter, an application handler or a response handler
    // runs or is destroyed.
    mutable std::mutex mutex_;
    std::condition_variable quiet_;  // a delivery or a handler call has ended
    std::vector<std::shared_ptr<zun::com::runtime::Service_instance>> offered_;  // offer order
    std::vector<std::shared_ptr<Search>> searches_;
    bool stopped_ = false;
    // Set once by start_someip; outlives the threads that use it.
    std::shared_ptr<Someip_transport> network_;

    Worker<std::function<void()>> discovery_;
    Worker<Transport_job> transport_;
};

}  // namespace platform::runtime::detail
