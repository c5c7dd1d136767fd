#include "foundation/request_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <vector>

#include "exec/future.h"

// Waiting for a result, a cancel from another thread and failures of the call are checked end
// to end; here what a race between them must give.

namespace {

using kem::dm::foundation::extension::append_result;
using kem::dm::foundation::extension::clear_cancel_request;
using Bytes = std::vector<std::uint8_t>;

struct Record {
    std::uint16_t value = 0;
    Bytes tail;
    template <class F>
    void visit(F& f) {
        f(value);
        f(tail);
    }
};

TEST(Request_wait, a_ready_result_wins_over_a_raised_flag) {
    std::atomic<bool> cancel_requested{true};
    zun::com::Promise<Record> done;
    zun::com::Future<Record> completed = done.get_future();
    done.set_value(Record{0x1234, {0xAA}});
    Bytes response{0x01};
    EXPECT_TRUE(append_result(completed, cancel_requested, response));
    EXPECT_EQ(response, (Bytes{0x01, 0x12, 0x34, 0xAA}));
    clear_cancel_request(cancel_requested);
    EXPECT_FALSE(cancel_requested);

    zun::com::Future<Record> empty;  // throws instead of waiting for ever
    EXPECT_THROW(append_result(empty, cancel_requested, response), std::future_error);
}

}  // namespace
