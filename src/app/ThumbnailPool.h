#pragma once
// Thumbnails made on worker threads, one per core: the cells the grid shows are made first,
// the rest in order. Results wait until the grid takes them; the first one waiting wakes it.
// Widget-free: tests and benchmarks drive it directly.
#include <QImage>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WorkerPool.h"

namespace vorlr {

class ThumbnailPool {
public:
    struct Done {
        size_t index = 0;
        QImage image;       // null when making it failed
        std::string error;  // why it failed
    };
    // Runs on a worker thread; may raise.
    using Make = std::function<QImage(size_t index)>;

    // wake runs on a worker thread whenever a result is ready and none was waiting since the
    // last take(). workers 0: one per core.
    ThumbnailPool(size_t count, Make make, std::function<void()> wake, int workers = 0);
    // stop().
    ~ThumbnailPool();
    ThumbnailPool(const ThumbnailPool&) = delete;
    ThumbnailPool& operator=(const ThumbnailPool&) = delete;

    // Thumbnails first..last-1 are made before any other not yet begun.
    void prefer(size_t first, size_t last);
    // Every result waiting, in the order they were made.
    std::vector<Done> take();
    // Thumbnails not yet made or taken.
    size_t outstanding();
    // The thumbnails under way are finished, the others dropped; the workers have ended when it
    // returns.
    void stop();

private:
    // Makes the next thumbnail, then queues itself again while any is left.
    void work();
    bool next(size_t& index);

    const size_t count_;
    const Make make_;
    const std::function<void()> wake_;
    std::mutex mutex_;
    std::vector<bool> begun_;
    size_t cursor_ = 0;  // no thumbnail below it waits to be begun
    size_t preferFirst_ = 0, preferLast_ = 0;
    size_t outstanding_;
    std::vector<Done> done_;
    bool woken_ = false;
    bool stopping_ = false;
    std::unique_ptr<WorkerPool> workers_;
};

}  // namespace vorlr
