// The ECU's sessions, tester present, suppress bit and response pending, with extensions
// that answer at once, late, or only when cancelled.

#include "sim/ecu.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dmsim {
namespace {

using kem::dm::types::MetaInfo;
using kem::dm::types::UDSResponseCodeType;
using namespace std::chrono_literals;

// Answers after `delay`, or at once with nothing when cancelled; counts overlapping reads.
struct Slow_did : kem::dm::foundation::extension::Extension_data_identifier {
    std::chrono::milliseconds delay{0};
    std::mutex mutex;
    std::condition_variable cancelled_cv;
    bool cancelled = false;
    std::atomic<int> cancels{0};
    std::atomic<int> inside{0};
    std::atomic<int> most_inside{0};

    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    UDSResponseCodeType read(const MetaInfo&, std::vector<std::uint8_t>& response) override {
        most_inside = std::max(most_inside.load(), ++inside);
        std::unique_lock<std::mutex> lock(mutex);
        const bool stopped = cancelled_cv.wait_for(lock, delay, [this] { return cancelled; });
        cancelled = false;
        --inside;
        if (!stopped) {
            response.push_back(0xAB);
        }
        return 0;
    }
    bool cancel(const MetaInfo&) override {
        ++cancels;
        std::lock_guard<std::mutex> lock(mutex);
        cancelled = true;
        cancelled_cv.notify_all();
        return true;
    }
};

struct Routine : kem::dm::foundation::extension::Extension_routine_control {
    int starts = 0;
    std::chrono::milliseconds delay{0};
    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    UDSResponseCodeType start(Bytes&, const MetaInfo&, Bytes& response) override {
        ++starts;
        std::this_thread::sleep_for(delay);
        response.push_back(0x00);
        return 0;
    }
};

class EcuTest : public ::testing::Test {
  protected:
    Ecu make(Ecu_options options = {}) {
        return Ecu({{0x0102, &slow}}, {{0x0300, &routine}}, options);
    }
    static std::string ask(const Ecu& ecu, Tester& tester, const char* request,
                           std::vector<std::string>* pending = nullptr) {
        const Outcome outcome =
            ecu.answer(parse_hex(request), {}, tester, [pending](const Bytes& answer) {
                if (pending != nullptr) {
                    pending->push_back(to_hex(answer, ' '));
                }
            });
        return outcome.suppressed ? "suppressed" : to_hex(outcome.response, ' ');
    }

    Slow_did slow;
    Routine routine;
};

TEST_F(EcuTest, SessionsTesterPresentAndTheSuppressBit) {
    Ecu_options options;
    options.s3 = 50ms;
    const Ecu ecu = make(options);
    Tester tester(ecu.options());
    EXPECT_EQ(ask(ecu, tester, "10 03"), "50 03 00 32 01 F4");
    EXPECT_EQ(tester.session(), 0x03);
    EXPECT_EQ(ask(ecu, tester, "10 01"), "50 01 00 32 01 F4");
    EXPECT_EQ(ask(ecu, tester, "10 02"), "7F 10 12");
    EXPECT_EQ(ask(ecu, tester, "10"), "7F 10 13");
    EXPECT_EQ(ask(ecu, tester, "10 03 00"), "7F 10 13");
    EXPECT_EQ(ask(ecu, tester, "3E 00"), "7E 00");
    EXPECT_EQ(ask(ecu, tester, "3E 01"), "7F 3E 12");
    EXPECT_EQ(ask(ecu, tester, "3E"), "7F 3E 13");
    // The bit suppresses positive answers only; the request still runs.
    EXPECT_EQ(ask(ecu, tester, "3E 80"), "suppressed");
    EXPECT_EQ(ask(ecu, tester, "3E 81"), "7F 3E 12");
    EXPECT_EQ(ask(ecu, tester, "10 83"), "suppressed");
    EXPECT_EQ(tester.session(), 0x03);
    EXPECT_EQ(ask(ecu, tester, "10 82"), "7F 10 12");
    EXPECT_EQ(ask(ecu, tester, "31 81 0300"), "suppressed");
    EXPECT_EQ(routine.starts, 1);
    EXPECT_EQ(ask(ecu, tester, "31 81 0301"), "7F 31 31");
    // Without a request for S3 the session falls back to default.
    ask(ecu, tester, "10 03");
    std::this_thread::sleep_for(80ms);
    ask(ecu, tester, "3E 00");
    EXPECT_EQ(tester.session(), 0x01);
}

TEST_F(EcuTest, SlowAnswersSendPendingUntilTheLimitThenCancel) {
    Ecu_options options;
    options.p2 = 20ms;
    options.pending_interval = 20ms;
    options.max_pending = 3;
    const Ecu ecu = make(options);
    Tester tester(ecu.options());

    slow.delay = 70ms;  // after P2 and two intervals: one to three pending answers
    std::vector<std::string> pending;
    EXPECT_EQ(ask(ecu, tester, "22 0102", &pending), "62 01 02 AB");
    EXPECT_GE(pending.size(), 1u);
    EXPECT_LE(pending.size(), 3u);
    EXPECT_EQ(pending.front(), "7F 22 78");
    EXPECT_EQ(slow.cancels, 0);

    slow.delay = 10s;  // never in time: three pending answers, then cancelled
    pending.clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(ecu, tester, "22 0102", &pending), "7F 22 10");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(pending.size(), 3u);
    EXPECT_GE(slow.cancels, 1);

    // Once a pending answer went out, the tester waits for the final one: not suppressed.
    routine.delay = 70ms;
    EXPECT_EQ(ask(ecu, tester, "31 81 0300"), "71 01 03 00 00");
}

TEST_F(EcuTest, AbandonedRequestIsCancelledAndTestersShareAnExtensionInTurn) {
    const Ecu ecu = make();
    slow.delay = 300ms;
    Tester first(ecu.options());
    Tester second(ecu.options());
    // Two testers read the same DID: the extension serves one at a time.
    auto a = std::async(std::launch::async, [&] { return ask(ecu, first, "22 0102"); });
    auto b = std::async(std::launch::async, [&] { return ask(ecu, second, "22 0102"); });
    EXPECT_EQ(a.get(), "62 01 02 AB");
    EXPECT_EQ(b.get(), "62 01 02 AB");
    EXPECT_EQ(slow.most_inside, 1);

    slow.delay = 10s;
    Tester gone(ecu.options());
    auto c =
        std::async(std::launch::async, [&] { return ecu.answer(parse_hex("22 0102"), {}, gone); });
    std::this_thread::sleep_for(50ms);
    gone.abandon();
    ASSERT_EQ(c.wait_for(5s), std::future_status::ready);
    const Outcome outcome = c.get();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_TRUE(outcome.response.empty());
    EXPECT_GE(slow.cancels, 1);
}

}  // namespace
}  // namespace dmsim
