#include "platform/shared_memory.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "testing/test_root.h"

namespace tv::platform {
namespace {

using testing::TempRoot;

// Removes the test's kernel objects, which outlive the root folder.
struct Unlinker {
    std::vector<std::string> names;
    ~Unlinker() {
        for (auto& n : names) SharedMemory::unlink(n);
    }
};

off_t object_size(const std::string& name) {
    int fd = ::shm_open(ipc_name(name).c_str(), O_RDONLY, 0);
    if (fd < 0) return -1;
    struct stat st;
    off_t size = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    ::close(fd);
    return size;
}

TEST(SharedMemory, OneProcessWritesAnotherReads) {
    TempRoot root;
    Unlinker u{{"RAWECG1.MMF"}};
    auto host = SharedMemory::open("RAWECG1.MMF", 4096 * 3 + 10, true);
    ASSERT_TRUE(host);
    EXPECT_EQ(host->size(), 4096u * 3 + 10);
    EXPECT_EQ(host->name(), "RAWECG1.MMF");
    EXPECT_EQ(object_size("RAWECG1.MMF"), 4096 * 3 + 10);
    EXPECT_EQ(static_cast<unsigned char*>(host->data())[100], 0);  // a new object is zeroed

    pid_t child = testing::fork_child([] {
        auto m = SharedMemory::open_existing("RAWECG1.MMF", 4096 * 3 + 10, true);
        if (!m) return 1;
        auto* p = static_cast<unsigned char*>(m->data());
        for (int i = 0; i < 256; ++i) p[4096 * 3 + 9 - i] = static_cast<unsigned char>(i);
        return 0;
    });
    ASSERT_EQ(testing::wait_child(child), 0);
    auto* p = static_cast<unsigned char*>(host->data());
    for (int i = 0; i < 256; ++i) ASSERT_EQ(p[4096 * 3 + 9 - i], i);

    // A read-only opener sees the same bytes.
    auto reader = SharedMemory::open("RAWECG1.MMF", 16, false);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->object_size(), 4096u * 3 + 10);
    EXPECT_EQ(std::memcmp(reader->data(), host->data(), 16), 0);
}

TEST(SharedMemory, ASmallerHeldObjectIsRefusedNeverResized) {
    TempRoot root;
    Unlinker u{{"Patient Events"}};
    // The tape layout held by one program; the card layout asked for by another.
    auto tape = SharedMemory::open("Patient Events", 4000, true);
    ASSERT_TRUE(tape);
    std::memset(tape->data(), 0x5A, 4000);
    for (bool writable : {true, false}) {
        EXPECT_EQ(SharedMemory::open("Patient Events", 16388, writable), nullptr);
        EXPECT_EQ(SharedMemory::open_existing("Patient Events", 16388, writable), nullptr);
    }
    EXPECT_EQ(object_size("Patient Events"), 4000);
    // A smaller request maps only what was asked, of the same object.
    auto small = SharedMemory::open("Patient Events", 48, false);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->size(), 48u);
    EXPECT_EQ(small->object_size(), 4000u);
    EXPECT_EQ(static_cast<unsigned char*>(small->data())[47], 0x5A);
    small.reset();
    EXPECT_EQ(object_size("Patient Events"), 4000);  // still held by `tape`

    // Once its holder is gone, the name starts anew at the size asked.
    tape.reset();
    auto card = SharedMemory::open("Patient Events", 16388, true);
    ASSERT_TRUE(card);
    EXPECT_EQ(card->object_size(), 16388u);
    EXPECT_EQ(static_cast<unsigned char*>(card->data())[0], 0);
}

TEST(SharedMemory, TheLastHolderRemovesTheObject) {
    TempRoot root;
    auto a = SharedMemory::open("ECGCTRL.MMF", 48, true);
    ASSERT_TRUE(a);
    static_cast<unsigned char*>(a->data())[0] = 9;
    pid_t child = testing::fork_child([] {
        auto m = SharedMemory::open_existing("ECGCTRL.MMF", 48, false);
        return m && static_cast<unsigned char*>(m->data())[0] == 9 ? 0 : 1;
    });
    ASSERT_EQ(testing::wait_child(child), 0);
    auto b = SharedMemory::open_existing("ECGCTRL.MMF", 48, false);
    ASSERT_TRUE(b);
    a.reset();
    EXPECT_EQ(object_size("ECGCTRL.MMF"), 48);
    EXPECT_EQ(static_cast<unsigned char*>(b->data())[0], 9);
    b.reset();
    EXPECT_EQ(object_size("ECGCTRL.MMF"), -1);
    EXPECT_EQ(SharedMemory::open_existing("ECGCTRL.MMF", 48, false), nullptr);
}

