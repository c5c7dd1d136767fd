#pragma once
// What the binding calls in the communication runtime library.
//
// Everything declared here is defined by the runtime (on the vehicle: the platform's
// library; here: the stand-in under platform/runtime). The plug-in links against it.
//
//   auto pool = Component_singleton::get_thread_pool_factory()->get_thread_pool(0);
//   auto finder = Component_singleton::get_service_finder();
//   auto subscription = finder->find_service(filter, "ns::Interface", Instance_id{"diag"});

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "binding/runtime/identity.h"
#include "exec/future.h"
#include "exec/interface.h"
#include "exec/runtime_api.h"

namespace kem::com {
class static_thread_pool;
}  // namespace kem::com

namespace kem::com::log {
class Generic_logger;
}  // namespace kem::com::log

namespace zun::com::runtime {

// The runtime's record of one request that it accepted for sending; opaque.
class Method_call;

// Continuous service discovery. The finder calls the filter on its own threads with the
// instances currently offered that match the search (possibly none); the search runs for
// as long as anyone holds the subscription handle it returned.
class ZUN_RUNTIME_API Service_finder {
public:
    class Subscription_handle;
    using Filter = std::function<bool(std::vector<Service_handle>)>;

    virtual ~Service_finder();
    virtual std::shared_ptr<Subscription_handle> find_service(Filter filter,
                                                              const std::string& service,
                                                              const Instance_id& instance) = 0;
};

}  // namespace zun::com::runtime

namespace kem::com::runtime {

// Set by the plug-in when it is loaded: the version of the generator that produced it.
ZUN_RUNTIME_API extern const char* generator_version;

class ZUN_RUNTIME_API Thread_pool_factory {
public:
    virtual ~Thread_pool_factory();
    // Non-owning; the pool lives as long as the runtime.
    virtual static_thread_pool* get_thread_pool(unsigned index) = 0;
};

class ZUN_RUNTIME_API Component_singleton {
public:
    static std::shared_ptr<Thread_pool_factory> get_thread_pool_factory();
    static std::shared_ptr<zun::com::runtime::Service_finder> get_service_finder();
};

}  // namespace kem::com::runtime

namespace kem::com::connector {

// Bytes 0 and 1 are 0; bytes 2 and 3 hold the method count, little-endian.
struct Service_interface_description {
    std::uint8_t bytes[4];
};

}  // namespace kem::com::connector

namespace kem::com::cpp_binding {

struct Service_info {
    std::string service_id;
    std::string instance_id;
};

// A request or response payload. The word is 0 in requests and ignored in responses;
// [first, last) are the payload bytes inside the buffer.
struct Serialized_payload {
    std::uint32_t word = 0;
    std::shared_ptr<std::vector<std::uint8_t>> buffer;
    const std::uint8_t* first = nullptr;
    const std::uint8_t* last = nullptr;
};

// A new, empty payload buffer (called with 0).
ZUN_RUNTIME_API std::shared_ptr<std::vector<std::uint8_t>> get_shared_payload(std::size_t size);

class ZUN_RUNTIME_API Port_link : zun::com::Interface {
public:
    explicit Port_link(Service_info info) : info_(std::move(info)) {}
    ~Port_link() override;
    const Service_info& service_info() const noexcept { return info_; }

private:
    Service_info info_;
};

// Connection state shared between the runtime and its ports.
struct Connection {
    static constexpr std::uint8_t available = 2;
    std::atomic<std::uint8_t> state{0};
};

namespace proxy {

// The required port of one found instance: the way calls reach the application.
class ZUN_RUNTIME_API Rport : public Port_link {
public:
    using Response_handler = std::function<void(std::uint8_t, Serialized_payload)>;

    Rport(const zun::com::runtime::Service_handle& handle,
          const connector::Service_interface_description& description);
    ~Rport() override;
    Rport(const Rport&) = delete;
    Rport& operator=(const Rport&) = delete;

    kem::com::log::Generic_logger& logger() const noexcept { return *logger_; }
    // 2 while the remote instance is available.
    std::uint8_t connection_state() const noexcept {
        return connection_->state.load(std::memory_order_acquire);
    }
    // Sends one request; the handler is called exactly once, on a runtime thread.
    zun::com::Future<std::shared_ptr<zun::com::runtime::Method_call>> call_method(
        std::uint16_t method_id, Serialized_payload payload, Response_handler handler);

private:
    zun::com::runtime::Service_handle handle_;
    kem::com::log::Generic_logger* logger_;
    std::shared_ptr<Connection> connection_;
};

}  // namespace proxy
}  // namespace kem::com::cpp_binding

namespace kem::com {

// Scope guard: if the scope outlasts the deadline (milliseconds), the late function
// receives the elapsed time in milliseconds when the scope ends.
class ZUN_RUNTIME_API Deadline_guard {
public:
    Deadline_guard(const unsigned long& deadline, std::function<void(unsigned long)> late);
    ~Deadline_guard();
    Deadline_guard(const Deadline_guard&) = delete;
    Deadline_guard& operator=(const Deadline_guard&) = delete;

private:
    unsigned long deadline_;
    std::function<void(unsigned long)> late_;
    std::int64_t start_ns_;
};

}  // namespace kem::com

namespace ara::com {

// The process-wide logger for front-end incidents.
ZUN_RUNTIME_API kem::com::log::Generic_logger& logger();

}  // namespace ara::com
