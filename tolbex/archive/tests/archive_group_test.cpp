#include "tolbex/archive/archive_group.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "common/ui.h"
#include "tolbex/archive/tests/archive_test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class ArchiveGroupTest : public testing_root::ArchiveTestRoot {
protected:
    void SetUp() override {
        ArchiveTestRoot::SetUp();
        if (HasFatalFailure()) return;
        group_ = root_ + "/G";
        fs::create_directories(group_);
    }
    void make_archive(const std::string& folder, const std::string& index_text) {
        fs::create_directories(group_ + "/" + folder);
        write(group_ + "/" + folder + "/ARCHINFO.DAT", index_text);
    }
    std::string index() const { return group_ + "/ARCHDIR.DAT"; }

    std::string group_;
};

TEST_F(ArchiveGroupTest, ReadsArchivesAndChecksum) {
    write(index(), "STANDARD\r\nSTANDARD\r\n\r\nDELETED\r\nDeleted Reports\r\nodd line\r\n");
    make_archive("STANDARD", "A.FUL\na\nWed Jan 02 02:03:55 1980\n1\nFull\n");
    ArchiveGroup g(index());
    ASSERT_EQ(g.get_count(), 2);
    EXPECT_EQ(g.get_folder(), group_);
    EXPECT_EQ(g.get_archive(0)->get_path(), group_ + "/STANDARD");
    EXPECT_EQ(g.get_archive(0)->get_name(), "STANDARD");
    EXPECT_EQ(g.get_archive(0)->get_count(), 1);
    EXPECT_EQ(g.get_archive(1)->get_name(), kDeletedArchiveName);
    EXPECT_EQ(g.get_archive(1)->get_count(), 0);  // no folder: an empty archive
    std::uint32_t expected = 0;
    for (const char* l : {"STANDARD", "STANDARD", "DELETED", "Deleted Reports"}) fold_line_checksum(l, expected);
    expected ^= g.get_archive(0)->get_checksum();
    EXPECT_EQ(g.get_checksum(), expected);
    EXPECT_EQ(g.find_archive_by_name("deleted reports"), 1);
    EXPECT_EQ(g.find_archive_by_folder("standard"), 0);
    EXPECT_EQ(g.find_archive_by_name("nope"), -1);
    EXPECT_NE(g.get_archive(0)->find_record("a.ful"), nullptr);
    EXPECT_EQ(g.get_archive(0)->find_record("B.FUL"), nullptr);

    ArchiveGroup missing(group_ + "/NONE/ARCHDIR.DAT");
    EXPECT_EQ(missing.get_count(), 0);
    EXPECT_FALSE(missing.has_changed_on_disk());
    ArchiveGroup names_only(index(), false, false, false);
    EXPECT_EQ(names_only.get_archive(0)->get_count(), 0);
}

TEST_F(ArchiveGroupTest, UpperCaseFolderLinesFindTheFolder) {
    write(index(), "STANDARD\nMain\n");
    make_archive("standard", "A.FUL\na\nx\n1\nFull\n");
    ArchiveGroup g(index());
    ASSERT_EQ(g.get_count(), 1);
    EXPECT_EQ(g.get_archive(0)->get_path(), group_ + "/standard");
    EXPECT_EQ(g.get_archive(0)->get_count(), 1);
    ASSERT_TRUE(change_group_index(index(), [](GroupIndexEntries&) -> Result<void> { return {}; }));
    EXPECT_EQ(read(index()), "STANDARD\r\nMain\r\n");  // written as it was read
}

TEST_F(ArchiveGroupTest, DescriptionChangeChangesChecksumAndIsNoticed) {
    write(index(), "A\nA\nB\nB\n");
    make_archive("A", "X.FUL\none\nx\n1\nFull\n");
    make_archive("B", "Y.FUL\ntwo\nx\n1\nFull\n");
    ArchiveGroup g(index());
    EXPECT_FALSE(g.has_changed_on_disk());
    write(group_ + "/B/ARCHINFO.DAT", "Y.FUL\nTWO\nx\n1\nFull\n");
    EXPECT_TRUE(g.has_changed_on_disk());
    ArchiveGroup again(index());
    EXPECT_NE(again.get_checksum(), g.get_checksum());
    EXPECT_NE(again.get_archive(1)->get_checksum(), g.get_archive(1)->get_checksum());
    write(index(), "A\nA\nB\nb\n");
    EXPECT_TRUE(again.has_changed_on_disk());
    fs::remove(index());
    EXPECT_TRUE(again.has_changed_on_disk());
}

// ARCHDIR.DAT is changed in the group folder its lock holds, and the stamp given back is that of
// the file written there, also when the folder's path leads elsewhere by then.
TEST_F(ArchiveGroupTest, AGroupIndexIsWrittenAndStampedInTheLockedFolder) {
    write(index(), "A\nA\n");
    for (bool swapped : {false, true}) {
        const ArchiveIndexLock lock(group_);
        ASSERT_TRUE(lock.held());
        if (swapped) {
            fs::rename(group_, group_ + ".moved");
            fs::create_directories(group_);
            write(index(), "X\nX\n");
        }
        IndexStamp written;
        ASSERT_TRUE(change_group_index_locked(
            lock, index(),
            [](GroupIndexEntries& e) -> Result<void> {
                e.list.push_back({"B", "B"});
                return {};
            },
            &written));
        const std::string file = (swapped ? group_ + ".moved" : group_) + "/ARCHDIR.DAT";
        struct stat st;
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(written, archive_io::stamp_of(st)) << swapped;
        ArchiveGroup g(index());
        g.take_index_stamp(written);
        EXPECT_EQ(g.has_changed_on_disk(), swapped);
    }
    EXPECT_EQ(read(group_ + ".moved/ARCHDIR.DAT"), "A\r\nA\r\nB\r\nB\r\nB\r\nB\r\n");
    EXPECT_EQ(read(index()), "X\nX\n");
}

