#include "sim/canceller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "sim/uds_router.h"

namespace dmsim {
namespace {

using kem::dm::types::MetaInfo;
using kem::dm::types::UDSResponseCodeType;
using namespace std::chrono_literals;

// A read that waits until it has been cancelled `needed` times, then answers as a
// cancelled extension does (0, no data) or, with `answer_anyway`, with data.
struct Waiting_did : kem::dm::foundation::extension::Extension_data_identifier {
    int needed = 1;
    bool answer_anyway = false;
    std::mutex mutex;
    std::condition_variable cancelled;
    int cancels = 0;
    MetaInfo cancel_meta;

    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    UDSResponseCodeType read(const MetaInfo&, std::vector<std::uint8_t>& response) override {
        std::unique_lock<std::mutex> lock(mutex);
        cancelled.wait(lock, [this] { return cancels >= needed; });
        if (answer_anyway) {
            response.push_back(0x01);
        }
        return 0;
    }
    bool cancel(const MetaInfo& meta) override {
        std::lock_guard<std::mutex> lock(mutex);
        ++cancels;
        cancel_meta = meta;
        cancelled.notify_all();
        return true;
    }
};

Outcome ask(Waiting_did& did, Canceller& canceller, const MetaInfo& meta = {}) {
    const Uds_router router({{0xF190, &did}}, {});
    return router.answer({0x22, 0xF1, 0x90}, meta, &canceller);
}

TEST(Canceller, CancelsAWaitingRequestWithItsMeta) {
    Canceller canceller(5ms);
    Waiting_did did;
    const Outcome outcome = ask(did, canceller, {{"tester", "0E80"}});
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_TRUE(outcome.response.empty());
    EXPECT_EQ(did.cancel_meta, (MetaInfo{{"tester", "0E80"}}));
}

TEST(Canceller, RepeatsACancelThatTheOperationMissed) {
    Canceller canceller(0ms);
    Waiting_did did;
    did.needed = 3;
    EXPECT_TRUE(ask(did, canceller).cancelled);
    EXPECT_EQ(did.cancels, 3);
}

TEST(Canceller, AnAnswerThatRacedTheCancelIsAnAnswer) {
    Canceller canceller(1ms);
    Waiting_did did;
    did.answer_anyway = true;
    const Outcome outcome = ask(did, canceller);
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_EQ(outcome.response, (Bytes{0x62, 0xF1, 0x90, 0x01}));
}

TEST(Canceller, DoesNothingBeforeTheLimitOrWithoutAWatch) {
    Canceller canceller(std::chrono::hours(1));
    std::atomic<int> calls{0};
    canceller.begin_request();
    canceller.watch([&] { return ++calls > 0; });
    EXPECT_FALSE(canceller.unwatch());
    Canceller instant(0ms);
    instant.begin_request();  // due at once, but nothing is watched
    EXPECT_FALSE(instant.unwatch());
    EXPECT_EQ(calls.load(), 0);
}

}  // namespace
}  // namespace dmsim
