#include "foundation/extension_service_callback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/extension_test_support.h"
#include "platform/runtime/application.h"
#include "services/d_0102/d_0102.h"
#include "services/r_0300/r_0300.h"

namespace {

using extension_test::Application;
using extension_test::Bytes;
using extension_test::Meta;
using Interface = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus;
using Extension = orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus_extension;

const Meta meta{{"tester", "0x0E80"}};

// Starts the discovery and waits until the reports produced so far have been handled.
void discover(Extension& extension, const std::string& instance) {
    extension.start_find_service(instance);
    platform::runtime::settle();
}

// One read: its response code and response bytes.
std::pair<std::uint8_t, Bytes> read_once(Extension& extension) {
    Bytes response;
    const std::uint8_t code = extension.read(meta, response);
    return {code, response};
}

TEST(Extension_service_callback, without_a_found_service_requests_answer_0x10_and_send_nothing) {
    Application app(Interface::service_id, "callback.none");
    app.answer_with(0, {0x07});
    Extension did;
    did.stop_find_service();  // never started: nothing to stop
    EXPECT_EQ(did.discovery(), nullptr);
    EXPECT_EQ(read_once(did), std::make_pair(std::uint8_t{0x10}, Bytes{}));
    EXPECT_FALSE(did.cancel(meta));

    discover(did, "callback.none.elsewhere");
    EXPECT_NE(did.discovery(), nullptr);
    EXPECT_EQ(did.current_proxy(), nullptr);
    EXPECT_EQ(read_once(did).first, 0x10);

    // A routine checks for its proxy before it looks at the request bytes.
    orlak::services::diag::r_0300::RoutineService_HvlmResetChargingStatistics_extension rid;
    Bytes too_short{0x01}, response;
    EXPECT_EQ(rid.start(too_short, meta, response), 0x10);

    did.stop_find_service();
    platform::runtime::settle();
    EXPECT_TRUE(app.calls().empty());
}

TEST(Extension_service_callback, an_empty_report_drops_the_proxy) {
    auto app = std::make_unique<Application>(Interface::service_id, "callback.gone");
    app->answer_with(0, {0x07});
    Extension did;
    discover(did, "callback.gone");
    EXPECT_EQ(read_once(did), std::make_pair(std::uint8_t{0}, Bytes{0x07}));

    app.reset();
    platform::runtime::settle();
    EXPECT_EQ(did.current_proxy(), nullptr);
    EXPECT_EQ(read_once(did).first, 0x10);
    did.stop_find_service();
}

TEST(Extension_service_callback, a_report_of_two_instances_connects_to_the_first) {
    Application first(Interface::service_id, "callback.two");
    Application second(Interface::service_id, "callback.two");
    first.answer_with(0, {0x01});
    second.answer_with(0, {0x02});
    Extension did;
    discover(did, "callback.two");
    EXPECT_EQ(read_once(did).second, Bytes{0x01});
    EXPECT_EQ(first.calls().size(), 1u);
    EXPECT_TRUE(second.calls().empty());

    first.withdraw();
    platform::runtime::settle();
    EXPECT_EQ(read_once(did).second, Bytes{0x02});
    did.stop_find_service();
}

TEST(Extension_service_callback, after_stop_the_last_proxy_stays_and_reports_change_nothing) {
    auto first = std::make_unique<Application>(Interface::service_id, "callback.stop");
    first->answer_with(0, {0x05});
    Extension did;
    discover(did, "callback.stop");
    const std::uint32_t first_search = did.discovery()->id;
    did.stop_find_service();
    did.stop_find_service();  // a second stop is harmless
    const auto kept = did.current_proxy();
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(read_once(did), std::make_pair(std::uint8_t{0}, Bytes{0x05}));

    Application second(Interface::service_id, "callback.stop");
    second.answer_with(0, {0x06});
    first.reset();
    platform::runtime::settle();
    EXPECT_EQ(did.current_proxy(), kept);
    EXPECT_EQ(read_once(did).first, 0x10);  // the kept proxy's instance is gone
    EXPECT_TRUE(second.calls().empty());

    // A new search replaces the stopped one and finds the new instance.
    discover(did, "callback.stop");
    EXPECT_NE(did.discovery()->id, first_search);
    EXPECT_EQ(read_once(did).second, Bytes{0x06});
    did.stop_find_service();
}

TEST(Extension_service_callback, requests_race_reports_that_replace_the_proxy) {
    auto app = std::make_unique<Application>(Interface::service_id, "callback.race");
    app->answer_with(0, {0x09});
    Extension did;
    discover(did, "callback.race");

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> answered{0};
    std::thread reader([&] {
        // Until the swaps are over and at least one read got through (bounded).
        for (int i = 0; i < 100000 && (!done.load() || answered.load() == 0); ++i) {
            const auto [code, response] = read_once(did);
            if (code == 0) {
                EXPECT_EQ(response, Bytes{0x09});
                answered.fetch_add(1);
            } else {
                EXPECT_EQ(code, 0x10);
                EXPECT_TRUE(response.empty());
            }
            reads.fetch_add(1);
        }
    });
    for (int i = 0; i < 30; ++i) {  // each swap reports twice: both instances, then the new one
        auto next = std::make_unique<Application>(Interface::service_id, "callback.race");
        next->answer_with(0, {0x09});
        app = std::move(next);
        const int before = reads.load();
        while (reads.load() == before) {  // let a read run into the replacement
            std::this_thread::yield();
        }
    }
    platform::runtime::settle();
    done.store(true);
    reader.join();
    did.stop_find_service();
    EXPECT_EQ(read_once(did).second, Bytes{0x09});
    EXPECT_GT(answered.load(), 0);
}

}  // namespace
