#pragma once
// Worker threads that run queued tasks: every pool of workers in the program is one of these.
// Tasks start in the order they were queued; the threads start with the first task.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vorlr {

// The cores this process may run on: what its processor affinity allows (taskset, a container's
// CPU set), else all the machine has; at least 1.
int UsableCores();

class WorkerPool {
public:
    // threads 0: every task runs on the thread that posts it.
    explicit WorkerPool(size_t threads);
    // stop().
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    size_t threads() const { return size_; }
    // Queues task; dropped once stop() or finish() has begun.
    void post(std::function<void()> task);
    // Calls work(i) for every i below count, on the workers and on the calling thread, and
    // returns when all are done. May be called from a task: the caller alone finishes the
    // items no worker took.
    void run(size_t count, const std::function<void(size_t)>& work);
    // Queued tasks are dropped, those under way waited for; no task starts after it returns.
    void stop();
    // Queued tasks run, then as stop().
    void finish();

private:
    struct Batch;
    static void drain(Batch& batch);
    void loop();
    void end(bool runQueued);

    const size_t size_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};

}  // namespace vorlr
