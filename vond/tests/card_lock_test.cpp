// The card's lock through the built program and several accounts: whoever ran first, with whatever
// umask, and whatever another operator planted or holds where a lock file could live, the next
// operator's run on a free card goes ahead; a run that holds the card is met by every path, account
// and machine root, and the one that waits is told who holds it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/test_accounts.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using tv::testing_root::TwoAccounts;

class CardLockTest : public VondTest {
protected:
    void SetUp() override {
        VondTest::SetUp();
        // Every account reaches the root, the card and its own work folder.
        ::chmod(t.c_str(), 0755);
        ::chmod(root.c_str(), 0777);
        ::chmod(tmp.c_str(), 01777);
        card = t / "cards" / "E";
        cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "DOE", "1"), 1024,
                            cardgen::three_channel_recording(5, 1));
        map_card('E', card, "QUX_CFR", 4194304);
        ::chmod((t / "cards").c_str(), 0755);
        ::chmod(card.c_str(), 0777);
        for (auto& e : fs::directory_iterator(card)) ::chmod(e.path().c_str(), 0666);
    }
    // A status look at the card by account `who` (-1: root) with `mask`; its exit code and stderr.
    RunResult status_as(const TwoAccounts& accounts, int who, mode_t mask) {
        const fs::path work = t / ("w" + std::to_string(who + 1));
        fs::create_directories(work);
        ::chmod(work.c_str(), 0777);
        std::vector<std::string> argv = {program, "/readpat=status"};
        const std::vector<std::string> env = environment({});
        if (who < 0) {
            const mode_t old = ::umask(mask);
            RunResult r = tv::platform::testing::run_captured(argv, env, work.string(), 60);
            ::umask(old);
            return r;
        }
        // The child ends with the program's own exit code.
        const int code = accounts.run_as(
            who, [&]() -> bool { ::_exit(tv::platform::testing::run_captured(argv, env, work.string(), 60).code); },
            mask);
        RunResult r;
        r.code = code;
        r.err = slurp(work / "stderr.txt");
        return r;
    }

    fs::path card;
};

TEST_F(CardLockTest, NoAccountNorAnythingPlantedLocksAnotherOperatorOut) {
    TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "needs root and useradd";
    // What a free card answers to a status look: its channel code.
    const RunResult free = status_as(accounts, 0, 002);
    ASSERT_EQ(free.code, 111) << free.err;
    struct stat st {};
    ASSERT_EQ(::stat(card.c_str(), &st), 0);
    char name[64];
    std::snprintf(name, sizeof name, "%llx-%llx.lock", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    const fs::path locks = root / "run" / "cards", lock = locks / name;
    // Each case is done by account 0 (or root), then account 1 looks at the card.
    const struct {
        const char* what;
        int who;
        mode_t mask;
        std::function<bool()> plant;  // run as `who`
    } cases[] = {
        {"root ran first with umask 022", -1, 022, nullptr},
        {"an operator ran first with umask 022", 0, 022, nullptr},
        {"a 0600 file at the lock's name", 0, 022,
         [&] {
             fs::create_directories(locks);
             return ::close(::open(lock.c_str(), O_CREAT | O_WRONLY, 0600)) == 0;
         }},
        {"a link at the lock's name", 0, 022,
         [&] {
             fs::create_directories(locks);
             return ::symlink("/nowhere", lock.c_str()) == 0;
         }},
        {"a FIFO at the lock's name", 0, 022,
         [&] {
             fs::create_directories(locks);
             return ::mkfifo(lock.c_str(), 0600) == 0;
         }},
        {"a hard link at the lock's name", 0, 022,
         [&] {
             fs::create_directories(locks);
             const fs::path own = t / "w1" / "mine";
             return ::close(::open(own.c_str(), O_CREAT | O_WRONLY, 0600)) == 0 &&
                    ::link(own.c_str(), lock.c_str()) == 0;
         }},
        {"a folder at the lock's name", 0, 022,
         [&] {
             fs::create_directories(locks);
             return ::mkdir(lock.c_str(), 0700) == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        fs::remove_all(root / "run", ec);
        fs::remove_all(t / "w1" / "mine", ec);
        if (c.plant) {
            ASSERT_EQ(accounts.run_as(c.who, c.plant, c.mask), 0);
        } else {
            const RunResult first = status_as(accounts, c.who, c.mask);
            ASSERT_EQ(first.code, free.code) << first.err;
        }
        const RunResult next = status_as(accounts, 1, 002);
        EXPECT_EQ(next.code, free.code) << next.err;
    }
    // An operator who holds a shared lock on a file at the lock's name stops nobody either.
    fs::remove_all(root / "run");
    fs::create_directories(locks);
    ::chmod(locks.c_str(), 0777);
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(ready[0]);
        ::close(go[1]);
        if (::setgid(accounts.gid()) != 0 || ::setuid(accounts.uid(0)) != 0) ::_exit(2);
        const int fd = ::open(lock.c_str(), O_CREAT | O_RDONLY, 0644);
        struct flock fl {};
        fl.l_type = F_RDLCK;
        if (fd < 0 || ::fcntl(fd, F_OFD_SETLK, &fl) != 0 || ::flock(fd, LOCK_SH) != 0) ::_exit(3);
        char c = 1;
        if (::write(ready[1], &c, 1) != 1) ::_exit(4);
        [[maybe_unused]] const ssize_t n = ::read(go[0], &c, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(go[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    const RunResult held = status_as(accounts, 1, 002);
    EXPECT_EQ(held.code, free.code) << held.err;
    ::close(go[1]);
    EXPECT_EQ(tv::testing_root::wait_child(holder), 0);
    ::close(ready[0]);
}

// A run held on the card: a second run through another machine root, naming the card by its folder,
// meets the same lock, waits, gives up with 107 and names the run that holds the card.
TEST_F(CardLockTest, ASecondRootNamingTheSameCardMeetsTheSameLock) {
    const fs::path a = t / "a", b = t / "b", other_root = t / "root2";
    for (const fs::path& d : {a, b}) {
        fs::create_directories(d);
        const std::string s = "ALPHA\r\nID-1\r\n";
        cardgen::write_bytes(d / "patsumm.dat", s.data(), s.size());
        const cardgen::Bytes cnav(8192, 0xA1);
        cardgen::write_bytes(d / "cnav.dat", cnav.data(), cnav.size());
    }
    fs::create_directories(other_root);
    HeldRun first = hold({"/changepat=cnav", "/confirmed", "/dir=" + a.string()}, "fsync", 1, {card / "cnav.dat.new"});
    ASSERT_TRUE(first.stopped);
    std::vector<std::string> env = environment({});
    for (std::string& e : env)
        if (e.rfind("TORVANE_ROOT=", 0) == 0) e = "TORVANE_ROOT=" + other_root.string();
    const RunResult second = tv::platform::testing::run_captured({program, "/changepat=cnav", "/confirmed",
                                                                  "/dir=" + b.string(), "/ipdir=" + card.string()},
                                                                 env, t.string(), 60);
    EXPECT_EQ(second.code, 107) << second.err;
    EXPECT_NE(second.err.find("(vond, process " + std::to_string(first.child) + ")"), std::string::npos) << second.err;
    EXPECT_EQ(resume(first), 0);
}

}  // namespace
