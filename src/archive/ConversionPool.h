#pragma once
// Entry conversions run ahead of the extraction on worker threads, their results taken back in
// the order asked for. Internal to safe extraction.
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "archive/SafeExtract.h"
#include "platform/WorkerPool.h"

namespace vorlr {

class ConversionPool {
public:
    struct Result {
        std::vector<ConvertedFile> files;
        std::string error;  // not empty: the conversion failed
    };

    // Converted bytes held waiting for take() before full() says so.
    static constexpr size_t kWaitingBytes = size_t{256} << 20;

    // workers of 1 or less convert on the calling thread, in take().
    ConversionPool(const Archive& archive, const EntryConversion& conversion,
                   size_t waitingBudget = kWaitingBytes);
    // Waits for the conversions under way; queued ones are dropped.
    ~ConversionPool();
    ConversionPool(const ConversionPool&) = delete;
    ConversionPool& operator=(const ConversionPool&) = delete;

    // Whether another conversion may be queued: a few per worker ahead of the one taken next
    // (pictures vary in size, so the workers must not wait on one large picture), and no more
    // than a budget of converted bytes waiting.
    bool full();
    // Queues the conversion of entry index under a key of the caller's (unique while pending).
    void submit(size_t key, size_t index);
    // The result for key, waiting for it when needed.
    Result take(size_t key);

private:
    Result run(size_t index) const;

    const Archive& archive_;
    const EntryConversion& conversion_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::map<size_t, Result> results_;
    std::map<size_t, size_t> inline_;  // key -> index, when there are no workers
    size_t pending_ = 0;
    size_t waitingBytes_ = 0;  // held by results not yet taken
    size_t waitingBudget_;
    std::unique_ptr<WorkerPool> workers_;  // none: conversions run in take()
};

}  // namespace vorlr
