#include "platform/shared_memory.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
