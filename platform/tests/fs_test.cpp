#include "platform/fs.h"

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "testing/test_root.h"

namespace tv::platform {
namespace {

using testing::TempRoot;
namespace fs = std::filesystem;

void touch(const std::string& path, const std::string& text = {}) { ASSERT_TRUE(atomic_write_file(path, text)); }

TEST(Fs, IequalsIsAsciiOnly) {
    EXPECT_TRUE(iequals("ARCHINFO.DAT", "archinfo.dat"));
    EXPECT_FALSE(iequals("abc", "abcd"));
    EXPECT_FALSE(iequals("\xC9", "\xE9"));  // É and é differ: bytes >= 0x80 compare exactly
    EXPECT_TRUE(iequals("\xE9x", "\xE9X"));
}

TEST(Fs, FindNameCi) {
    TempRoot root;
    touch(root / "ARCHINFO.DAT");
    EXPECT_EQ(find_name_ci(root.path(), "archinfo.dat"), root / "ARCHINFO.DAT");
    EXPECT_EQ(find_name_ci(root.path() + "/", "ArchInfo.Dat"), root / "ARCHINFO.DAT");
    EXPECT_EQ(find_name_ci(root.path(), "missing.dat"), std::nullopt);
    EXPECT_EQ(find_name_ci(root / "nofolder", "x"), std::nullopt);

    // Several spellings: the exact one wins.
    touch(root / "Page.1");
    touch(root / "page.1");
    EXPECT_EQ(find_name_ci(root.path(), "page.1"), root / "page.1");
    EXPECT_EQ(find_name_ci(root.path(), "Page.1"), root / "Page.1");
    EXPECT_TRUE(find_name_ci(root.path(), "PAGE.1").has_value());

    // Names that are not one plain component are never looked up.
    for (const char* bad : {"", ".", "..", "tmp/x", "../ARCHINFO.DAT"})
        EXPECT_EQ(find_name_ci(root.path(), bad), std::nullopt) << bad;
}

TEST(Fs, ResolvePathCi) {
    TempRoot root;
    fs::create_directories(root / "Reports/R1");
    touch(root / "Reports/R1/RAWECG1.DAT");
    EXPECT_EQ(resolve_path_ci(root / "reports/r1/rawecg1.dat"), root / "Reports/R1/RAWECG1.DAT");
    EXPECT_EQ(resolve_path_ci(root / "Reports/R1/RAWECG1.DAT"), root / "Reports/R1/RAWECG1.DAT");
    // The first component found nowhere keeps itself and the rest as given.
    EXPECT_EQ(resolve_path_ci(root / "REPORTS/new/Sub/x.txt"), root / "Reports/new/Sub/x.txt");
    EXPECT_EQ(resolve_path_ci(root / "reports//r1/"), root / "Reports//R1/");
}

TEST(Fs, AtomicWriteReplacesKeepsModeAndLeavesNoTemporary) {
    TempRoot root;
    std::string f = root / "index.dat";
    ASSERT_TRUE(atomic_write_file(f, "one\r\n"));
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    std::string big(300000, 'x');
    ASSERT_TRUE(atomic_write_file(f, big));
    EXPECT_EQ(read_whole_file(f), big);
    struct stat st;
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_TRUE(atomic_write_file(f, ""));
    EXPECT_EQ(read_whole_file(f), "");
    int entries = 0;
    for (auto& e : fs::directory_iterator(root.path())) entries += e.path().filename() != "tmp";
    EXPECT_EQ(entries, 1);

    // A folder that does not exist: failure, nothing created.
    EXPECT_FALSE(atomic_write_file(root / "no/such.dat", "x"));
    EXPECT_FALSE(fs::exists(root / "no"));
}

// Relative to a folder held open: the folder's name swapped for a link leads the write nowhere
// else, and a link at the file's own name is replaced, never written through.
TEST(Fs, AtomicWriteAtStaysInTheFolderHeldOpen) {
    TempRoot root;
    fs::create_directories(root / "archive");
    fs::create_directories(root / "private");
    touch(root / "private/keep", "mine");
    const UniqueFd held(::open((root / "archive").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(held);
    fs::rename(root / "archive", root / "moved");
    fs::create_directory_symlink(root / "private", root / "archive");
    fs::create_symlink(root / "private/keep", root / "moved/index.dat");
    ASSERT_TRUE(atomic_write_file_at(held.get(), "index.dat", "new"));
    EXPECT_EQ(read_whole_file(root / "moved/index.dat"), "new");
    EXPECT_FALSE(fs::is_symlink(root / "moved/index.dat"));
    EXPECT_EQ(read_whole_file(root / "private/keep"), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "private"), fs::directory_iterator()), 1);
    EXPECT_FALSE(atomic_write_file_at(held.get(), "a/b", "x"));
}

TEST(Fs, FailedWritesLeaveTheOldContentAndNoTemporary) {
    TempRoot root;
    std::string f = root / "data.txt";
    ASSERT_TRUE(atomic_write_file(f, "old\r\n"));
    // A file-size limit makes the writes fail part-way, as a full disk would.
    pid_t child = testing::fork_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{20, 20};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 10;
        if (atomic_write_file(f, std::string(100, 'n'))) return 1;
        if (append_to_file(f, std::string(100, 'a'))) return 2;
        if (!append_to_file(f, "fits\r\n")) return 3;
        return 0;
    });
    EXPECT_EQ(testing::wait_child(child), 0);
    EXPECT_EQ(read_whole_file(f), "old\r\nfits\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(root.path()), fs::directory_iterator()), 2);  // + tmp

    // Renaming over a folder fails: the temporary goes too.
    fs::create_directories(root / "busy/inner");
    EXPECT_FALSE(atomic_write_file(root / "busy", "x"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root.path()), fs::directory_iterator()), 3);
}

