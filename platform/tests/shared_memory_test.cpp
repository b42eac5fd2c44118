#include "platform/shared_memory.h"

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

TEST(SharedMemory, ASmallerExistingObjectIsGrownOrRefusedNeverOverrun) {
    TempRoot root;
    Unlinker u{{"TAPEDATA.MMF"}};
    {
        auto old = SharedMemory::open("TAPEDATA.MMF", 100, true);
        ASSERT_TRUE(old);
        std::memset(old->data(), 0x5A, 100);
    }
    EXPECT_EQ(SharedMemory::open("TAPEDATA.MMF", 116, false), nullptr);
    EXPECT_EQ(SharedMemory::open_existing("TAPEDATA.MMF", 116, false), nullptr);
    EXPECT_EQ(object_size("TAPEDATA.MMF"), 100);

    auto grown = SharedMemory::open("TAPEDATA.MMF", 116, true);
    ASSERT_TRUE(grown);
    EXPECT_EQ(object_size("TAPEDATA.MMF"), 116);
    EXPECT_EQ(grown->object_size(), 116u);
    auto* p = static_cast<unsigned char*>(grown->data());
    EXPECT_EQ(p[99], 0x5A);  // the old content stays
    EXPECT_EQ(p[100], 0);    // the new tail is zero
    p[115] = 7;

    // A smaller request maps only what was asked, and never shrinks the object.
    auto small = SharedMemory::open("TAPEDATA.MMF", 48, true);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->size(), 48u);
    EXPECT_EQ(small->object_size(), 116u);
    EXPECT_EQ(object_size("TAPEDATA.MMF"), 116);
    auto ro = SharedMemory::open("TAPEDATA.MMF", 116, false);
    ASSERT_TRUE(ro);
    EXPECT_EQ(static_cast<unsigned char*>(ro->data())[115], 7);
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
    ASSERT_TRUE(SharedMemory::open("a/b", 10, true));
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
