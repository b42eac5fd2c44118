// The workers are the threads of Qt's global pool. The raster painter splits a large fill over
// that pool unless it runs on one of the pool's threads itself: pages drawn on threads of our own
// would each hand their fills to a pool that is busy, and wait on it (most of the time went to
// that, on 8 cores). Pool threads also live on between calls, so a page drawn on one finds its
// fonts loaded, its glyphs rasterised and its picture allocated.
#include "tolbex/reports/page_workers.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace tv {

namespace {

// One call's jobs, handed out in index order to whoever asks.
struct Batch {
    const std::function<void(std::size_t)>* job = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr first_error;
    std::once_flag error_once;

    void take_jobs() {
        for (std::size_t i; !failed.load() && (i = next.fetch_add(1)) < count;) {
            try {
                (*job)(i);
            } catch (...) {
                std::call_once(error_once, [&] { first_error = std::current_exception(); });
                failed = true;
            }
        }
    }
};

// Threads worth starting for `jobs` pages: one per core, never more than the jobs, at least one.
std::size_t page_worker_count(std::size_t jobs) {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(cores == 0 ? 1 : cores, 1, std::max<std::size_t>(jobs, 1));
}

}  // namespace

void for_each_page_parallel(std::size_t count, const std::function<void(std::size_t)>& job) {
    Batch batch;
    batch.job = &job;
    batch.count = count;
    QThreadPool* pool = QThreadPool::globalInstance();
    const std::size_t workers = page_worker_count(count);
    // On a pool thread (a job that starts jobs) waiting for the pool could wait for ever.
    if (workers < 2 || pool->contains(QThread::currentThread())) {
        batch.take_jobs();
    } else {
        std::mutex mutex;
        std::condition_variable done;
        std::size_t running = workers;
        for (std::size_t w = 0; w < workers; ++w) {
            pool->start([&] {
                batch.take_jobs();
                const std::lock_guard lock(mutex);
                if (--running == 0) done.notify_all();
            });
        }
        // The caller only waits: a page drawn here would have its fills split over the pool.
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return running == 0; });
    }
    if (batch.first_error) std::rethrow_exception(batch.first_error);
}

}  // namespace tv
