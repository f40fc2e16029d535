#include "app/ThumbnailPool.h"

#include <algorithm>
#include <exception>
#include <new>

namespace vorlr {

ThumbnailPool::ThumbnailPool(size_t count, Make make, std::function<void()> wake, int workers)
    : count_(count), make_(std::move(make)), wake_(std::move(wake)), begun_(count, false),
      outstanding_(count) {
    if (workers <= 0) workers = UsableCores();
    const size_t threads = std::min(static_cast<size_t>(workers), count);
    if (threads == 0) return;
    workers_ = std::make_unique<WorkerPool>(threads);
    for (size_t i = 0; i < threads; ++i) workers_->post([this] { work(); });
}

ThumbnailPool::~ThumbnailPool() { stop(); }

void ThumbnailPool::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (workers_) workers_->stop();
}

void ThumbnailPool::prefer(size_t first, size_t last) {
    std::lock_guard lock(mutex_);
    preferFirst_ = std::min(first, count_);
    preferLast_ = std::clamp(last, preferFirst_, count_);
}

std::vector<ThumbnailPool::Done> ThumbnailPool::take() {
    std::lock_guard lock(mutex_);
    woken_ = false;
    outstanding_ -= done_.size();
    return std::exchange(done_, {});
}

size_t ThumbnailPool::outstanding() {
    std::lock_guard lock(mutex_);
    return outstanding_;
}

// Under the lock: the preferred range first, then the lowest thumbnail not begun.
bool ThumbnailPool::next(size_t& index) {
    for (size_t i = preferFirst_; i < preferLast_; ++i)
        if (!begun_[i]) {
            index = i;
            begun_[i] = true;
            return true;
        }
    while (cursor_ < count_ && begun_[cursor_]) ++cursor_;
    if (cursor_ == count_) return false;
    index = cursor_;
    begun_[cursor_] = true;
    return true;
}

void ThumbnailPool::work() {
    size_t index = 0;
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || !next(index)) return;
    }
    Done done;
    done.index = index;
    try {
        done.image = make_(index);
    } catch (const std::bad_alloc&) {
        done.error = "Out of memory";
    } catch (const std::exception& e) {
        done.error = e.what();
    }
    if (done.image.isNull() && done.error.empty()) done.error = "no picture";
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        done_.push_back(std::move(done));
        wake = !woken_;
        woken_ = true;
    }
    if (wake && wake_) wake_();
    workers_->post([this] { work(); });
}

}  // namespace vorlr
