#include "tolbex/archive/archive_operations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/audit_log.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/tests/archive_test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

// Keeps every entry; refuses to open while `refuse` is set.
class RecordingTrail : public AuditTrail {
public:
    bool open(const std::string&) override { return !refuse; }
    bool write(const char* format, const std::string& text1, const std::string& text2, const std::string&) override {
        entries.push_back(std::string(format) + "|" + text1 + "|" + text2);
        return true;
    }
    void close() override {}

    bool refuse = false;
    std::vector<std::string> entries;
};

class ArchiveOperationsTest : public testing_root::ArchiveTestRoot {
protected:
    void SetUp() override {
        ArchiveTestRoot::SetUp();
        if (HasFatalFailure()) return;
        group_ = root_ + "/G";
        for (const char* a : {"/A", "/B"}) fs::create_directories(group_ + a);
        fs::create_directories(group_ + "/A/R1.FUL");
        write(group_ + "/A/R1.FUL/PATIENT.TXT", "p");
        write(group_ + "/ARCHDIR.DAT", "A\r\nFirst\r\nB\r\nSecond\r\n");
        write(index_a(), kIndexA);
    }
    std::string index_a() const { return group_ + "/A/ARCHINFO.DAT"; }

    static constexpr const char* kIndexA =
        "R1.FUL\r\nOne\r\nMon Dec 03 14:05:09 2007\r\n1\r\nFull\r\n"
        "R2.FUL\r\nTwo\r\nMon Dec 03 14:05:09 2007\r\n1\r\nFull\r\n";
    std::string group_;
};

TEST_F(ArchiveOperationsTest, RefusalsChangeNothing) {
    struct Case {
        const char* what;
        std::function<Result<void>(ArchiveGroup&, RecordingTrail&)> run;
        int code;
        std::string message;
    };
    std::vector<Error> notices;
    auto transfer = [&](ArchiveGroup& g, RecordingTrail& t, bool move) -> Result<void> {
        auto r = archive_ops::transfer_report(*g.get_archive(0), "R1.FUL", group_ + "/B", "d", move, true, &t, notices);
        if (!r) return r.error();
        return {};
    };
    const Case cases[] = {
        {"unsafe archive",
         [&](ArchiveGroup& g, RecordingTrail& t) {
             g.get_archive(0)->set_safe(false);
             return transfer(g, t, false);
         },
         kArchiveUnsafeName, "This report cannot be copied, because its folder name is not valid: R1.FUL"},
        {"name no longer in the file",
         [&](ArchiveGroup& g, RecordingTrail& t) {
             g.get_archive(0)->get_record(0)->set_name("../B");
             return archive_ops::delete_report(*g.get_archive(0), "../B", &t);
         },
         kArchiveEntryGone, entry_gone_error(group_ + "/A", "../B").message},
        {"delete log refused",
         [&](ArchiveGroup& g, RecordingTrail& t) {
             t.refuse = true;
             return archive_ops::delete_report(*g.get_archive(0), "R1.FUL", &t);
         },
         kArchiveAuditFailed, kDeleteLogText},
        {"destination in use",
         [&](ArchiveGroup& g, RecordingTrail& t) {
             platform::FileLock held;
             EXPECT_TRUE(held.lock(group_ + "/B/" + kIndexLockFileName, true, false));
             return transfer(g, t, true);
         },
         kArchiveBusy,
         "Another program is changing the archive \"" + group_ +
             "/B\" and it could not be locked, so nothing was "
             "changed. Please try again."},
        {"copy log refused",
         [&](ArchiveGroup& g, RecordingTrail& t) {
             t.refuse = true;
             return transfer(g, t, false);
         },
         kArchiveAuditFailed, kCopyLogText},
        {"no space beside the source index",
         [&](ArchiveGroup&, RecordingTrail& t) {
             // A folder whose parent is gone reads as a full disk.
             ReportArchive gone(root_ + "/gone/deeper/A", "Gone", false, false, false);
             gone.add_record(std::make_unique<ReportRecord>("R1.FUL", gone.get_path(), "One", 1, 0, false));
             auto r = archive_ops::transfer_report(gone, "R1.FUL", group_ + "/B", "d", true, true, &t, notices);
             return r ? Result<void>() : Result<void>(r.error());
         },
         kArchiveIndexFull, kIndexEntryDiskFullText},
        {"no space for a group delete",
         [&](ArchiveGroup&, RecordingTrail&) {
             ArchiveGroup gone(root_ + "/gone/deeper/ARCHDIR.DAT");
             return archive_ops::delete_group(gone, nullptr, notices);
         },
         kArchiveNoSpace, ""},
        {"index in use",
         [&](ArchiveGroup& g, RecordingTrail&) {
             platform::FileLock held;
             EXPECT_TRUE(held.lock(group_ + "/A/" + kIndexLockFileName, true, false));
             return archive_ops::set_description(*g.get_archive(0), "R1.FUL", "x");
         },
         kArchiveBusy,
         "Another program is changing the archive \"" + group_ +
             "/A\" and it could not be locked, so nothing was "
             "changed. Please try again."},
    };
    for (const Case& c : cases) {
        ArchiveGroup group(group_ + "/ARCHDIR.DAT");
        RecordingTrail trail;
        notices.clear();
        const Result<void> r = c.run(group, trail);
        ASSERT_FALSE(r) << c.what;
        EXPECT_EQ(r.error().code, c.code) << c.what;
        EXPECT_EQ(r.error().message, c.message) << c.what;
        EXPECT_TRUE(notices.empty()) << c.what;
        EXPECT_TRUE(trail.entries.empty()) << c.what;
        EXPECT_EQ(read(index_a()), kIndexA) << c.what;
        EXPECT_EQ(read(group_ + "/ARCHDIR.DAT"), "A\r\nFirst\r\nB\r\nSecond\r\n") << c.what;
        EXPECT_TRUE(fs::exists(group_ + "/A/R1.FUL/PATIENT.TXT")) << c.what;
        EXPECT_FALSE(fs::exists(group_ + "/B/ARCHINFO.DAT")) << c.what;
    }
    EXPECT_TRUE(ui_.shown.empty());
    // Nothing to remove: no index is made for it.
    EXPECT_TRUE(archive_ops::remove_index_entry(group_ + "/B/ARCHINFO.DAT", "R1.FUL"));
    EXPECT_FALSE(fs::exists(group_ + "/B/ARCHINFO.DAT"));
}

