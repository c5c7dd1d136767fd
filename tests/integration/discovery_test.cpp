// Discovery as the manager drives it: requests before the service is found, after it is
// withdrawn and re-offered, and after discovery is stopped.

#include "integration/plugin_host.h"

#include <gtest/gtest.h>

#include "integration/expected_catalogue.h"
#include "integration/simulated_application.h"
#include "integration/wire_bytes.h"
#include "platform/runtime/application.h"

namespace integration {
namespace {

constexpr std::uint16_t basic_settings = 0x0102;    // Read output: u8
constexpr std::uint16_t reset_statistics = 0x0300;  // full routine, Start takes u8[3]

TEST(Discovery, WithoutDiscoveryNothingIsSent) {
    const auto& did_entry = expected_did(basic_settings);
    const auto& rid_entry = expected_rid(reset_statistics);
    Simulated_application did_app(did_entry.service_id());
    Simulated_application rid_app(rid_entry.service_id());
    did_app.answer(did_entry.read_method(), 0, {0x07});
    auto did = Plugin_host::get().make_did(basic_settings);
    auto rid = Plugin_host::get().make_rid(reset_statistics);
    ASSERT_TRUE(did && rid);

    did->stop_find_service();  // never started: returns at once
    Bytes response{0xEE};
    EXPECT_EQ(did->read(request_meta(), response), 0x10);
    EXPECT_FALSE(did->cancel(cancel_meta()));
    Bytes too_short{0x01};  // no proxy is checked before the request is decoded
    EXPECT_EQ(rid->start(too_short, request_meta(), response), 0x10);
    EXPECT_EQ(rid->stop(too_short, request_meta(), response), 0x10);
    EXPECT_EQ(rid->request_results(too_short, request_meta(), response), 0x10);
    EXPECT_EQ(response, Bytes{0xEE});

    // Once found, the first call to arrive is the next read: nothing was sent before, and
    // the refused cancel left no flag behind.
    did->start_find_service("diag");
    platform::runtime::settle();
    response.clear();
    EXPECT_EQ(did->read(request_meta(), response), 0);
    EXPECT_EQ(response, Bytes{0x07});
    const auto calls = did_app.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method_id, did_entry.read_method());
    EXPECT_EQ(rid_app.call_count(), 0u);
}

TEST(Discovery, SearchesOnlyItsOwnInstance) {
    const auto& entry = expected_did(basic_settings);
    Simulated_application app(entry.service_id(), "diag");
    auto did = connect_did(basic_settings, "other");
    Bytes response;
    EXPECT_EQ(did->read(request_meta(), response), 0x10);

    Simulated_application other(entry.service_id(), "other");
    other.answer(entry.read_method(), 0, {0x42});
    platform::runtime::settle();
    EXPECT_EQ(did->read(request_meta(), response), 0);
    EXPECT_EQ(response, Bytes{0x42});
    EXPECT_EQ(app.call_count(), 0u);
    EXPECT_EQ(other.calls().at(0).instance, "other");
}

TEST(Discovery, WithdrawnServiceAnswersGeneralRejectUntilOfferedAgain) {
    const auto& entry = expected_rid(reset_statistics);
    Simulated_application app(entry.service_id());
    app.answer(entry.start_method(), 0, {0x01});
    auto rid = connect_rid(reset_statistics);
    Bytes request{0x0A, 0x0B, 0x0C};
    Bytes response;
    EXPECT_EQ(rid->start(request, request_meta(), response), 0);

    app.withdraw();
    platform::runtime::settle();
    response.clear();
    EXPECT_EQ(rid->start(request, request_meta(), response), 0x10);
    EXPECT_EQ(rid->request_results(request, request_meta(), response), 0x10);
    EXPECT_FALSE(rid->cancel(cancel_meta()));
    EXPECT_TRUE(response.empty());
    EXPECT_EQ(app.call_count(), 1u);

    app.offer();
    platform::runtime::settle();
    EXPECT_EQ(rid->start(request, request_meta(), response), 0);
    EXPECT_EQ(response, Bytes{0x01});
    EXPECT_EQ(app.call_count(), 2u);
}

TEST(Discovery, StoppedDiscoveryKeepsTheLastProxy) {
    const auto& entry = expected_did(basic_settings);
    Simulated_application app(entry.service_id());
    app.answer(entry.read_method(), 0, {0x07});
    auto did = connect_did(basic_settings);
    did->stop_find_service();
    did->stop_find_service();

    Bytes response;
    EXPECT_EQ(did->read(request_meta(), response), 0);
    EXPECT_EQ(response, Bytes{0x07});
    EXPECT_TRUE(did->cancel(cancel_meta()));

    // Reports are no longer delivered: the re-offered instance is not picked up and the
    // kept proxy points at the withdrawn one.
    app.withdraw();
    app.offer();
    platform::runtime::settle();
    response.clear();
    EXPECT_EQ(did->read(request_meta(), response), 0x10);
    EXPECT_TRUE(response.empty());

    // A new discovery replaces the stopped one.
    did->start_find_service("diag");
    platform::runtime::settle();
    EXPECT_EQ(did->read(request_meta(), response), 0);
    EXPECT_EQ(response, Bytes{0x07});
}

}  // namespace
}  // namespace integration
