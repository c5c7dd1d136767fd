#pragma once
// The ECU as a tester sees it: diagnostic sessions, tester present, the suppress-positive-
// response bit and response pending, around the manager's UDS framing (Uds_router). Shared
// by the standard input mode and the DoIP server.
//
//   dmsim::Ecu ecu(extensions.dids(), extensions.rids(), dmsim::Ecu_options{});
//   dmsim::Tester tester(ecu.options());              // one per tester (connection)
//   Outcome outcome = ecu.answer({0x10, 0x03}, meta, tester,
//                                [](const Bytes& pending) { /* send 7F <sid> 78 */ });
//
// 10 DiagnosticSessionControl: 01 default, 03 extended -> 50 SF P2(2 bytes, ms)
//    P2*(2 bytes, 10 ms); other sub-functions 7F 10 12, a length other than 2 7F 10 13. A
//    non-default session falls back to default after S3 without a request.
// 3E TesterPresent: 00 -> 7E 00; other sub-functions 7F 3E 12, wrong length 7F 3E 13.
// Bit 0x80 of the sub-function of 10, 3E and 31 suppresses a positive answer (a negative
// one is still sent, and so is the final answer once a pending answer went out).
// Response pending: an answer not ready after P2 sends 7F <sid> 78, again every pending
// interval; after max_pending of them the request is cancelled through the extension's
// cancel and answers 7F <sid> 10.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/ecu/uds_router.h"

namespace dmsim {

struct Ecu_options {
    std::chrono::milliseconds p2{50};
    std::chrono::milliseconds p2_star{5000};
    std::chrono::milliseconds pending_interval{2000};
    unsigned max_pending = 10;
    std::chrono::milliseconds s3{5000};
    Read_limits limits;
    // --cancel-after: a request still waiting then is cancelled and has no answer.
    std::optional<std::chrono::milliseconds> cancel_after;
};

// The clock of one tester's running request, on a thread of its own: sends the pending
// answers when they are due and cancels the running operation (again every 50 ms while it
// runs) once the request is given up: too many pending answers, --cancel-after, or the
// tester gone.
class Pending_watch : public Operation_watch {
  public:
    using Clock = std::chrono::steady_clock;
    using Notify = std::function<void()>;

    explicit Pending_watch(const Ecu_options& options);
    ~Pending_watch() override;
    Pending_watch(const Pending_watch&) = delete;
    Pending_watch& operator=(const Pending_watch&) = delete;

    // A request starts; `pending` runs on the watch's thread for each pending answer due.
    void start(Notify pending);
    // The request has its answer: no more pending calls after this returns. Returns the
    // number of pending answers sent.
    unsigned finish();
    // Gives the running request up (tester gone): its operations are cancelled at once, and
    // no pending answers are sent any more. Stays until the next start.
    void abandon();

    enum class Verdict { running, limit, cancel_after, abandoned };
    Verdict verdict() const;

    void begin_request() override {}
    void watch(std::function<bool()> cancel) override;
    bool unwatch() override;

    static constexpr std::chrono::milliseconds retry_interval{50};

  private:
    void run();

    const Ecu_options options_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool active_ = false;
    Notify pending_;
    unsigned sent_ = 0;
    Clock::time_point next_pending_{};
    std::optional<Clock::time_point> cancel_at_;
    Verdict verdict_ = Verdict::running;
    std::function<bool()> cancel_;
    Clock::time_point next_cancel_{};
    bool busy_ = false;  // a pending or cancel call runs outside the lock
    bool fired_ = false;
    bool stopping_ = false;
    std::thread thread_;  // last: starts after the members above exist
};

// One tester's state at the ECU: its diagnostic session and its request's clock. A tester
// sends one request at a time.
class Tester {
  public:
    explicit Tester(const Ecu_options& options) : watch_(options) {}
    // The tester is gone: its running request is cancelled and answers nothing.
    void abandon() { watch_.abandon(); }
    std::uint8_t session() const { return session_; }

  private:
    friend class Ecu;
    std::uint8_t session_ = 0x01;
    Pending_watch::Clock::time_point last_request_ = Pending_watch::Clock::now();
    Pending_watch watch_;
};

class Ecu {
  public:
    Ecu(Uds_router::Did_map dids, Uds_router::Rid_map rids, Ecu_options options);

    const Ecu_options& options() const { return options_; }

    // Answers one request of `tester` on the calling thread. `pending` gets each pending
    // answer (7F <sid> 78) when it is due, on another thread, before this returns. An
    // abandoned request, or one cancelled by --cancel-after, answers with cancelled set.
    Outcome answer(const Bytes& request, const kem::dm::types::MetaInfo& meta, Tester& tester,
                   const std::function<void(const Bytes&)>& pending = nullptr) const;

  private:
    Outcome session_control(const Bytes& request, Tester& tester) const;
    Outcome tester_present(const Bytes& request) const;

    Ecu_options options_;
    Uds_router router_;
};

}  // namespace dmsim
