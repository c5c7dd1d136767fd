#include "foundation/cancel_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "exec/future.h"
#include "foundation/data_identifier_extension.h"
#include "foundation/extension_test_support.h"
#include "platform/runtime/application.h"
#include "services/d_0102/d_0102.h"

namespace {

using extension_test::Application;
using extension_test::Bytes;
using extension_test::cancel_id;
using extension_test::Meta;
using extension_test::request_payload;
using kem::dm::foundation::extension::Extension_service_callback;
using Interface = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus;
using Extension = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus_extension;
using Proxy = orlak::services::diag::d_0102::proxy::DataIdentifier_BasicSettingsStatusProxy;

const Meta request_meta{{"request", "1"}};
const Meta cancel_meta{{"cancel", "2"}, {"tester", "0x0E80"}};

// Shaped like a generated extension, with its two members in reach of the test.
struct Inspectable_extension : Extension_service_callback<Proxy> {
    std::atomic<bool> cancel_requested{false};
    std::unique_ptr<zun::com::Future<void>> pending_cancel;

    bool cancel(const Meta& meta) {
        return kem::dm::foundation::extension::send_cancel(*this, cancel_requested, pending_cancel,
                                                           meta);
    }
    std::uint8_t read(Bytes& response) {
        return kem::dm::foundation::extension::read_data_identifier<Interface>(
            *this, cancel_requested, request_meta, response);
    }
};

template <class E>
void discover(E& extension, const std::string& instance) {
    extension.start_find_service(instance);
    platform::runtime::settle();
}

TEST(Cancel_request, a_cancel_from_another_thread_ends_a_waiting_read_at_once) {
    Application app(Interface::service_id, "cancel.waiting");  // keeps every call unanswered
    Extension did;
    discover(did, "cancel.waiting");

    std::uint8_t code = 0xFF;
    Bytes response;
    std::chrono::steady_clock::time_point returned;
    std::thread reader([&] {
        code = did.read(request_meta, response);
        returned = std::chrono::steady_clock::now();
    });
    ASSERT_TRUE(app.wait_for_calls(1));  // the read is waiting for its answer
    const auto cancelled = std::chrono::steady_clock::now();
    EXPECT_TRUE(did.cancel(cancel_meta));
    reader.join();

    EXPECT_EQ(code, 0);
    EXPECT_TRUE(response.empty());
    EXPECT_LT(returned - cancelled, std::chrono::milliseconds(500));
    ASSERT_TRUE(app.wait_for_calls(2));
    const auto calls = app.calls();
    EXPECT_EQ(calls[0].method_id, Interface::Read::id);
    EXPECT_EQ(calls[0].payload, request_payload(request_meta));
    EXPECT_EQ(calls[1].method_id, cancel_id);
    EXPECT_EQ(calls[1].payload, request_payload(cancel_meta));
    did.stop_find_service();
}

TEST(Cancel_request, each_cancel_replaces_the_pending_one_and_a_failing_one_keeps_it) {
    Application app(Interface::service_id, "cancel.twice");
    Inspectable_extension extension;
    EXPECT_FALSE(extension.cancel(cancel_meta));  // no proxy: no flag, nothing kept
    EXPECT_FALSE(extension.cancel_requested.load());
    EXPECT_EQ(extension.pending_cancel, nullptr);

    discover(extension, "cancel.twice");
    ASSERT_TRUE(extension.cancel({{"n", "1"}}));
    const zun::com::Future<void>* first = extension.pending_cancel.get();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(extension.cancel({{"n", "2"}}));
    const zun::com::Future<void>* second = extension.pending_cancel.get();
    EXPECT_NE(second, first);  // both were alive at once: the first went only after the swap
    EXPECT_TRUE(extension.cancel_requested.load());
    ASSERT_TRUE(app.wait_for_calls(2));
    EXPECT_EQ(app.calls()[1].payload, request_payload(Meta{{"n", "2"}}));
    EXPECT_TRUE(app.respond_to_kept(0, {}));  // the released call's late answer is dropped

    // The search stops, then the instance goes: the kept proxy can no longer send.
    extension.stop_find_service();
    app.withdraw();
    extension.cancel_requested.store(false);
    EXPECT_TRUE(extension.cancel(cancel_meta));
    EXPECT_EQ(extension.pending_cancel.get(), second);
    EXPECT_TRUE(extension.cancel_requested.load());
    Bytes response;
    EXPECT_EQ(extension.read(response), 0x10);
    EXPECT_FALSE(extension.cancel_requested.load());
}

TEST(Cancel_request, a_cancel_without_a_running_request_leaves_the_next_read_alone) {
    Application app(Interface::service_id, "cancel.idle");
    app.answer_with(0, {0x07});
    Inspectable_extension extension;
    discover(extension, "cancel.idle");
    ASSERT_TRUE(extension.cancel(cancel_meta));

    Bytes response{0xAB};
    EXPECT_EQ(extension.read(response), 0);
    EXPECT_EQ(response, (Bytes{0xAB, 0x07}));
    EXPECT_FALSE(extension.cancel_requested.load());
    extension.stop_find_service();
}

TEST(Cancel_request, destroying_an_extension_with_a_pending_cancel_sends_nothing) {
    Application app(Interface::service_id, "cancel.destroyed");
    auto did = std::make_unique<Extension>();
    discover(*did, "cancel.destroyed");
    ASSERT_TRUE(did->cancel(cancel_meta));
    ASSERT_TRUE(app.wait_for_calls(1));
    did->stop_find_service();
    did.reset();
    platform::runtime::settle();

    ASSERT_EQ(app.calls().size(), 1u);
    EXPECT_EQ(app.calls()[0].method_id, cancel_id);
    EXPECT_TRUE(app.respond_to_kept(0, {}));  // answered after the extension is gone
    platform::runtime::settle();
}

}  // namespace
