#include "common/safe_open.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/deferred_stop.h"
#include "testing/test_root.h"

namespace fs = std::filesystem;
using tv::OutsideRefusal;

namespace {

class SafeOpen : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ + "/folder");
        std::ofstream(dir_ + "/plain", std::ios::binary) << "0123456789";
        fs::create_symlink(dir_ + "/plain", dir_ + "/link");
        fs::create_directory_symlink(dir_ + "/folder", dir_ + "/folder-link");
        ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
    }
    tv::platform::testing::TempRoot temp_;
    const std::string dir_ = temp_.path() + "/w";
};

}  // namespace

TEST_F(SafeOpen, OnlyPlainFilesWithinTheirSizeAreRead) {
    const auto started = std::chrono::steady_clock::now();
    struct Case {
        std::string path;
        std::uint64_t max;
        OutsideRefusal why;
    } const cases[] = {
        {dir_ + "/plain", 10, OutsideRefusal::None},         {dir_ + "/plain", 9, OutsideRefusal::TooLarge},
        {dir_ + "/link", 100, OutsideRefusal::Link},         {dir_ + "/fifo", 100, OutsideRefusal::NotRegular},
        {dir_ + "/folder", 100, OutsideRefusal::NotRegular}, {"/dev/zero", 1 << 20, OutsideRefusal::NotRegular},
        {dir_ + "/missing", 100, OutsideRefusal::Missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const tv::OutsideFile f = tv::open_outside_file(c.path, c.max);
        EXPECT_EQ(f.refusal, c.why);
        EXPECT_EQ(static_cast<bool>(f), c.why == OutsideRefusal::None);
        std::vector<std::uint8_t> bytes;
        OutsideRefusal why{};
        EXPECT_EQ(tv::read_outside_file(c.path, c.max, bytes, &why), c.why == OutsideRefusal::None);
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(static_cast<bool>(tv::open_outside_stream(c.path, c.max)), c.why == OutsideRefusal::None);
    }
    EXPECT_EQ(tv::read_outside_text(dir_ + "/plain", 10).value_or(""), "0123456789");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));  // the FIFO never waited
    EXPECT_TRUE(tv::is_regular_file_no_link(dir_ + "/plain"));
    EXPECT_FALSE(tv::is_regular_file_no_link(dir_ + "/link"));
    EXPECT_FALSE(tv::is_regular_file_no_link(dir_ + "/fifo"));
    EXPECT_EQ(tv::outside_refusal_text("x\r\nOK", OutsideRefusal::Link),
              "\"x\\x0D\\x0AOK\" is a link, which is not followed.");
}

TEST_F(SafeOpen, TheHeadOfAFileOfAnySizeIsReadAsItsWholeIs) {
    const struct {
        std::string path;
        std::size_t max;
        std::optional<std::string> head;
        OutsideRefusal why;
    } cases[] = {
        {dir_ + "/plain", 4, "0123", OutsideRefusal::None},
        {dir_ + "/plain", 100, "0123456789", OutsideRefusal::None},
        {dir_ + "/link", 4, std::nullopt, OutsideRefusal::Link},
        {dir_ + "/fifo", 4, std::nullopt, OutsideRefusal::NotRegular},
        {"/dev/zero", 4, std::nullopt, OutsideRefusal::NotRegular},
        {dir_ + "/missing", 4, std::nullopt, OutsideRefusal::Missing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.max));
        OutsideRefusal why{};
        EXPECT_EQ(tv::read_outside_head(c.path, c.max, &why), c.head);
        EXPECT_EQ(why, c.why);
    }
}

TEST_F(SafeOpen, FoldersAreOpenedWithoutALinkAndFilesMadeAnew) {
    OutsideRefusal why{};
    EXPECT_TRUE(tv::open_folder_no_link(dir_ + "/folder/", &why));
    EXPECT_FALSE(tv::open_folder_no_link(dir_ + "/folder-link", &why));
    EXPECT_EQ(why, OutsideRefusal::Link);
    EXPECT_FALSE(tv::open_folder_no_link(dir_ + "/plain", &why));
    EXPECT_EQ(why, OutsideRefusal::NotRegular);
    EXPECT_FALSE(tv::open_folder_no_link(dir_ + "/none", &why));
    EXPECT_EQ(why, OutsideRefusal::Missing);
    const tv::platform::UniqueFd folder = tv::open_folder_no_link(dir_ + "/folder-link/..", &why);
    ASSERT_TRUE(folder);
    EXPECT_TRUE(tv::open_outside_file_at(folder.get(), "plain", 10));
    EXPECT_FALSE(tv::open_outside_file_at(folder.get(), "link", 10));

    // A planted link or file is never opened for writing, nor its target touched.
    fs::create_symlink(dir_ + "/victim", dir_ + "/made");
    EXPECT_FALSE(tv::create_new_file(dir_ + "/made"));
    EXPECT_FALSE(fs::exists(dir_ + "/victim"));
    EXPECT_FALSE(tv::create_new_file(dir_ + "/plain"));
    EXPECT_TRUE(tv::create_new_file(dir_ + "/fresh"));
}

