#include "services/all_interfaces.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "host/interface_traits.h"
#include "someip/serializer.h"
#include "support/expected_catalogue.h"

// Every generated interface held against the expected catalogue: its name, identifier, methods
// and application error. What the records carry, on both sides, and which method answers with
// which code are checked for every identifier end to end (tests/integration).

namespace {

using namespace orlak::services::diag;
using Bytes = std::vector<std::uint8_t>;

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

}  // namespace