// What a run leaves when it is killed must not reach the next one: the counts, a stop event that
// was set, an object of another size. Nothing is left behind either.
TEST(SharedMemory, AKilledHolderLeavesNothingForTheNextRun) {
    TempRoot root;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = testing::fork_child([&] {
        auto ctrl = SharedMemory::open("ECGCTRL.MMF", 48, true);
        auto events = SharedMemory::open("Patient Events", 4000, true);
        auto stop = NamedEvent::open("VOND TERMINATOR", true, false);
        if (!ctrl || !events || !stop) return 1;
        std::memset(ctrl->data(), 0x11, 48);
        std::memset(events->data(), 0x22, 4000);
        stop->set();
        if (::write(ready[1], "r", 1) != 1) return 2;
        for (;;) ::pause();
    });
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(object_size("ECGCTRL.MMF"), 48);
    ::kill(child, SIGKILL);
    EXPECT_EQ(testing::wait_child(child), -1000 - SIGKILL);

    auto ctrl = SharedMemory::open("ECGCTRL.MMF", 48, true);
    ASSERT_TRUE(ctrl);
    EXPECT_EQ(static_cast<unsigned char*>(ctrl->data())[0], 0);
    EXPECT_EQ(static_cast<unsigned char*>(ctrl->data())[47], 0);
    EXPECT_EQ(SharedMemory::open_existing("Patient Events", 16, false), nullptr);
    auto events = SharedMemory::open("Patient Events", 16388, true);
    ASSERT_TRUE(events);
    EXPECT_EQ(events->object_size(), 16388u);
    EXPECT_EQ(static_cast<unsigned char*>(events->data())[0], 0);
    auto stop = NamedEvent::open("VOND TERMINATOR", true, false);
    ASSERT_TRUE(stop);
    EXPECT_FALSE(stop->is_set());
    ctrl.reset();
    events.reset();
    stop.reset();
    EXPECT_EQ(object_size("ECGCTRL.MMF"), -1);
    EXPECT_EQ(object_size("Patient Events"), -1);
    EXPECT_EQ(object_size("VOND TERMINATOR"), -1);
}

TEST(SharedMemory, AbandonedObjectsAreSweptHeldOnesKept) {
    TempRoot root;
    auto held = SharedMemory::open("RAWECG1.MMF", 64, true);
    // As a killed holder leaves it.
    const int fd = ::shm_open(ipc_name("RAWECG2.MMF").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 64), 0);
    ::close(fd);
    EXPECT_EQ(SharedMemory::remove_abandoned(), std::vector<std::string>{"RAWECG1.MMF"});
    EXPECT_EQ(object_size("RAWECG2.MMF"), -1);
    EXPECT_EQ(object_size("RAWECG1.MMF"), 64);
    held.reset();
    EXPECT_TRUE(SharedMemory::remove_abandoned().empty());
}

// Processes that open and close one name at the same time always meet in one object, and the
// last one out leaves nothing behind.
TEST(SharedMemory, ConcurrentOpenersMeetInOneObject) {
    TempRoot root;
    constexpr int kChildren = 4, kRounds = 300;
    for (const bool anchored : {true, false}) {
        SCOPED_TRACE(anchored ? "held throughout" : "coming and going");
        std::unique_ptr<SharedMemory> anchor;
        if (anchored) anchor = SharedMemory::open("TAPEDATA.MMF", 116, true);
        std::vector<pid_t> children;
        for (int i = 0; i < kChildren; ++i)
            children.push_back(testing::fork_child([] {
                for (int r = 0; r < kRounds; ++r) {
                    auto m = SharedMemory::open("TAPEDATA.MMF", 116, true);
                    if (!m || m->object_size() != 116) return 1;
                    std::atomic_ref<std::uint32_t>(*static_cast<std::uint32_t*>(m->data())).fetch_add(1);
                }
                return 0;
            }));
        for (pid_t c : children) EXPECT_EQ(testing::wait_child(c), 0);
        if (anchored) {
            EXPECT_EQ(*static_cast<std::uint32_t*>(anchor->data()), std::uint32_t{kChildren * kRounds});
            anchor.reset();
        }
        EXPECT_EQ(object_size("TAPEDATA.MMF"), -1);
    }
}

// The names of this root in /dev/shm, held or not.
std::vector<std::string> names_in_dev_shm() {
    const std::string prefix = ipc_prefix().substr(1);
    std::vector<std::string> names;
    if (DIR* dir = ::opendir("/dev/shm")) {
        while (const dirent* e = ::readdir(dir))
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) names.emplace_back(e->d_name);
        ::closedir(dir);
    }
    return names;
}

