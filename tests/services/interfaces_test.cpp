#include "services/all_interfaces.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "foundation/uds_codec.h"
#include "host/interface_traits.h"
#include "host/record_writer.h"
#include "someip/serializer.h"
#include "support/expected_catalogue.h"
#include "support/wire_bytes.h"

// Every generated interface held against the expected catalogue: its name, identifier, methods
// and application error. What the records carry, on both sides, and which method answers with
// which code are checked for every identifier end to end (tests/integration).

namespace {

using namespace orlak::services::diag;
using support::Bytes;

using host::Is_full_routine;
using host::Is_routine;

template <class S>
const support::Expected_identifier& entry_of() {
    return Is_routine<S>::value ? support::expected_rid(S::identifier)
                                : support::expected_did(S::identifier);
}

template <class L>
struct As_gtest_types;
template <class... Ts>
struct As_gtest_types<Type_list<Ts...>> {
    using type = ::testing::Types<Ts...>;
};

struct Interface_names {
    template <class S>
    static std::string GetName(int) {
        return entry_of<S>().namespace_name();
    }
};

template <class S>
class Interface : public ::testing::Test {};
TYPED_TEST_SUITE(Interface, As_gtest_types<All_interfaces>::type, Interface_names);

TYPED_TEST(Interface, matches_the_catalogue) {
    using S = TypeParam;
    const auto& entry = entry_of<S>();
    const bool full = entry.kind == support::Kind::full_routine;
    EXPECT_EQ(S::service_id, entry.service_id());
    EXPECT_EQ(Is_full_routine<S>::value, full);
    EXPECT_EQ(S::method_count, full ? 4 : 2);

    // Its own application error; three codes (RequestResults, Start, Stop) for a full routine.
    using Error = typename S::UDSServiceFailed;
    static_assert(std::is_base_of_v<kem::com::cpp_binding::Application_error_exception, Error>);
    const Error error(Bytes{0x11, 0x22, 0x33, 0x44});  // bytes after the codes are ignored
    EXPECT_EQ(error.what(), entry.interface_name + "::UDSServiceFailed::2");
    EXPECT_EQ(error.error(), 2);
    Bytes written;
    kem::com::someip::serialization::Serializer out(written);
    error.serialize(out);
    EXPECT_EQ(written, (full ? Bytes{0x11, 0x22, 0x33} : Bytes{0x11}));
}

// The catalogue's example: 0x0411 with 05, 0102, the 12 bytes 41 to 4C and 0A0B0C0D.
TEST(Interface_record, of_0x0411_in_uds_and_someip_form) {
    d_0411::DataIdentifier_DataBlockDescription::Read::Output record{
        0x05, 0x0102, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'}, 0x0A0B0C0D};
    Bytes uds;
    kem::dm::foundation::extension::Serialize(uds).serialize(record);
    const Bytes someip = host::someip_record(record);
    const Bytes tail{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 10, 11, 12, 13};
    EXPECT_EQ(uds, support::concat({0x05, 0x01, 0x02}, tail));
    EXPECT_EQ(someip, support::concat({0x05, 0x01, 0x02, 0x00, 0x00, 0x00, 0x0C}, tail));
}

}  // namespace
