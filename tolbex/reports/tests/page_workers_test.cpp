#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "tolbex/reports/page_workers.h"

namespace tv {
namespace {

TEST(PageWorkers, EveryJobRunsOnceAndALaterJobMayWaitForAnEarlierOne) {
    for (const std::size_t count : {0u, 1u, 3u, 200u}) {
        std::vector<std::atomic<int>> runs(count);
        // Each job waits for the one before it, as the page writer does: this only ends when jobs
        // are handed out in order and every one handed out runs.
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t done = 0;
        for_each_page_parallel(count, [&](std::size_t i) {
            ++runs[i];
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return done == i; });
            ++done;
            changed.notify_all();
        });
        EXPECT_EQ(done, count);
        for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << count << " " << i;
    }
}

TEST(PageWorkers, AJobThatThrowsEndsTheCallAndJobsMayStartJobs) {
    std::atomic<int> ran{0};
    try {
        for_each_page_parallel(100, [&](std::size_t i) {
            ++ran;
            if (i == 3) throw std::runtime_error("page 3");
        });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "page 3");
    }
    EXPECT_GE(ran.load(), 4);

    // A job on a worker that starts jobs of its own gets them run on its own thread.
    std::atomic<int> inner{0};
    for_each_page_parallel(8, [&](std::size_t) { for_each_page_parallel(5, [&](std::size_t) { ++inner; }); });
    EXPECT_EQ(inner.load(), 40);
}

}  // namespace
}  // namespace tv
