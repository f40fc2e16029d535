#include "archive/ConversionPool.h"

#include <exception>
#include <new>

namespace vorlr {

ConversionPool::ConversionPool(const Archive& archive, const EntryConversion& conversion,
                               size_t waitingBudget)
    : archive_(archive), conversion_(conversion), waitingBudget_(waitingBudget) {
    if (conversion.workers > 1) workers_ = std::make_unique<WorkerPool>(conversion.workers);
}

ConversionPool::~ConversionPool() {
    if (workers_) workers_->stop();
}

namespace {
constexpr size_t kAheadPerWorker = 8;

size_t bytesOf(const ConversionPool::Result& result) {
    size_t n = 0;
    for (const ConvertedFile& f : result.files) n += f.bytes.size();
    return n;
}
}  // namespace

bool ConversionPool::full() {
    if (!workers_) return pending_ >= 1;
    if (pending_ >= kAheadPerWorker * workers_->threads()) return true;
    std::lock_guard lock(mutex_);
    return waitingBytes_ >= waitingBudget_;
}

void ConversionPool::submit(size_t key, size_t index) {
    ++pending_;
    if (!workers_) {
        inline_[key] = index;
        return;
    }
    workers_->post([this, key, index] {
        Result result = run(index);
        {
            std::lock_guard lock(mutex_);
            waitingBytes_ += bytesOf(result);
            results_.emplace(key, std::move(result));
        }
        done_.notify_all();
    });
}

ConversionPool::Result ConversionPool::take(size_t key) {
    --pending_;
    if (!workers_) {
        const size_t index = inline_.at(key);
        inline_.erase(key);
        return run(index);
    }
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return results_.count(key) != 0; });
    Result result = std::move(results_.at(key));
    results_.erase(key);
    waitingBytes_ -= bytesOf(result);
    return result;
}

ConversionPool::Result ConversionPool::run(size_t index) const {
    Result result;
    try {
        result.files = conversion_.convert(archive_, index);
    } catch (const std::bad_alloc&) {
        result.error = "Out of memory";
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    return result;
}

}  // namespace vorlr
