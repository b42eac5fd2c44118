// Contention a test can wait for: how many lock requests the kernel holds blocked on a file
// (/proc/locks lists them as "->" lines: POSIX, OFD and flock locks alike), so that a test that
// makes others queue on a lock knows they really are queued instead of sleeping a while.
#pragma once
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace tv::testing {

// Requests blocked on a lock of `path` now; -1 when the file or /proc/locks cannot be read.
inline int lock_waiters(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", ::major(st.st_dev), ::minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    if (!locks) return -1;
    int waiting = 0;
    for (std::string line; std::getline(locks, line);) {
        std::istringstream words(line);
        std::string word;
        bool blocked = false, here = false;
        while (words >> word) {
            blocked = blocked || word == "->";
            here = here || word == id;
        }
        waiting += blocked && here;
    }
    return waiting;
}

// Waits until at least `count` requests are blocked on `path` at once; false when that never
// happened within `limit`.
inline bool wait_for_lock_waiters(const std::string& path, int count,
                                  std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (lock_waiters(path) < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace tv::testing
