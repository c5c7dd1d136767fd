#pragma once
// The base of every interface's application error (UDSServiceFailed): what the generated
// interface headers need from the binding, and nothing more.
//
//   class UDSServiceFailed final : public Application_error_exception { ... };

#include <cstdint>
#include <exception>

namespace kem::com::someip::serialization {
class Serializer;
}  // namespace kem::com::someip::serialization

namespace kem::com::cpp_binding {

// Base of the application errors of the service interfaces (UDSServiceFailed): an error
// identifier (the return code that carries it) and its payload on the wire.
class Application_error_exception : public std::exception {
  public:
    ~Application_error_exception() override = default;

    virtual std::uint8_t error() const = 0;
    // Appends the error payload to the serializer's output.
    virtual void serialize(::kem::com::someip::serialization::Serializer& serializer) const = 0;
};

}  // namespace kem::com::cpp_binding
