#pragma once
// Exceptions of the communication stack and the text of a stored exception in incidents.
//
//   promise->set_exception(std::make_exception_ptr(kem::com::Transport_exception{0x8A}));
//   to_string(error)   // "Exception: Transport exception"
//
// Callers tell them apart by type; all are copyable.

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "binding/application_error_exception.h"

namespace kem::com {

// A failure of the communication infrastructure; only its subclasses are thrown.
class Infrastructure_exception : public std::logic_error {
  public:
    using std::logic_error::logic_error;
    ~Infrastructure_exception() override = default;
};

// The runtime answered a call with a transport return code (0x81, 0x82, 0x86, or 0x8A
// for a response that could not be used).
class Transport_exception : public Infrastructure_exception {
  public:
    explicit Transport_exception(std::uint8_t code)
        : Infrastructure_exception("Transport exception"), code_(code) {}
    ~Transport_exception() override = default;

    std::uint8_t code() const noexcept { return code_; }

  private:
    std::uint8_t code_;
};

// The remote instance is not available: no call was sent, or the runtime answered 0xFF.
class Service_not_available_exception : public Infrastructure_exception {
  public:
    Service_not_available_exception()
        : Infrastructure_exception("Service not available exception") {}
    ~Service_not_available_exception() override = default;
};

}  // namespace kem::com

namespace kem::com::cpp_binding {

// "Exception: " and the what() text of a stored std::exception ("what() returned null ptr"
// when what() is null). An exception of any other type is rethrown; an empty pointer
// gives "Exception: no exception".
std::string to_string(const std::exception_ptr& error);

}  // namespace kem::com::cpp_binding
