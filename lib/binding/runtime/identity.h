#pragma once
// Identity types of the communication runtime: which service, which instance, and the
// handle of one found instance. Only their values matter to the binding; how the
// runtime keeps an instance alive behind a handle is the runtime's business.

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace zun::com::runtime {

// Names a service: the fully qualified interface name.
class Service_id {
public:
    Service_id() = default;
    explicit Service_id(std::string name) : name_(std::move(name)) {}
    const std::string& to_string() const noexcept { return name_; }
    friend bool operator==(const Service_id& a, const Service_id& b) { return a.name_ == b.name_; }

private:
    std::string name_;
};

// A service name held as length and pointer to constant zero-terminated text;
// used where the name is a literal of the generated code.
class Service_id_literal {
public:
    constexpr Service_id_literal(const char* text, std::size_t length) noexcept
        : length_(length), text_(text) {}
    template <std::size_t N>
    constexpr Service_id_literal(const char (&text)[N]) noexcept : length_(N - 1), text_(text) {}
    constexpr const char* c_str() const noexcept { return text_; }
    constexpr std::size_t size() const noexcept { return length_; }

private:
    std::size_t length_;
    const char* text_;
};

// Names an instance of a service: the instance specifier of the diagnostic manager.
class Instance_id {
public:
    Instance_id() = default;
    explicit Instance_id(std::string id) : id_(std::move(id)) {}
    const std::string& to_string() const noexcept { return id_; }
    friend bool operator==(const Instance_id& a, const Instance_id& b) { return a.id_ == b.id_; }

private:
    std::string id_;
};

// Runtime-side record of one offered instance; opaque to the binding.
class Service_instance;

// Copyable, reference-counted handle of one found service instance.
class Service_handle {
public:
    Service_handle(Service_id service, Instance_id instance,
                   std::shared_ptr<Service_instance> record = {})
        : service_(std::move(service)), instance_(std::move(instance)), record_(std::move(record)) {}
    Service_handle(const Service_handle&) = default;
    Service_handle(Service_handle&&) noexcept = default;
    Service_handle& operator=(const Service_handle&) = default;
    Service_handle& operator=(Service_handle&&) noexcept = default;
    virtual ~Service_handle() = default;

    virtual const Service_id& get_service_id() const noexcept { return service_; }
    virtual const Instance_id& get_instance_id() const noexcept { return instance_; }
    const std::shared_ptr<Service_instance>& record() const noexcept { return record_; }

private:
    Service_id service_;
    Instance_id instance_;
    std::shared_ptr<Service_instance> record_;
};

}  // namespace zun::com::runtime