TEST_F(ArchiveGroupTest, RemoveMiddleArchiveKeepsWhatAnotherProgramAdded) {
    write(index(), "A\nFirst\nB\nSecond\nC\nThird\n");
    make_archive("A", "");
    make_archive("B", "X.FUL\none\nx\n1\nFull\n");
    fs::create_directories(group_ + "/B/X.FUL/sub");
    make_archive("C", "");
    ArchiveGroup g(index());
    ASSERT_TRUE(add_group_entry(index(), "D", "Fourth"));  // another program, meanwhile
    ASSERT_TRUE(g.remove_archive(1));
    EXPECT_FALSE(fs::exists(group_ + "/B"));
    ASSERT_EQ(g.get_count(), 2);
    EXPECT_EQ(g.get_archive(1)->get_name(), "Third");
    EXPECT_EQ(read(index()), "A\r\nFirst\r\nC\r\nThird\r\nD\r\nFourth\r\n");
    EXPECT_TRUE(g.has_changed_on_disk());  // it does not list D: the next look must reload
}

TEST_F(ArchiveGroupTest, HostileFolderLinesAreListedButNeverUsed) {
    fs::create_directories(root_ + "/outside");
    write(root_ + "/outside/ARCHINFO.DAT", "S.FUL\nsecret\nx\n1\nFull\n");
    const std::string long_name(5000, 'n');
    write(index(), "..\nParent\n/abs\nAbsolute\nX:\nDrive\n../outside\nEscape\n.\nSelf\n" + long_name + "\nLong\n" +
                       std::string("N\0UL\nNul\n", 9));
    ArchiveGroup g(index());
    ASSERT_EQ(g.get_count(), 7);
    for (int i = 0; i < 7; ++i) {
        ReportArchive* a = g.get_archive(i);
        if (i == 5) continue;  // a long name is a plain component
        EXPECT_FALSE(a->is_safe()) << i;
        EXPECT_EQ(a->get_count(), 0) << i;  // never read through
        const Result<void> removed = g.remove_archive(i);
        EXPECT_FALSE(removed) << i;
        if (!removed) {
            EXPECT_EQ(removed.error().message.rfind("Couldn't delete archive folder: ", 0), 0u) << i;
        }
        EXPECT_FALSE(a->update_index([](ArchiveIndexEntries&) -> Result<void> { return {}; })) << i;
    }
    EXPECT_TRUE(fs::exists(root_ + "/outside/ARCHINFO.DAT"));
    EXPECT_TRUE(fs::exists(group_));
    EXPECT_EQ(g.get_count(), 7);  // nothing dropped

    ASSERT_TRUE(change_group_index(index(), [](GroupIndexEntries&) -> Result<void> { return {}; }));
    const std::string out = read(index());
    EXPECT_EQ(out.rfind("..\r\nParent\r\n/abs\r\nAbsolute\r\nX:\r\nDrive\r\n../outside\r\nEscape\r\n.\r\nSelf\r\n", 0),
              0u);
    EXPECT_NE(out.find(std::string(127, 'n') + "\r\nLong\r\nN UL\r\nNul\r\n"), std::string::npos);
    EXPECT_EQ(out.find(std::string(128, 'n')), std::string::npos);
}

TEST_F(ArchiveGroupTest, FailedRemovalKeepsTheArchiveListed) {
    write(index(), "A\nFirst\nL\nLink\n");
    make_archive("A", "");
    fs::create_directories(root_ + "/target");
    fs::create_directory_symlink(root_ + "/target", group_ + "/L");
    ArchiveGroup g(index());
    EXPECT_FALSE(g.remove_archive(1));  // a link in place of the folder is never followed
    EXPECT_TRUE(fs::exists(root_ + "/target"));
    EXPECT_EQ(g.get_count(), 2);
    EXPECT_FALSE(g.remove_archive(5));
}

TEST_F(ArchiveGroupTest, AppendEntryAddsALineEndFirst) {
    write(index(), "STANDARD\r\nSTANDARD");
    ASSERT_TRUE(add_group_entry(index(), "3B07E135", std::string(20, 'd')));
    EXPECT_EQ(read(index()), "STANDARD\r\nSTANDARD\r\n3B07E135\r\n" + std::string(20, 'd') + "\r\n");
    EXPECT_FALSE(add_group_entry(index(), "../x", "bad"));
    EXPECT_FALSE(add_group_entry(index(), "", "bad"));
    ASSERT_TRUE(add_group_entry(group_ + "/NEW.DAT", "DELETED", ""));
    EXPECT_EQ(read(group_ + "/NEW.DAT"), "DELETED\r\nDELETED\r\n");
    EXPECT_EQ(ArchiveGroup(index()).get_count(), 2);
}

}  // namespace
}  // namespace tv
