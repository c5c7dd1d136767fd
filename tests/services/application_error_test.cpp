#include "services/application_error.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "services/d_0102/d_0102.h"
#include "services/d_0261/d_0261.h"
#include "services/r_0300/r_0300.h"
#include "services/r_ff00/r_ff00.h"
#include "someip/serializer.h"

namespace {

using namespace orlak::services::diag;
using Bytes = std::vector<std::uint8_t>;
using Did = d_0102::DataIdentifier_BasicSettingsStatus;
using Full = r_0300::RoutineService_HvlmResetChargingStatistics;

// The error that a method descriptor makes of (error identifier, payload), rethrown.
template <class Method>
void rethrow_mapped(std::uint8_t error_id, const Bytes& payload) {
    const std::exception_ptr mapped = Method::GetApplicationErrorExceptionPtr(error_id, payload);
    ASSERT_TRUE(mapped);
    std::rethrow_exception(mapped);
}

std::string out_of_range_text(void (*read)()) {
    try {
        read();
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "no std::out_of_range";
}

TEST(Application_error, single_code_is_the_first_payload_byte) {
    EXPECT_EQ(Did::UDSServiceFailed(Bytes{0x31}).code(), 0x31);
    EXPECT_EQ(Did::UDSServiceFailed(Bytes{0x22, 0xFF}).code(), 0x22);
    EXPECT_EQ(Did::UDSServiceFailed(Bytes{0x00}).code(), 0x00);
    try {
        rethrow_mapped<Did::Read>(2, Bytes{0x31});
    } catch (const Did::UDSServiceFailed& e) {
        EXPECT_EQ(Did::Read::response_code(e), 0x31);
    }
}

TEST(Application_error, short_payload_fails_with_the_deserializer_message) {
    const std::string message = "Read beyond the end of the data buffer";
    EXPECT_EQ(out_of_range_text([] { rethrow_mapped<Did::Read>(2, Bytes{}); }), message);
    EXPECT_EQ(out_of_range_text([] {
                  rethrow_mapped<Full::Start>(2, Bytes{0x11, 0x22});
              }),
              message);
    EXPECT_EQ(out_of_range_text([] { read_response_codes<3>(Bytes{}); }), message);
}

TEST(Application_error, serialize_appends_the_codes_without_length) {
    Bytes out{0xAA};
    kem::com::someip::serialization::Serializer serializer(out);
    Did::UDSServiceFailed(0x78).serialize(serializer);
    Full::UDSServiceFailed(0x01, 0x02, 0x03).serialize(serializer);
    EXPECT_EQ(out, (Bytes{0xAA, 0x78, 0x01, 0x02, 0x03}));
}

TEST(Application_error, each_interface_has_its_own_error_type) {
    using Other = d_0261::DataIdentifier_OBDDrivingCycleSetOnce;
    EXPECT_STREQ(r_ff00::RoutineService_EraseMemory::UDSServiceFailed(0x22).what(),
                 "RoutineService_EraseMemory::UDSServiceFailed::2");
    try {
        try {
            throw Did::UDSServiceFailed(0x31);
        } catch (const Other::UDSServiceFailed&) {
            FAIL() << "caught as another interface's error";
        }
    } catch (const kem::com::cpp_binding::Application_error_exception& e) {
        EXPECT_EQ(e.error(), 2);
        EXPECT_STREQ(e.what(), "DataIdentifier_BasicSettingsStatus::UDSServiceFailed::2");
    }
}

}  // namespace
