#include "binding/exceptions.h"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <string>

namespace {

using kem::com::Infrastructure_exception;
using kem::com::Service_not_available_exception;
using kem::com::Transport_exception;
using kem::com::cpp_binding::Application_error_exception;
using kem::com::cpp_binding::to_string;

class Test_error : public Application_error_exception {
  public:
    const char* what() const noexcept override {
        return "DataIdentifier_Test::UDSServiceFailed::2";
    }
    std::uint8_t error() const override { return 2; }
    void serialize(kem::com::someip::serialization::Serializer&) const override {}
};

struct Null_what : std::exception {
    const char* what() const noexcept override { return nullptr; }
};

TEST(Exceptions, TextsCodesAndBases) {
    const Transport_exception transport(0x86);
    const Infrastructure_exception& base = transport;
    EXPECT_STREQ(base.what(), "Transport exception");
    EXPECT_EQ(Transport_exception(transport).code(), 0x86);
    const std::logic_error& unavailable = Service_not_available_exception();
    EXPECT_STREQ(unavailable.what(), "Service not available exception");
}

TEST(Exceptions, ToStringOfStoredExceptions) {
    EXPECT_EQ(to_string(std::make_exception_ptr(Transport_exception(0x81))),
              "Exception: Transport exception");
    EXPECT_EQ(to_string(std::make_exception_ptr(Service_not_available_exception())),
              "Exception: Service not available exception");
    EXPECT_EQ(to_string(std::make_exception_ptr(Test_error())),
              "Exception: DataIdentifier_Test::UDSServiceFailed::2");
    EXPECT_EQ(to_string(std::make_exception_ptr(
                  std::out_of_range("Read beyond the end of the data buffer"))),
              "Exception: Read beyond the end of the data buffer");
    EXPECT_EQ(to_string(std::make_exception_ptr(Null_what())),
              "Exception: what() returned null ptr");
    EXPECT_EQ(to_string(std::exception_ptr()), "Exception: no exception");
}

TEST(Exceptions, ToStringRethrowsNonStandardExceptions) {
    EXPECT_THROW(to_string(std::make_exception_ptr(42)), int);
    struct Custom {};
    EXPECT_THROW(to_string(std::make_exception_ptr(Custom{})), Custom);
}

}  // namespace
