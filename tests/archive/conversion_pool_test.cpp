// The pool that converts entries ahead of the extraction: results in the order taken whatever
// order the workers finish in, failures as messages, the queue bounded by count and by bytes,
// and queued work dropped when the run ends early.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "archive/ConversionPool.h"
#include "platform/Errors.h"

using namespace vorlr;
using namespace std::chrono_literals;

namespace {

// Converts entry i to one file of i + 1 bytes of value i; later entries finish sooner.
EntryConversion numbered(int workers) {
    EntryConversion c;
    c.workers = workers;
    c.convert = [](const Archive&, size_t index) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * (10 - index % 10)));
        if (index == 13) throw Error("damaged picture: 13");
        if (index == 14) throw std::bad_alloc();
        if (index == 15) throw std::runtime_error("odd");
        return std::vector<ConvertedFile>{{".png", std::vector<uint8_t>(index + 1, uint8_t(index))}};
    };
    return c;
}

TEST(ConversionPool, ResultsComeInTheOrderTakenWithTheirFailures) {
    const Archive archive;
    for (int workers : {1, 2, 4}) {
        SCOPED_TRACE(workers);
        const EntryConversion conversion = numbered(workers);
        ConversionPool pool(archive, conversion);
        size_t submitted = 0, taken = 0;
        constexpr size_t kEntries = 30;
        // The key is not the entry: entry 2k + 1 under key k.
        while (taken < kEntries) {
            while (submitted < kEntries && !pool.full()) {
                pool.submit(submitted, 2 * submitted % kEntries + (2 * submitted >= kEntries));
                ++submitted;
            }
            const size_t index = 2 * taken % kEntries + (2 * taken >= kEntries);
            const ConversionPool::Result r = pool.take(taken++);
            if (index == 13) EXPECT_EQ(r.error, "damaged picture: 13");
            else if (index == 14) EXPECT_EQ(r.error, "Out of memory");
            else if (index == 15) EXPECT_EQ(r.error, "odd");
            else {
                EXPECT_EQ(r.error, "");
                ASSERT_EQ(r.files.size(), 1u);
                EXPECT_EQ(r.files[0].bytes, std::vector<uint8_t>(index + 1, uint8_t(index)));
            }
        }
    }
}

TEST(ConversionPool, FullByCountAndByBytesWaiting) {
    const Archive archive;
    EntryConversion c;
    c.convert = [](const Archive&, size_t) {
        return std::vector<ConvertedFile>{{".png", std::vector<uint8_t>(1000)}};
    };
    c.workers = 1;  // on the calling thread: one at a time
    {
        ConversionPool pool(archive, c);
        EXPECT_FALSE(pool.full());
        pool.submit(0, 0);
        EXPECT_TRUE(pool.full());
        EXPECT_EQ(pool.take(0).files.size(), 1u);
        EXPECT_FALSE(pool.full());
    }
    c.workers = 2;  // eight ahead per worker
    {
        ConversionPool pool(archive, c);
        for (size_t k = 0; k < 16; ++k) {
            EXPECT_FALSE(pool.full()) << k;
            pool.submit(k, k);
        }
        EXPECT_TRUE(pool.full());
        pool.take(0);
        EXPECT_FALSE(pool.full());
    }
    {
        // 2,500 bytes allowed waiting: full once three results are done and not taken.
        ConversionPool pool(archive, c, 2500);
        for (size_t k = 0; k < 3; ++k) pool.submit(k, k);
        EXPECT_EQ(pool.take(2).files.size(), 1u);  // waits for it; 0 and 1 may still run
        for (int i = 0; i < 40 && !pool.full(); ++i) std::this_thread::sleep_for(5ms);
        EXPECT_FALSE(pool.full());  // 2,000 bytes at most
        pool.submit(3, 3);
        for (int i = 0; i < 400 && !pool.full(); ++i) std::this_thread::sleep_for(5ms);
        EXPECT_TRUE(pool.full());   // 3,000 bytes waiting
        pool.take(0);
        EXPECT_FALSE(pool.full());
    }
}

TEST(ConversionPool, EndingEarlyDropsTheQueueAndWaitsForWorkUnderWay) {
    const Archive archive;
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> started{0}, finished{0};
    EntryConversion c;
    c.workers = 2;
    c.convert = [&](const Archive&, size_t) {
        ++started;
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return open; });
        ++finished;
        return std::vector<ConvertedFile>{};
    };
    auto pool = std::make_unique<ConversionPool>(archive, c);
    for (size_t k = 0; k < 16; ++k) pool->submit(k, k);
    while (started < 2) std::this_thread::sleep_for(1ms);
    std::thread ending([&] { pool.reset(); });
    std::this_thread::sleep_for(300ms);  // the queue is cleared before the gate opens
    {
        std::lock_guard lock(m);
        open = true;
    }
    cv.notify_all();
    ending.join();
    EXPECT_EQ(started, 2);
    EXPECT_EQ(finished, 2);  // the conversions under way ran to their end before it returned
}

}  // namespace
