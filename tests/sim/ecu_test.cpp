// The ECU's sessions, tester present, suppress bit and response pending, with extensions
// that answer at once, late, or only when cancelled.

#include "sim/ecu/ecu.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_extension.h"

namespace dmsim {
namespace {

using namespace std::chrono_literals;

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

    support::Fake_did slow{};
    support::Fake_routine routine{};
};

TEST_F(EcuTest, SessionsTesterPresentAndTheSuppressBit) {
    Ecu_options options;
    options.s3 = 500ms;  // far beyond the gaps between the requests below
    const Ecu ecu = make(options);
    Tester tester(ecu.options());
    // The bit 0x80 suppresses positive answers only; the request still runs.
    const char* const cases[][2] = {{"10 01", "50 01 00 32 01 F4"},
                                    {"10 02", "7F 10 12"},
                                    {"10", "7F 10 13"},
                                    {"10 03 00", "7F 10 13"},
                                    {"3E 00", "7E 00"},
                                    {"3E 01", "7F 3E 12"},
                                    {"3E", "7F 3E 13"},
                                    {"3E 80", "suppressed"},
                                    {"3E 81", "7F 3E 12"},
                                    {"10 03", "50 03 00 32 01 F4"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ask(ecu, tester, c[0]), c[1]) << c[0];
    }
    EXPECT_EQ(tester.session(), 0x03);
    EXPECT_EQ(ask(ecu, tester, "10 83"), "suppressed");
    EXPECT_EQ(tester.session(), 0x03);
    EXPECT_EQ(ask(ecu, tester, "10 82"), "7F 10 12");
    EXPECT_EQ(ask(ecu, tester, "31 81 0300"), "suppressed");
    EXPECT_EQ(routine.calls.size(), 1u);
    EXPECT_EQ(ask(ecu, tester, "31 81 0301"), "7F 31 31");
    // Without a request for S3 the session falls back to default.
    ask(ecu, tester, "10 03");
    std::this_thread::sleep_for(800ms);
    ask(ecu, tester, "3E 00");
    EXPECT_EQ(tester.session(), 0x01);
}

// The pending answers are counted, not timed: an answer 100 ms late is preceded by at
// least one, and the limit (three, 1.2 s apart) is far beyond what a slow build adds.
TEST_F(EcuTest, SlowAnswersSendPendingUntilTheLimitThenCancel) {
    Ecu_options options;
    options.p2 = 20ms;
    options.pending_interval = 1200ms;
    options.max_pending = 3;
    const Ecu ecu = make(options);
    Tester tester(ecu.options());

    slow.data = {0xAB};
    slow.delay = 100ms;
    std::vector<std::string> pending;
    EXPECT_EQ(ask(ecu, tester, "22 0102", &pending), "62 01 02 AB");
    EXPECT_EQ(pending, std::vector<std::string>{"7F 22 78"});
    EXPECT_EQ(slow.cancels, 0);

    slow.delay = 10s;  // never in time: three pending answers, then cancelled
    pending.clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(ecu, tester, "22 0102", &pending), "7F 22 10");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    EXPECT_EQ(pending.size(), 3u);
    EXPECT_GE(slow.cancels, 1);

    // Once a pending answer went out, the tester waits for the final one: not suppressed.
    routine.delay = 100ms;
    EXPECT_EQ(ask(ecu, tester, "31 81 0300"), "71 01 03 00 A0");
}

TEST_F(EcuTest, AbandonedRequestIsCancelledAndTestersShareAnExtensionInTurn) {
    const Ecu ecu = make();
    slow.data = {0xAB};
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