TEST(Fs, AppendRepairsAMissingLineEnd) {
    TempRoot root;
    std::string f = root / "log.txt";
    ASSERT_TRUE(append_to_file(f, "a\r\n"));
    ASSERT_TRUE(append_to_file(f, "b"));  // a torn last line, as a crash would leave it
    ASSERT_TRUE(append_to_file(f, "c\r\n"));
    ASSERT_TRUE(append_to_file(f, "d\n"));
    ASSERT_TRUE(append_to_file(f, ""));
    EXPECT_EQ(read_whole_file(f), "a\r\nb\r\nc\r\nd\n");
    EXPECT_FALSE(append_to_file(root / "no/log.txt", "x"));
}

TEST(Fs, AppendNeverWritesThroughALinkOrASecondName) {
    TempRoot root;
    const std::string victim = root / "victim", log = root / "log.txt";
    touch(victim, "kept");
    for (const bool hard : {false, true}) {
        ASSERT_EQ(hard ? ::link(victim.c_str(), log.c_str()) : ::symlink(victim.c_str(), log.c_str()), 0);
        EXPECT_FALSE(append_to_file(log, "x\r\n"));
        EXPECT_EQ(read_whole_file(victim), "kept");
        fs::remove(log);
    }
}

TEST(Fs, StripTrailingSlashesKeepsTheRoot) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"/", "/"}, {"///", "/"}, {"/a/b//", "/a/b"}, {"a/", "a"}, {"a//b", "a//b"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(strip_trailing_slashes(in), out) << in;
}

TEST(Fs, ReadWholeFile) {
    TempRoot root;
    EXPECT_EQ(read_whole_file(root / "missing"), std::nullopt);
    EXPECT_EQ(read_whole_file(root.path()), std::nullopt);  // a folder is no file
    std::string bytes("a\0b\xFF", 4);
    touch(root / "bin", bytes);
    EXPECT_EQ(read_whole_file(root / "bin"), bytes);
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(read_whole_file(root / "fifo"), std::nullopt);  // refused at once, no writer waited for
    EXPECT_EQ(read_whole_file("/dev/zero"), std::nullopt);
}