TEST_F(ArchiveOperationsTest, EntryRemovalReplacesTheIndexWhole) {
    // A torn entry at the end is not ours to drop; the old file stays whole for anyone holding it.
    write(index_a(), std::string(kIndexA) + "R3.FUL\r\nTorn\r\n");
    const std::string held = root_ + "/held";
    fs::create_hard_link(index_a(), held);
    ASSERT_TRUE(archive_ops::remove_index_entry(index_a(), "r1.ful"));
    EXPECT_EQ(read(index_a()), "R2.FUL\r\nTwo\r\nMon Dec 03 14:05:09 2007\r\n1\r\nFull\r\nR3.FUL\r\nTorn\r\n");
    EXPECT_EQ(read(held), std::string(kIndexA) + "R3.FUL\r\nTorn\r\n");
    for (const auto& e : fs::directory_iterator(group_ + "/A"))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST_F(ArchiveOperationsTest, AuditEntriesOfDeleteCopyAndMove) {
    struct Case {
        const char* what;
        bool move;
        std::vector<std::string> entries;  // with "@" for the new report folder
    };
    const Case cases[] = {
        {"copy", false, {std::string(kAuditCopy) + "|One|@"}},
        {"move",
         true,
         {std::string(kAuditMove) + "|One|@", std::string(kAuditDelete) + "|One|" + group_ + "/A/R1.FUL"}},
    };
    for (const Case& c : cases) {
        ArchiveGroup group(group_ + "/ARCHDIR.DAT");
        RecordingTrail trail;
        std::vector<Error> notices;
        const Result<std::string> moved = archive_ops::transfer_report(*group.get_archive(0), "R1.FUL", group_ + "/B",
                                                                       "[First] One", c.move, true, &trail, notices);
        ASSERT_TRUE(moved) << c.what << ": " << moved.error().message;
        EXPECT_TRUE(notices.empty()) << c.what;
        std::vector<std::string> want = c.entries;
        for (std::string& w : want)
            if (w.back() == '@') w = w.substr(0, w.size() - 1) + *moved;
        EXPECT_EQ(trail.entries, want) << c.what;
        EXPECT_TRUE(fs::exists(*moved + "/PATIENT.TXT")) << c.what;
        EXPECT_EQ(fs::exists(group_ + "/A/R1.FUL"), !c.move) << c.what;
        EXPECT_EQ(ReportArchive(group_ + "/A", "A").get_count(), c.move ? 1 : 2) << c.what;
        fs::remove_all(*moved);
        fs::remove(group_ + "/B/ARCHINFO.DAT");
    }

    ArchiveGroup group(group_ + "/ARCHDIR.DAT");
    RecordingTrail trail;
    ASSERT_TRUE(archive_ops::delete_report(*group.get_archive(0), "R2.FUL", &trail));
    EXPECT_EQ(trail.entries, std::vector<std::string>{std::string(kAuditDelete) + "|Two|" + group_ + "/A/R2.FUL"});
}

}  // namespace
}  // namespace tv
