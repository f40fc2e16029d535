#include "platform/WorkerPool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace vorlr {

int UsableCores() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

struct WorkerPool::Batch {
    size_t count = 0;
    const std::function<void(size_t)>* work = nullptr;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::mutex mutex;
    std::condition_variable finished;
};

WorkerPool::WorkerPool(size_t threads) : size_(threads) {}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::post(std::function<void()> task) {
    if (size_ == 0) return task();
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(std::move(task));
        while (threads_.size() < size_) threads_.emplace_back([this] { loop(); });
    }
    wake_.notify_one();
}

void WorkerPool::loop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}

void WorkerPool::end(bool runQueued) {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (!runQueued) queue_.clear();
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (std::thread& t : threads) t.join();
}

void WorkerPool::stop() { end(false); }
void WorkerPool::finish() { end(true); }

void WorkerPool::drain(Batch& batch) {
    for (size_t i; (i = batch.next++) < batch.count;) {
        (*batch.work)(i);
        if (++batch.done == batch.count) {
            std::lock_guard lock(batch.mutex);
            batch.finished.notify_all();
        }
    }
}

void WorkerPool::run(size_t count, const std::function<void(size_t)>& work) {
    if (size_ == 0 || count <= 1) {
        for (size_t i = 0; i < count; ++i) work(i);
        return;
    }
    auto batch = std::make_shared<Batch>();
    batch->count = count;
    batch->work = &work;
    // A helper that starts after the batch is done finds nothing left and ends at once.
    for (size_t k = 0; k < std::min(size_, count - 1); ++k) post([batch] { drain(*batch); });
    drain(*batch);
    std::unique_lock lock(batch->mutex);
    batch->finished.wait(lock, [&] { return batch->done == count; });
}

}  // namespace vorlr
