#include "common/memory_mapped_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/test_root.h"

namespace {

// A fresh TORVANE_ROOT, so that names never meet another test's objects.
class MemoryMappedFileTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* n : {"RAWECG1.MMF", "TAPEDATA.MMF", "ECGCTRL.MMF", "OTHER.MMF"})
            tv::MemoryMappedFile::remove(n);
    }

    static int mappings_named(const std::string& name) {
        std::ifstream maps("/proc/self/maps");
        int n = 0;
        for (std::string line; std::getline(maps, line);) n += line.find(name) != std::string::npos;
        return n;
    }

    tv::platform::testing::TempRoot temp_;
};

}  // namespace

TEST_F(MemoryMappedFileTest, NothingOpenByDefault) {
    tv::MemoryMappedFile m;
    EXPECT_EQ(m.get_view(), nullptr);
    EXPECT_EQ(m.size(), 0u);
    EXPECT_EQ(m.name(), "");
    EXPECT_FALSE(m.open("", 16, true));
    EXPECT_FALSE(m.open("ECGCTRL.MMF", 0, true));
    EXPECT_EQ(m.get_view(), nullptr);
    m.close();
}

TEST_F(MemoryMappedFileTest, TwoOpeningsOfOneNameShareTheBytes) {
    tv::MemoryMappedFile a("ECGCTRL.MMF", 48, true);
    ASSERT_NE(a.get_view(), nullptr);
    EXPECT_EQ(a.size(), 48u);
    EXPECT_EQ(a.name(), "ECGCTRL.MMF");
    tv::MemoryMappedFile b("ECGCTRL.MMF", 48, false);
    ASSERT_NE(b.get_view(), nullptr);
    EXPECT_NE(a.get_view(), b.get_view());
    std::memcpy(a.get_view(), "\x01\x2c\x01\x00", 4);
    EXPECT_EQ(std::memcmp(b.get_view(), "\x01\x2c\x01\x00", 4), 0);

    // Another process sees and changes the same memory.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        tv::MemoryMappedFile c("ECGCTRL.MMF", 48, true);
        int ok = c.get_view() && std::memcmp(c.get_view(), "\x01\x2c\x01\x00", 4) == 0;
        if (c.get_view()) static_cast<unsigned char*>(c.get_view())[8] = 0x5A;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(static_cast<unsigned char*>(b.get_view())[8], 0x5A);
}

TEST_F(MemoryMappedFileTest, OpeningAgainReleasesTheFirstMapping) {
    tv::MemoryMappedFile m("RAWECG1.MMF", 4096, true);
    ASSERT_NE(m.get_view(), nullptr);
    int before = mappings_named("RAWECG1.MMF");
    ASSERT_TRUE(m.open("OTHER.MMF", 64, true));
    EXPECT_EQ(m.name(), "OTHER.MMF");
    EXPECT_EQ(m.size(), 64u);
    if (before > 0) {
        EXPECT_EQ(mappings_named("RAWECG1.MMF"), 0);
    }
    m.close();
    EXPECT_EQ(m.get_view(), nullptr);
    EXPECT_EQ(m.name(), "");
    EXPECT_EQ(mappings_named("RAWECG1.MMF"), 0);
}

TEST_F(MemoryMappedFileTest, ASmallerHeldObjectIsRefusedNeverResized) {
    auto old = std::make_unique<tv::MemoryMappedFile>("TAPEDATA.MMF", 100, true);
    ASSERT_NE(old->get_view(), nullptr);
    std::memset(old->get_view(), 0x11, 100);

    for (bool writable : {false, true}) {
        tv::MemoryMappedFile refused("TAPEDATA.MMF", 116, writable);
        EXPECT_EQ(refused.get_view(), nullptr);
        EXPECT_EQ(refused.size(), 0u);
    }
    tv::MemoryMappedFile part("TAPEDATA.MMF", 8, false);
    ASSERT_NE(part.get_view(), nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(part.get_view())[7], 0x11);  // the holder's bytes, untouched
    part.close();

    // Once nobody holds it, the name starts anew at the size asked, empty.
    old.reset();
    tv::MemoryMappedFile fresh("TAPEDATA.MMF", 116, true);
    ASSERT_NE(fresh.get_view(), nullptr);
    auto* p = static_cast<unsigned char*>(fresh.get_view());
    EXPECT_EQ(p[0], 0x00);
    p[115] = 4;  // the whole view is writable
    tv::MemoryMappedFile reader("TAPEDATA.MMF", 116, false);
    ASSERT_NE(reader.get_view(), nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(reader.get_view())[115], 4);
}
