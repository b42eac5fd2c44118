#include "testing/test_root.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/shared_memory.h"
#include "testing/lock_waiters.h"

namespace tv::platform::testing {
namespace {

namespace fs = std::filesystem;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "<unset>";
}

TEST(TempRoot, PointsBothVariablesIntoTheFolderItMakesAndPutsThemBack) {
    struct Row {
        TmpDir tmp;
        std::string root_in_made, tmp_in_made;  // relative to made()
    };
    const Row rows[] = {{TmpDir::Inside, "", "/tmp"}, {TmpDir::Beside, "/root", "/tmp"}, {TmpDir::Root, "", ""}};
    for (const bool outer_set : {false, true}) {
        if (outer_set) {
            ::setenv("TORVANE_ROOT", "/outer/root", 1);
            ::setenv("TMPDIR", "/outer/absent-tmp", 1);  // no folder: the new one goes to /tmp
        } else {
            ::unsetenv("TORVANE_ROOT");
            ::unsetenv("TMPDIR");
        }
        const std::string before_root = env("TORVANE_ROOT"), before_tmp = env("TMPDIR");
        for (const Row& row : rows) {
            std::string made;
            {
                TempRoot r(row.tmp);
                made = r.made();
                EXPECT_EQ(made.rfind("/tmp/", 0), 0u) << made;
                EXPECT_EQ(r.path(), made + row.root_in_made);
                EXPECT_EQ(r.tmp(), made + row.tmp_in_made);
                EXPECT_EQ(env("TORVANE_ROOT"), r.path());
                EXPECT_EQ(env("TMPDIR"), r.tmp());
                EXPECT_TRUE(fs::is_directory(r.path()));
                EXPECT_TRUE(fs::is_directory(r.tmp()));
                EXPECT_EQ(r / "a/b", r.path() + "/a/b");
                // A test that takes write and search permission away still leaves nothing behind.
                fs::create_directories(r / "locked/inner");
                ::chmod((r / "locked/inner").c_str(), 0);
                ::chmod((r / "locked").c_str(), 0500);
                ::chmod(made.c_str(), 0500);
            }
            EXPECT_FALSE(fs::exists(made)) << made;
            EXPECT_EQ(env("TORVANE_ROOT"), before_root);
            EXPECT_EQ(env("TMPDIR"), before_tmp);
        }
    }
    ::unsetenv("TORVANE_ROOT");
    ::unsetenv("TMPDIR");
}

TEST(TempRoot, TakesAlongTheNamedObjectsAKilledProcessLeft) {
    std::string object;
    {
        TempRoot r;
        object = "/dev/shm" + ipc_name("RAWECG1.MMF");
        const pid_t child = fork_child([] {
            auto m = SharedMemory::open("RAWECG1.MMF", 4096, true);
            if (!m) return 1;
            ::raise(SIGKILL);
            return 2;
        });
        EXPECT_EQ(wait_child(child), -1000 - SIGKILL);
        EXPECT_TRUE(fs::exists(object));
    }
    EXPECT_FALSE(fs::exists(object));
}

TEST(LockWaiters, CountsOnlyTheRequestsQueuedOnThatFile) {
    TempRoot r;
    const std::string path = r.made() + "/index.lck", other = r.made() + "/other.lck";
    EXPECT_EQ(tv::testing::lock_waiters(path), -1);  // no such file
    // The child is forked before the locks are taken: an inherited lock description would be its own.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = fork_child([&] {
        ::close(go[1]);
        char c;
        if (::read(go[0], &c, 1) != 1) return 2;
        FileLock mine;
        return mine.lock(path, true, true) ? 0 : 1;
    });
    ::close(go[0]);
    FileLock held, elsewhere;
    ASSERT_TRUE(held.lock(path, true, true));
    ASSERT_TRUE(elsewhere.lock(other, true, true));
    EXPECT_EQ(tv::testing::lock_waiters(path), 0);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    ::close(go[1]);
    EXPECT_TRUE(tv::testing::wait_for_lock_waiters(path, 1));
    EXPECT_EQ(tv::testing::lock_waiters(other), 0);
    held.unlock();
    EXPECT_EQ(wait_child(child), 0);
    EXPECT_EQ(tv::testing::lock_waiters(path), 0);
}

}  // namespace
}  // namespace tv::platform::testing
