#include "archive/ConversionPool.h"

#include <exception>
#include <new>

namespace vorlr {

ConversionPool::ConversionPool(const Archive& archive, const EntryConversion& conversion,
                               size_t waitingBudget)
    : archive_(archive), conversion_(conversion), waitingBudget_(waitingBudget) {
    for (int i = 0; i < conversion.workers && conversion.workers > 1; ++i)
        threads_.emplace_back([this] { work(); });
}

ConversionPool::~ConversionPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
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
    if (threads_.empty()) return pending_ >= 1;
    if (pending_ >= kAheadPerWorker * threads_.size()) return true;
    std::lock_guard lock(mutex_);
    return waitingBytes_ >= waitingBudget_;
}

void ConversionPool::submit(size_t key, size_t index) {
    ++pending_;
    if (threads_.empty()) {
        inline_[key] = index;
        return;
    }
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(key, index);
    }
    wake_.notify_one();
}

ConversionPool::Result ConversionPool::take(size_t key) {
    --pending_;
    if (threads_.empty()) {
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

void ConversionPool::work() {
    for (;;) {
        std::pair<size_t, size_t> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            job = queue_.front();
            queue_.pop_front();
        }
        Result result = run(job.second);
        {
            std::lock_guard lock(mutex_);
            waitingBytes_ += bytesOf(result);
            results_.emplace(job.first, std::move(result));
        }
        done_.notify_all();
    }
}

}  // namespace vorlr
