#include "foundation/request_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "exec/future.h"

namespace {

using kem::dm::foundation::extension::append_result;
using kem::dm::foundation::extension::clear_cancel_request;
using kem::dm::foundation::extension::wait_unless_cancelled;
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

TEST(Request_wait, a_result_delivered_from_another_thread_ends_the_wait) {
    auto promise = std::make_shared<zun::com::Promise<Record>>();
    zun::com::Future<Record> future = promise->get_future();
    std::atomic<bool> cancel_requested{false};
    std::thread producer([promise] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        promise->set_value(Record{0x1234, {0xAA, 0xBB}});
    });

    Bytes response{0x01};
    EXPECT_TRUE(append_result(future, cancel_requested, response));
    producer.join();
    EXPECT_EQ(response, (Bytes{0x01, 0x12, 0x34, 0xAA, 0xBB}));
}

TEST(Request_wait, a_raised_flag_ends_a_pending_wait_and_leaves_the_response_alone) {
    zun::com::Promise<Record> promise;
    zun::com::Future<Record> future = promise.get_future();
    std::atomic<bool> cancel_requested{false};
    std::thread canceller([&cancel_requested] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cancel_requested.store(true);
    });

    Bytes response;
    EXPECT_FALSE(append_result(future, cancel_requested, response));
    canceller.join();
    EXPECT_TRUE(response.empty());
}

TEST(Request_wait, a_ready_result_wins_over_a_raised_flag) {
    zun::com::Promise<void> promise;
    zun::com::Future<void> future = promise.get_future();
    promise.set_value();
    std::atomic<bool> cancel_requested{true};
    Bytes response;
    EXPECT_TRUE(append_result(future, cancel_requested, response));
    EXPECT_TRUE(response.empty());
}

TEST(Request_wait, stored_errors_and_missing_state_are_thrown) {
    std::atomic<bool> cancel_requested{false};
    Bytes response;

    zun::com::Promise<void> failing;
    zun::com::Future<void> failed = failing.get_future();
    failing.set_exception(std::make_exception_ptr(std::runtime_error("transport")));
    EXPECT_THROW(append_result(failed, cancel_requested, response), std::runtime_error);

    zun::com::Future<Record> abandoned;
    {
        zun::com::Promise<Record> dropped;
        abandoned = dropped.get_future();
    }
    EXPECT_THROW(append_result(abandoned, cancel_requested, response), std::future_error);

    const zun::com::Future<Record> empty;
    try {
        wait_unless_cancelled(empty, cancel_requested);
        FAIL() << "a Future without state must throw";
    } catch (const std::future_error& error) {
        EXPECT_EQ(error.code(), std::future_errc::no_state);
    }
    EXPECT_TRUE(response.empty());
}

TEST(Request_wait, clearing_lowers_a_raised_flag) {
    std::atomic<bool> cancel_requested{true};
    clear_cancel_request(cancel_requested);
    EXPECT_FALSE(cancel_requested.load());
    clear_cancel_request(cancel_requested);
    EXPECT_FALSE(cancel_requested.load());
}

}  // namespace