TEST(Fs, ReadWholeFileIntoBytesTakesOnlyRegularFiles) {
    TempRoot root;
    const std::string big(200000, '\x5A');  // more than one read's worth
    touch(root / "empty");
    touch(root / "bin", std::string("a\0b\xFF", 4));
    touch(root / "big", big);
    const struct {
        std::string path;
        bool ok;
        std::string bytes;
    } cases[] = {
        {root / "empty", true, ""}, {root / "bin", true, std::string("a\0b\xFF", 4)},
        {root / "big", true, big},  {root / "missing", false, ""},
        {root.path(), false, ""},   {"/dev/zero", false, ""},  // a device may never end
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> out{1, 2, 3};
        EXPECT_EQ(read_whole_file(c.path, out), c.ok) << c.path;
        EXPECT_EQ(std::string(out.begin(), out.end()), c.bytes) << c.path;
    }
}

TEST(Fs, OnlyRootCanChangeAPathThatRootAloneCanWriteOnTheWay) {
    TempRoot root;
    if (::geteuid() != 0 || !only_root_can_change(root.path()))
        GTEST_SKIP() << "needs root and a temporary folder only root can change";
    const std::string a = root / "a", b = a + "/b", sticky = root / "sticky";
    fs::create_directories(b);
    fs::create_directories(sticky + "/c");
    ::chmod(sticky.c_str(), 01777);
    touch(root / "file");
    fs::create_directory_symlink(b, root / "to-b");
    fs::create_directory_symlink("a/./b", root / "relative-to-b");
    fs::create_directory_symlink(root / "loop", root / "loop");
    fs::create_directory_symlink(sticky, root / "to-sticky");
    struct Case {
        std::string path;
        bool expected;
    };
    const auto check = [](const std::vector<Case>& cases, const std::string& when) {
        for (const Case& c : cases) EXPECT_EQ(only_root_can_change(c.path), c.expected) << when << ": " << c.path;
    };
    check({{b, true},
           {b + "/", true},
           {a + "/../a/b", true},
           {root / "to-b", true},
           {root / "relative-to-b", true},
           {sticky + "/c", true},  // a sticky folder on the way
           {sticky, false},        // but not as the folder itself
           {root / "to-sticky/c", true},
           {root / "file", false},
           {root / "missing", false},
           {root / "loop", false},
           {"relative/b", false},
           {"", false}},
          "all root's");

    ::chmod(a.c_str(), 0775);  // the group may rename b away
    check({{b, false}, {root / "to-b", false}, {a, false}}, "group-writable on the way");
    ::chmod(a.c_str(), 0755);
    ASSERT_EQ(::chown(a.c_str(), 1, 0), 0);
    check({{b, false}, {root / "relative-to-b", false}}, "another owner on the way");
    ASSERT_EQ(::chown(a.c_str(), 0, 0), 0);
    ASSERT_EQ(::lchown((root / "to-b").c_str(), 1, 1), 0);
    check({{root / "to-b", false}, {b, true}}, "a link of another owner");
}

TEST(FileLock, ExcludesAnotherProcessAndIsReleased) {
    TempRoot root;
    std::string lockfile = root / "hive.lock";
    FileLock mine;
    ASSERT_TRUE(mine.lock(lockfile, true, false));
    EXPECT_TRUE(mine.held());
    auto try_in_child = [&](bool exclusive) {
        return testing::wait_child(testing::fork_child([&] {
            FileLock other;
            return other.lock(lockfile, exclusive, false) ? 1 : 0;
        }));
    };
    EXPECT_EQ(try_in_child(true), 0);
    EXPECT_EQ(try_in_child(false), 0);
    // Another description in this process conflicts too (the lock is not per process).
    FileLock second;
    EXPECT_FALSE(second.lock(lockfile, true, false));

    FileLock moved = std::move(mine);
    EXPECT_FALSE(mine.held());
    EXPECT_EQ(try_in_child(true), 0);
    moved.unlock();
    EXPECT_EQ(try_in_child(true), 1);

    // Shared locks share.
    FileLock r1, r2;
    ASSERT_TRUE(r1.lock(lockfile, false, false));
    EXPECT_TRUE(r2.lock(lockfile, false, false));
    EXPECT_EQ(try_in_child(true), 0);
}