TEST_F(SafeOpen, EntriesAreProbedWithoutFollowingAndUnknownIsNotMissing) {
    using tv::EntryKind;
    const tv::platform::UniqueFd folder = tv::open_folder_no_link(dir_);
    ASSERT_TRUE(folder);
    const struct {
        std::string name;
        EntryKind kind;
    } cases[] = {
        {"plain", EntryKind::Regular},    {"link", EntryKind::Link},
        {"folder-link", EntryKind::Link}, {"fifo", EntryKind::Other},
        {"folder", EntryKind::Folder},    {"missing", EntryKind::Missing},
        {"plain/x", EntryKind::Missing},  {std::string(300, 'n'), EntryKind::Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20));
        EXPECT_EQ(tv::probe_entry_at(folder.get(), c.name).kind, c.kind);
        EXPECT_EQ(tv::probe_entry(dir_ + "/" + c.name).kind, c.kind);
    }
    EXPECT_EQ(tv::probe_entry(dir_ + "/plain").size, 10u);
    struct stat plain {};
    ASSERT_EQ(::lstat((dir_ + "/plain").c_str(), &plain), 0);
    EXPECT_EQ(tv::probe_entry(dir_ + "/plain").inode, plain.st_ino);
    EXPECT_EQ(tv::probe_entry(dir_ + "/plain").device, plain.st_dev);
    EXPECT_FALSE(tv::probe_entry(dir_ + "/missing").present());
    EXPECT_FALSE(tv::probe_entry(dir_ + "/" + std::string(300, 'n')).present());
    // Through a link named above the last component: the folder it leads to, on its file system.
    const tv::EntryState through = tv::probe_entry(dir_ + "/folder-link/.");
    EXPECT_EQ(through.kind, EntryKind::Folder);
    EXPECT_EQ(through.device, tv::probe_entry(dir_ + "/folder").device);
    EXPECT_NE(through.device, tv::probe_entry("/proc/self").device);
}

// A tree goes with its hidden files, FIFOs and links, never what a link leads to; what is no
// folder, or is a link to one, is refused as a whole.
TEST_F(SafeOpen, FolderTreesAreRemovedWithoutFollowingALink) {
    const tv::platform::UniqueFd top = tv::open_folder_no_link(dir_);
    ASSERT_TRUE(top);
    fs::create_directories(dir_ + "/tree/sub/deeper");
    std::ofstream(dir_ + "/tree/sub/.hidden") << "x";
    std::ofstream(dir_ + "/folder/kept") << "x";
    fs::create_directory_symlink(dir_ + "/folder", dir_ + "/tree/sub/out");
    fs::create_symlink(dir_ + "/plain", dir_ + "/tree/file-link");
    ASSERT_EQ(::mkfifo((dir_ + "/tree/fifo").c_str(), 0600), 0);
    const struct {
        const char* name;
        bool gone;
    } cases[] = {{"tree", true}, {"folder-link", false}, {"plain", false}, {"fifo", false}, {"missing", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> failed;
        EXPECT_EQ(tv::remove_folder_at(top.get(), c.name,
                                       [&](const std::string& below, bool) { failed.push_back(below); }),
                  c.gone);
        EXPECT_TRUE(failed.empty());
        EXPECT_EQ(fs::exists(fs::symlink_status(dir_ + "/" + c.name)), !c.gone && std::string(c.name) != "missing");
    }
    EXPECT_TRUE(fs::exists(dir_ + "/folder/kept"));
    EXPECT_TRUE(fs::exists(dir_ + "/plain"));
}

// A SIGTERM while a change runs is held until the change is put back, then ends the process.
TEST(DeferredStopTest, HoldsTheSignalUntilTheOutermostGoes) {
    const tv::platform::testing::TempRoot temp;
    const std::string undone = temp.path() + "/undone";
    const pid_t child = ::fork();
    if (child == 0) {
        int steps = 0;
        {
            const tv::DeferredStop outer;
            {
                const tv::DeferredStop inner;
                ::raise(SIGTERM);
                steps += tv::DeferredStop::requested() ? 1 : 100;
            }
            steps += tv::DeferredStop::requested() ? 1 : 100;  // the inner one let nothing go
            // What the undo writes is still written.
            std::ofstream(undone) << steps;
        }
        ::_exit(0);  // not reached: the signal ends the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(tv::read_outside_text(undone, 10).value_or(""), "2");
}