// Forked processes that line up at numbered barriers; the first one to fail lets the others go.
class Lineup {
public:
    explicit Lineup(int processes) : processes_(processes) {
        void* p = ::mmap(nullptr, sizeof(State), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        state_ = p == MAP_FAILED ? nullptr : new (p) State;
    }
    ~Lineup() {
        if (state_) ::munmap(state_, sizeof(State));
    }
    bool ready() const { return state_ != nullptr; }
    // Barrier `k` (0, 1, 2, ... in turn); false once a process has failed.
    bool meet(int k) {
        state_->arrived.fetch_add(1);
        const std::uint32_t all = static_cast<std::uint32_t>((k + 1) * processes_);
        while (state_->arrived.load() < all) {
            if (state_->failed.load()) return false;
            ::sched_yield();
        }
        return true;
    }
    // Runs `body(i)` in each process; the exit status of each, in order.
    template <typename F>
    std::vector<int> run(F body) {
        std::vector<pid_t> pids;
        for (int i = 0; i < processes_; ++i) pids.push_back(testing::fork_child([&, i] { return body(i); }));
        std::vector<int> codes(pids.size(), -1);
        for (std::size_t left = pids.size(); left > 0; --left) {
            int status = 0;
            const pid_t pid = ::waitpid(-1, &status, 0);
            const auto it = std::find(pids.begin(), pids.end(), pid);
            if (it == pids.end()) break;
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
            codes[static_cast<std::size_t>(it - pids.begin())] = code;
            if (code != 0) state_->failed.store(1);
        }
        return codes;
    }

private:
    struct State {
        std::atomic<std::uint32_t> arrived{0};
        std::atomic<std::uint32_t> failed{0};
    };
    int processes_;
    State* state_ = nullptr;
};

// Holders that close at the same moment: one of them, whichever, removes the name. Fresh names
// each round, two mappings and two events.
TEST(SharedMemory, HoldersClosingAtOnceLeaveNoName) {
    TempRoot root;
    constexpr int kProcesses = 4, kRounds = 200;
    Lineup lineup(kProcesses);
    ASSERT_TRUE(lineup.ready());
    const auto codes = lineup.run([&](int) {
        for (int r = 0; r < kRounds; ++r) {
            const std::string name = "STORM" + std::to_string(r) + "-";
            std::unique_ptr<SharedMemory> mem[2];
            std::unique_ptr<NamedEvent> event[2];
            for (int k = 0; k < 2; ++k) {
                mem[k] = SharedMemory::open(name + "m" + std::to_string(k), 4096, true);
                event[k] = NamedEvent::open(name + "e" + std::to_string(k), true, false);
                if (!mem[k] || !event[k]) return 1;
            }
            if (!lineup.meet(r)) return 2;
        }  // each round's holders close together here
        return 0;
    });
    EXPECT_EQ(codes, std::vector<int>(kProcesses, 0));
    EXPECT_EQ(names_in_dev_shm(), std::vector<std::string>{});
}

// Two processes close as two others open: the openers find the object the closers leave, with
// their data, or a fresh zeroed one, and never one whose name went while they hold it.
TEST(SharedMemory, OpenersDuringACloseFindTheLiveObjectOrAFreshOne) {
    TempRoot root;
    constexpr int kProcesses = 4, kRounds = 200;
    const std::string name = "TAPEDATA.MMF";
    Lineup lineup(kProcesses);
    ASSERT_TRUE(lineup.ready());
    // What process `i` writes into its slot in round `r`; 0 is "never written".
    auto token = [](int r, int i) { return static_cast<std::uint64_t>(r * kProcesses + i + 1); };
    const auto codes = lineup.run([&](int i) {
        auto slot = [](const std::unique_ptr<SharedMemory>& m, int j) {
            return std::atomic_ref<std::uint64_t>(static_cast<std::uint64_t*>(m->data())[j]);
        };
        std::unique_ptr<SharedMemory> held;
        for (int r = 0; r < kRounds; ++r) {
            if (!lineup.meet(r)) return 9;
            if (r % 2 != i % 2) {  // the other pair opens in this round
                held.reset();
                continue;
            }
            auto m = SharedMemory::open(name, 4096, true);
            if (!m) return 1;
            const int closer_a = (i + 1) % kProcesses, closer_b = (i + 3) % kProcesses;
            const std::uint64_t mine = slot(m, i).load();
            const bool live = r > 0 && slot(m, closer_a).load() == token(r - 1, closer_a) &&
                              slot(m, closer_b).load() == token(r - 1, closer_b) &&
                              (mine == 0 || (r >= 2 && mine == token(r - 2, i)));
            const bool fresh = slot(m, closer_a).load() == 0 && slot(m, closer_b).load() == 0 && mine == 0;
            if (!live && !fresh) return 2;
            slot(m, i).store(token(r, i));
            // While it is held its name stays: another open meets it, and that one's close
            // does not remove it.
            auto again = SharedMemory::open(name, 4096, true);
            if (!again || slot(again, i).load() != token(r, i)) return 3;
            again.reset();
            auto existing = SharedMemory::open_existing(name, 4096, false);
            if (!existing || slot(existing, i).load() != token(r, i)) return 4;
            held = std::move(m);
        }
        if (!lineup.meet(kRounds)) return 9;
        return 0;
    });
    EXPECT_EQ(codes, std::vector<int>(kProcesses, 0));
    EXPECT_EQ(names_in_dev_shm(), std::vector<std::string>{});
}

TEST(SharedMemory, NamesAndLifetime) {
    TempRoot root;
    Unlinker u{{"Patient Events", "a/b"}};
    EXPECT_EQ(SharedMemory::open_existing("Patient Events", 4000, true), nullptr);
    auto ev = SharedMemory::open("Patient Events", 4000, true);
    ASSERT_TRUE(ev);
    EXPECT_GE(object_size("Patient Events"), 4000);
    EXPECT_EQ(SharedMemory::open("", 10, true), nullptr);
    EXPECT_EQ(SharedMemory::open("zero", 0, true), nullptr);
    EXPECT_EQ(SharedMemory::open(std::string(300, 'n'), 10, true), nullptr);
    auto slashed = SharedMemory::open("a/b", 10, true);
    ASSERT_TRUE(slashed);
    EXPECT_EQ(object_size("a_b"), 10);

    // Another root does not see the object.
    {
        TempRoot other;
        EXPECT_EQ(SharedMemory::open_existing("Patient Events", 4000, true), nullptr);
    }
    static_cast<char*>(ev->data())[0] = 1;
    EXPECT_TRUE(SharedMemory::unlink("Patient Events"));
    EXPECT_FALSE(SharedMemory::unlink("Patient Events"));
    EXPECT_EQ(static_cast<char*>(ev->data())[0], 1);  // the view outlives the name
    EXPECT_EQ(SharedMemory::open_existing("Patient Events", 4000, true), nullptr);
}

TEST(NamedEvent, AutoResetAcrossProcesses) {
    TempRoot root;
    Unlinker u{{"go", "done"}};
    auto go = NamedEvent::open("go", false, false);
    auto done = NamedEvent::open("done", true, false);
    ASSERT_TRUE(go && done);
    EXPECT_FALSE(go->wait(0));

    pid_t child = testing::fork_child([] {
        auto g = NamedEvent::open_existing("go");
        auto d = NamedEvent::open_existing("done");
        if (!g || !d) return 1;
        for (int i = 0; i < 3; ++i)
            if (!g->wait(60000)) return 2;  // each set lets exactly one wait through
        d->set();
        return 0;
    });
    for (int i = 0; i < 3; ++i) {
        go->set();
        // Wait for the child to consume it before the next set, so no set is lost.
        while (go->is_set()) ::usleep(200);
    }
    EXPECT_TRUE(done->wait(60000));
    EXPECT_EQ(testing::wait_child(child), 0);
    EXPECT_TRUE(done->is_set());  // manual reset: stays set
    EXPECT_TRUE(done->wait(0));
    done->reset();
    EXPECT_FALSE(done->wait(10));
}

TEST(NamedEvent, KindIsFixedByTheCreator) {
    TempRoot root;
    Unlinker u{{"ev", "plain"}};
    auto first = NamedEvent::open("ev", true, true);
    auto second = NamedEvent::open("ev", false, false);  // opens the existing event as it is
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(second->is_set());
    EXPECT_TRUE(second->wait(0));
    EXPECT_TRUE(second->is_set());
    second->reset();
    EXPECT_FALSE(first->is_set());

    auto auto_ev = NamedEvent::open("plain", false, true);
    ASSERT_TRUE(auto_ev);
    EXPECT_TRUE(auto_ev->wait(-1));
    EXPECT_FALSE(auto_ev->is_set());
    EXPECT_EQ(NamedEvent::open_existing("none"), nullptr);

    // A mapping that is not an event is not taken for one.
    Unlinker u2{{"mem"}};
    auto mem = SharedMemory::open("mem", 64, true);
    std::memset(mem->data(), 0xAB, 64);
    EXPECT_EQ(NamedEvent::open_existing("mem"), nullptr);
    EXPECT_EQ(NamedEvent::open("mem", true, false), nullptr);
}

}  // namespace
}  // namespace tv::platform
