#include "exec/strand.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "binding/runtime/runtime.h"

namespace kem::com {
namespace {

using Log = std::vector<std::string>;

// A private pool whose one worker the test starts when it wants.
struct Test_pool {
    ~Test_pool() { stop(); }
    void start() {
        worker = std::thread([this] { pool.run_worker(); });
    }
    void stop() {
        pool.stop();
        if (worker.joinable()) {
            worker.join();
        }
    }
    static_thread_pool pool;
    std::thread worker;
};

TEST(Strand, TwoPostsQueueOneRunThatExecutesBothInOrder) {
    Test_pool test_pool;
    auto strand = std::make_shared<Strand>(&test_pool.pool);
    Log log;
    strand->internal_post([&] { log.push_back(strand->running_in_this_thread() ? "1 on" : "1"); });
    strand->internal_post([&] { log.push_back("2"); });
    EXPECT_EQ(test_pool.pool.outstanding(), 1u);
    test_pool.start();
    strand->join();
    EXPECT_EQ(log, (Log{"1 on", "2"}));
    EXPECT_FALSE(strand->running_in_this_thread());

    std::promise<bool> seen_on_worker;  // the same worker, between strand tasks
    test_pool.pool.post([&] { seen_on_worker.set_value(strand->running_in_this_thread()); });
    EXPECT_FALSE(seen_on_worker.get_future().get());
}

TEST(Strand, JoinFromOwnTaskReturnsAndQueuedTasksStillRun) {
    Test_pool test_pool;
    test_pool.start();
    auto strand = std::make_shared<Strand>(&test_pool.pool);
    Log log;
    std::promise<void> second_queued;
    strand->internal_post([&, queued = second_queued.get_future().share()] {
        queued.wait();
        strand->join();
        log.push_back("joined inside");
        strand->internal_post([&] { log.push_back("accepted while stopping"); });
    });
    strand->internal_post([&] { log.push_back("second"); });
    second_queued.set_value();
    strand->join();
    strand->internal_post([&] { log.push_back("after join"); });
    test_pool.stop();
    EXPECT_EQ(log, (Log{"joined inside", "second", "accepted while stopping"}));
}

TEST(Strand, DestroyedByItsOwnTaskDropsQueuedTasks) {
    Test_pool test_pool;
    auto owner = std::make_shared<Strand>(&test_pool.pool);
    auto capture = std::make_shared<int>(0);
    std::atomic<int> ran{0};
    owner->internal_post([&] {
        ++ran;
        owner.reset();  // the last owner goes while the strand's task runs
    });
    owner->internal_post([&ran, capture] { ++ran; });
    owner->internal_post([&ran, capture] { ++ran; });
    test_pool.start();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (capture.use_count() != 1 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    test_pool.stop();
    EXPECT_EQ(capture.use_count(), 1) << "the queued tasks were not dropped";
    EXPECT_EQ(ran, 1);
}

TEST(Static_thread_pool, CountsOutstandingWorkAndDropsPostsOnceStoppedLikeAJoinedStrand) {
    Test_pool test_pool;
    static_thread_pool& pool = test_pool.pool;
    auto strand = std::make_shared<Strand>(&pool);
    strand->join();  // empty: stopped at once, needs no worker
    strand->internal_post([] { ADD_FAILURE() << "task of a stopped strand ran"; });
    bool ran = false;
    pool.post([&] { ran = true; });
    EXPECT_EQ(pool.outstanding(), 1u);
    test_pool.start();
    pool.wait_idle();
    EXPECT_TRUE(ran);
    test_pool.stop();
    pool.post([] { ADD_FAILURE() << "item of a stopped pool ran"; });
    EXPECT_EQ(pool.outstanding(), 0u);
}

// Posters and a joiner on one strand of the process pool: tasks never overlap, each
// poster's tasks run in its order without gaps, nothing runs after join has returned.
TEST(Strand, ConcurrentPostersAndJoinerOnProcessPool) {
    auto factory = runtime::Component_singleton::get_thread_pool_factory();
    static_thread_pool* pool = factory->get_thread_pool(0);
    EXPECT_EQ(pool, runtime::Component_singleton::get_thread_pool_factory()->get_thread_pool(0));
    EXPECT_THROW(factory->get_thread_pool(1), std::out_of_range);

    constexpr int posters = 4;
    auto strand = std::make_shared<Strand>(pool);
    std::vector<int> last_seen(posters, -1);  // strand tasks only
    bool in_order = true;
    std::atomic<bool> inside{false};
    std::atomic<int> executed{0};
    auto task = [&](int poster, int sequence) {
        EXPECT_FALSE(inside.exchange(true)) << "strand tasks overlap";
        in_order = in_order && sequence == last_seen[poster] + 1;
        last_seen[poster] = sequence;
        ++executed;
        inside = false;
    };
    std::vector<std::thread> threads;
    for (int poster = 0; poster < posters; ++poster) {
        threads.emplace_back([&, poster] {
            for (int sequence = 0; sequence < 500; ++sequence) {
                strand->internal_post([&task, poster, sequence] { task(poster, sequence); });
            }
        });
    }
    int executed_at_join = -1;
    threads.emplace_back([&] {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (executed < 100 && std::chrono::steady_clock::now() < limit) {
            std::this_thread::yield();
        }
        strand->join();
        executed_at_join = executed;
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(executed, executed_at_join);
    EXPECT_TRUE(in_order);
    int accepted = 0;
    for (int last : last_seen) {
        accepted += last + 1;
    }
    EXPECT_EQ(accepted, executed);
}

}  // namespace
}  // namespace kem::com