// What others plant at a lock file's name is refused and left as it is: no link is followed,
// no file of another name opened or made, no mode changed but that of a lock file made here.
TEST(FileLock, APlantedLockFileIsRefusedAndItsTargetUntouched) {
    TempRoot root;
    ASSERT_EQ(::chmod(root.path().c_str(), 02775), 0);
    const std::string victim = root / "private", lock = root / ".TVINDEX.LCK";
    touch(victim, "mine");
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    const struct {
        const char* what;
        std::function<void()> plant;
        SharedFileFault fault;
    } cases[] = {
        {"a link to a private file", [&] { ASSERT_EQ(::symlink(victim.c_str(), lock.c_str()), 0); },
         SharedFileFault::Link},
        {"a link to a missing name", [&] { ASSERT_EQ(::symlink((root / "made").c_str(), lock.c_str()), 0); },
         SharedFileFault::Link},
        {"a hard link to a private file", [&] { ASSERT_EQ(::link(victim.c_str(), lock.c_str()), 0); },
         SharedFileFault::SeveralNames},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0666), 0); }, SharedFileFault::NotRegular},
        {"a folder", [&] { ASSERT_EQ(::mkdir(lock.c_str(), 0777), 0); }, SharedFileFault::NotRegular},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        for (const bool exclusive : {true, false}) {
            FileLock by_path;
            EXPECT_FALSE(by_path.lock_within(lock, exclusive, 0));
            EXPECT_EQ(by_path.failure(), LockFailure::NotWritable);
            EXPECT_EQ(by_path.file_fault(), c.fault);
        }
        struct stat st {};
        ASSERT_EQ(::stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(read_whole_file(victim).value_or(""), "mine");
        EXPECT_FALSE(fs::exists(root / "made"));
        fs::remove(lock);
    }
    // A plain lock file of this account's keeps its mode; one made here takes the group's bit.
    touch(lock);
    ASSERT_EQ(::chmod(lock.c_str(), 0600), 0);
    FileLock kept;
    ASSERT_TRUE(kept.lock(lock, true, false));
    EXPECT_EQ(fs::status(lock).permissions(), fs::perms(0600));
    kept.unlock();
    fs::remove(lock);
    const mode_t old = ::umask(022);
    FileLock made;
    EXPECT_TRUE(made.lock(lock, true, false));
    ::umask(old);
    EXPECT_EQ(fs::status(lock).permissions(), fs::perms(0664));
    EXPECT_EQ(made.file_fault(), SharedFileFault::None);
}

TEST(FileLock, IsNotInheritedByAnExecutedChild) {
    TempRoot root;
    std::string lockfile = root / "audit.lock";
    FileLock mine;
    ASSERT_TRUE(mine.lock(lockfile, true, false));
    EXPECT_NE(::fcntl(mine.fd(), F_GETFD) & FD_CLOEXEC, 0);

    // The pipe's write end is close-on-exec too: end of file tells that the child has executed.
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", "exec sleep 60", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(p[1]);
    char c;
    EXPECT_EQ(::read(p[0], &c, 1), 0);
    ::close(p[0]);

    mine.unlock();
    FileLock again;
    EXPECT_TRUE(again.lock(lockfile, true, false));  // the running child holds nothing
    ::kill(pid, SIGKILL);
    testing::wait_child(pid);
}

}  // namespace
}  // namespace tv::platform
