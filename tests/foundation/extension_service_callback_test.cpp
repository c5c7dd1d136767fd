#include "foundation/extension_service_callback.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/application.h"
#include "platform/runtime/application.h"
#include "services/d_0102/d_0102.h"
#include "support/wire_bytes.h"

namespace {

using host::Simulated_application;
using support::Bytes;
using Interface = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus;
using Extension = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus_extension;

// An application whose Read answers the record 0x07 (or another single byte).
std::unique_ptr<Simulated_application> application(const std::string& instance,
                                                   std::uint8_t value = 0x07) {
    auto app = std::make_unique<Simulated_application>(Interface::service_id, instance);
    app->answer(Interface::Read::id, 0, {value});
    return app;
}

void discover(Extension& extension, const std::string& instance) {
    extension.start_find_service(instance);
    platform::runtime::settle();
}

std::pair<std::uint8_t, Bytes> read_once(Extension& extension) {
    Bytes response;
    const std::uint8_t code = extension.read({{"tester", "0E80"}}, response);
    return {code, response};
}

const std::pair<std::uint8_t, Bytes> general_reject{0x10, {}};

TEST(Extension_service_callback, every_report_replaces_the_proxy_from_its_first_instance) {
    auto first = application("callback.reports", 0x01);
    auto second = application("callback.reports", 0x02);
    Extension did;
    discover(did, "callback.reports");
    EXPECT_EQ(read_once(did).second, Bytes{0x01});

    first.reset();
    platform::runtime::settle();
    EXPECT_EQ(read_once(did).second, Bytes{0x02});

    second.reset();  // an empty report drops the proxy
    platform::runtime::settle();
    EXPECT_EQ(did.current_proxy(), nullptr);
    EXPECT_EQ(read_once(did), general_reject);

    auto again = application("callback.reports", 0x03);
    platform::runtime::settle();
    EXPECT_EQ(read_once(did).second, Bytes{0x03});
    did.stop_find_service();
}

TEST(Extension_service_callback, after_stop_the_last_proxy_stays_until_a_new_search) {
    auto first = application("callback.stop", 0x05);
    Extension did;
    discover(did, "callback.stop");
    const auto first_search = did.discovery()->id;
    did.stop_find_service();
    did.stop_find_service();  // a second stop is harmless
    const auto kept = did.current_proxy();
    EXPECT_EQ(read_once(did).second, Bytes{0x05});

    auto second = application("callback.stop", 0x06);
    first.reset();
    platform::runtime::settle();
    EXPECT_EQ(did.current_proxy(), kept);
    EXPECT_EQ(read_once(did), general_reject);  // the kept proxy's instance is gone
    EXPECT_EQ(second->call_count(), 0u);

    discover(did, "callback.stop");
    EXPECT_NE(did.discovery()->id, first_search);
    EXPECT_EQ(read_once(did).second, Bytes{0x06});
    did.stop_find_service();
}

}  // namespace
