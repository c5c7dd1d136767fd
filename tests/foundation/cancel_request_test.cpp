#include "foundation/cancel_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "exec/future.h"
#include "foundation/data_identifier_extension.h"
#include "host/application.h"
#include "platform/runtime/application.h"
#include "services/d_0102/d_0102.h"
#include "support/wire_bytes.h"

namespace {

using host::Simulated_application;
using support::Bytes;
using support::Meta;
using support::someip_meta;
using Interface = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus;
using Proxy = orlak::services::diag::d_0102::proxy::DataIdentifier_BasicSettingsStatusProxy;
namespace extension = kem::dm::foundation::extension;

// Shaped like a generated extension, with its cancel state in reach of the test.
struct Inspectable_extension : extension::Extension_service_callback<Proxy> {
    std::atomic<bool> cancel_requested{false};
    std::unique_ptr<zun::com::Future<void>> pending_cancel;

    bool cancel(const Meta& meta) {
        return extension::send_cancel(*this, cancel_requested, pending_cancel, meta);
    }
    std::uint8_t read(Bytes& response) {
        return extension::read_data_identifier<Interface>(*this, cancel_requested, {}, response);
    }
    void discover(const std::string& instance) {
        start_find_service(instance);
        platform::runtime::settle();
    }
};

TEST(Cancel_request, each_cancel_replaces_the_pending_one_and_a_failing_one_keeps_it) {
    Simulated_application app(Interface::service_id, "cancel.twice");
    app.hold(Interface::Cancel::id);
    Inspectable_extension did;
    EXPECT_FALSE(did.cancel({}));  // no proxy: no flag, nothing kept
    EXPECT_FALSE(did.cancel_requested);
    EXPECT_EQ(did.pending_cancel, nullptr);

    did.discover("cancel.twice");
    ASSERT_TRUE(did.cancel({{"n", "1"}}));
    ASSERT_TRUE(app.wait_for_calls(1));
    app.answer(Interface::Cancel::id, 0, {});  // the first Cancel stays held, the second not
    ASSERT_TRUE(did.cancel({{"n", "2"}}));
    // The kept future is the second call's: it completes while the first call is held.
    ASSERT_NE(did.pending_cancel, nullptr);
    EXPECT_EQ(did.pending_cancel->wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(did.cancel_requested);
    ASSERT_TRUE(app.wait_for_calls(2));
    EXPECT_EQ(app.calls()[1].payload, someip_meta({{"n", "2"}}));
    EXPECT_EQ(app.release_held(0, {}), 1u);  // the first call's late answer is dropped

    // The search stops, then the instance goes: the kept proxy can no longer send, but the
    // flag is raised all the same and the next request lowers it.
    did.stop_find_service();
    app.withdraw();
    did.cancel_requested = false;
    EXPECT_TRUE(did.cancel({}));
    // Still the second call's answered future: the failed send did not replace it.
    ASSERT_NE(did.pending_cancel, nullptr);
    EXPECT_NO_THROW(did.pending_cancel->get());
    EXPECT_TRUE(did.cancel_requested);
    Bytes response;
    EXPECT_EQ(did.read(response), 0x10);
    EXPECT_FALSE(did.cancel_requested);
}

TEST(Cancel_request, destroying_an_extension_with_a_pending_cancel_sends_nothing) {
    using Extension = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus_extension;
    Simulated_application app(Interface::service_id, "cancel.destroyed");
    app.hold(Interface::Cancel::id);
    auto did = std::make_unique<Extension>();
    did->start_find_service("cancel.destroyed");
    platform::runtime::settle();
    ASSERT_TRUE(did->cancel({}));
    ASSERT_TRUE(app.wait_for_calls(1));
    did->stop_find_service();
    did.reset();
    platform::runtime::settle();

    EXPECT_EQ(app.call_count(), 1u);
    EXPECT_EQ(app.release_held(0, {}), 1u);  // answered after the extension is gone
    platform::runtime::settle();
}

}  // namespace
