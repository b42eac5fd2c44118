#include "tolbex/reports/page_workers.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tv {

std::size_t page_worker_count(std::size_t jobs) {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(cores == 0 ? 1 : cores, 1, std::max<std::size_t>(jobs, 1));
}

void for_each_page_parallel(std::size_t count, const std::function<void(std::size_t)>& job) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr first_error;
    std::once_flag error_once;
    auto work = [&] {
        for (std::size_t i; !failed.load() && (i = next.fetch_add(1)) < count;) {
            try {
                job(i);
            } catch (...) {
                std::call_once(error_once, [&] { first_error = std::current_exception(); });
                failed = true;
            }
        }
    };
    std::vector<std::thread> threads;
    const std::size_t workers = page_worker_count(count);
    threads.reserve(workers - 1);
    try {
        for (std::size_t t = 1; t < workers; ++t) threads.emplace_back(work);
    } catch (const std::system_error&) {
        // No more threads to be had: the ones running, and this one, do the rest.
    }
    work();
    for (auto& t : threads) t.join();
    if (first_error) std::rethrow_exception(first_error);
}

}  // namespace tv
