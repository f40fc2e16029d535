// The one pool of worker threads: the cores counted as the processor affinity allows, tasks
// started in the order queued, a stop that drops the queue but waits for the tasks under way,
// a finish that runs the queue out, and batches that end even when every worker is busy.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WorkerPool.h"

using namespace vorlr;
using namespace std::chrono_literals;

namespace {

// A gate the tasks wait at until the test opens it.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    void wait() {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return open; });
    }
    void release() {
        {
            std::lock_guard lock(m);
            open = true;
        }
        cv.notify_all();
    }
};

TEST(UsableCores, FollowsTheAffinity) {
    cpu_set_t old;
    ASSERT_EQ(::sched_getaffinity(0, sizeof old, &old), 0);
    EXPECT_EQ(UsableCores(), CPU_COUNT(&old));
    int first = 0;
    while (!CPU_ISSET(first, &old)) ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    const int cores = UsableCores();
    ASSERT_EQ(::sched_setaffinity(0, sizeof old, &old), 0);
    EXPECT_EQ(cores, 1);
}

TEST(WorkerPool, TasksStartInTheOrderQueued) {
    WorkerPool pool(1);
    std::mutex m;
    std::vector<int> order;
    for (int i = 0; i < 50; ++i)
        pool.post([&, i] {
            std::lock_guard lock(m);
            order.push_back(i);
        });
    pool.finish();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(WorkerPool, StopDropsTheQueueAndWaitsForTasksUnderWay) {
    for (bool finish : {false, true}) {
        SCOPED_TRACE(finish);
        Gate gate;
        std::atomic<int> started{0}, finished{0};
        WorkerPool pool(2);
        for (int i = 0; i < 10; ++i)
            pool.post([&] {
                ++started;
                gate.wait();
                ++finished;
            });
        while (started < 2) std::this_thread::sleep_for(1ms);
        std::thread ending([&] { finish ? pool.finish() : pool.stop(); });
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(finished, 0);  // still waiting for the two under way
        gate.release();
        ending.join();
        EXPECT_EQ(finished, finish ? 10 : 2);
        EXPECT_EQ(started, finished.load());
        pool.post([&] { ++finished; });  // too late: never runs
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(finished, finish ? 10 : 2);
    }
}

TEST(WorkerPool, BatchesRunEveryItemOnceEvenWithTheWorkersBusy) {
    WorkerPool pool(2);
    std::vector<std::atomic<int>> hits(1000);
    pool.run(hits.size(), [&](size_t i) { ++hits[i]; });
    for (auto& h : hits) EXPECT_EQ(h, 1);

    // Both workers held by tasks that each run a batch of their own: the callers do the work.
    Gate gate;
    std::atomic<int> sums{0};
    for (int t = 0; t < 2; ++t)
        pool.post([&] {
            std::atomic<int> n{0};
            pool.run(100, [&](size_t) { ++n; });
            sums += n;
            gate.wait();
        });
    while (sums < 200) std::this_thread::sleep_for(1ms);
    // Both now wait at the gate: this batch's helpers queue behind them.
    std::atomic<int> mine{0};
    pool.run(100, [&](size_t) { ++mine; });
    EXPECT_EQ(mine, 100);
    gate.release();
    pool.finish();
    EXPECT_EQ(sums, 200);
}

TEST(WorkerPool, NoThreadsRunsTasksOnTheCaller) {
    WorkerPool pool(0);
    const auto caller = std::this_thread::get_id();
    std::thread::id ran;
    pool.post([&] { ran = std::this_thread::get_id(); });
    EXPECT_EQ(ran, caller);
    size_t n = 0;
    pool.run(5, [&](size_t) { ++n; });
    EXPECT_EQ(n, 5u);
}

}  // namespace
