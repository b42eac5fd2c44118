#include "tolbex/archive/store_report.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/registry.h"
#include "common/ui.h"
#include "tolbex/archive/archive_operations.h"
#include "testing/hostile_entries.h"
#include "tolbex/archive/tests/archive_test_root.h"
#include "platform/system.h"
#include "tolbex/archive/report_archive.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

// 3 Dec 2007 14:05:09 UTC: unique folder names start "3B07E135".
constexpr std::int64_t kNow = 1196690709;

class FixedClock : public platform::RealSystem {
public:
    std::int64_t now() override { return kNow; }
};

class Progress : public ProgressWindow {
public:
    void set_text(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

class StoreReportTest : public testing_root::ArchiveTestRoot {
protected:
    void SetUp() override {
        ArchiveTestRoot::SetUp();
        if (HasFatalFailure()) return;
        archive_ = root_ + "/G/STANDARD";
        source_ = root_ + "/src";
        fs::create_directories(archive_);
        fs::create_directories(source_);
        write(source_ + "/PATIENT.TXT", "patient");
        write(source_ + "/page.1", "page one");
        write(source_ + "/WIN386.SWP", "swap");
        fs::create_directories(source_ + "/sub");
        platform::set_system(&clock_);
    }
    void TearDown() override {
        platform::set_system(nullptr);
        set_cef_unpacker(nullptr);
        ArchiveTestRoot::TearDown();
    }
    static std::set<std::string> names(const std::string& folder) {
        std::set<std::string> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec)) out.insert(e.path().filename().string());
        return out;
    }
    std::string index() const { return archive_ + "/ARCHINFO.DAT"; }

    std::string archive_, source_;
    FixedClock clock_;
};

TEST_F(StoreReportTest, AppendGoldenBytesWithConfirmationAfterMissingLineEnd) {
    write(index(), "OLD.FUL\r\nold\r\nWed Jan 02 02:03:55 1980\r\n1\r\nFull");  // no final line end
    write(source_ + "/CONFIRM.TXT", "doctor\r\n");
    std::string path;
    Progress progress;
    ASSERT_EQ(store_report_in_archive(archive_, source_, "Formatted one", 1234, kNow, kReportFormatted, &path,
                                      &progress),
              kStoreOk);
    EXPECT_EQ(path, archive_ + "/3B07E135.IMG");
    EXPECT_EQ(read(index()),
              "OLD.FUL\r\nold\r\nWed Jan 02 02:03:55 1980\r\n1\r\nFull\r\n"
              "3B07E135.IMG\r\nFormatted one\r\nMon Dec 03 14:05:09 2007\r\n1234C\r\nFormatted\r\n");
    EXPECT_EQ(names(path), (std::set<std::string>{"PATIENT.TXT", "page.1", "CONFIRM.TXT"}));
    EXPECT_EQ(read(path + "/page.1"), "page one");
    EXPECT_EQ(progress.texts.size(), 3u);
    EXPECT_TRUE(fs::exists(source_ + "/PATIENT.TXT"));  // copied, not moved

    // The same folder as an ordinary full report carries no mark; 520 does.
    ASSERT_EQ(store_report_in_archive(archive_, source_, "Full one", 10, kNow, kReportFull, &path), kStoreOk);
    ASSERT_EQ(store_report_in_archive(archive_, source_, "Other", 10, kNow, kReportFormatted520, &path), kStoreOk);
    ReportArchive a(archive_, "A");
    ASSERT_EQ(a.get_count(), 4);
    EXPECT_EQ(a.get_record(0)->get_name(), "OLD.FUL");
    EXPECT_FALSE(a.get_record(2)->is_confirmed());
    EXPECT_TRUE(a.get_record(3)->is_confirmed());
    EXPECT_EQ(a.get_record(3)->get_type(), kReportFormatted);
    EXPECT_NE(a.get_record(3)->get_name(), "3B07E135.IMG");
}

TEST_F(StoreReportTest, NewIndexAndLinesThatAreNeverBlank) {
    std::string path;
    ASSERT_EQ(store_report_in_archive(archive_, source_, "  ", 5, kNow, kReportUntyped, &path), kStoreOk);
    EXPECT_EQ(path, archive_ + "/3B07E135");
    EXPECT_EQ(read(index()), "3B07E135\r\n<Name>\r\nMon Dec 03 14:05:09 2007\r\n5\r\nUnknown\r\n");

    fs::remove(index());
    ASSERT_EQ(store_report_in_archive(archive_, source_, "x\r\ny" + std::string(300, 'z'), 5, kNow,
                                      kReportFullOstrabel12, &path),
              kStoreOk);
    const std::string text = read(index());
    EXPECT_EQ(text, path.substr(archive_.size() + 1) + "\r\nx  y" + std::string(251, 'z') +
                        "\r\nMon Dec 03 14:05:09 2007\r\n5\r\nFull Ostrabel 12\r\n");
    // A later change of the entry writes the table's other spelling.
    ReportArchive a(archive_, "A");
    ASSERT_TRUE(a.update_index([](ArchiveIndexEntries& e) -> Result<void> {
        e.records().front()->set_size(6);
        return {};
    }));
    EXPECT_NE(read(index()).find("\r\nFull Ostrabel12\r\n"), std::string::npos);
}

TEST_F(StoreReportTest, CopyFailureLeavesNothingBehind) {
    fs::create_symlink(root_ + "/nowhere", source_ + "/broken.dat");
    write(index(), "");
    write(archive_ + "/" + kIndexLockFileName, "");  // a store takes the lock before it copies
    const auto before = names(archive_);
    for (bool move : {false, true}) {
        EXPECT_EQ(store_report_in_archive(archive_, source_, "d", 1, kNow, kReportFull, nullptr, nullptr, move),
                  kStoreCopyFailed);
        EXPECT_EQ(names(archive_), before);
        EXPECT_EQ(read(index()), "");
        EXPECT_TRUE(fs::exists(source_ + "/PATIENT.TXT"));
        EXPECT_TRUE(fs::exists(source_ + "/page.1"));
    }
    EXPECT_EQ(store_report_in_archive(archive_, root_ + "/missing", "d", 1, kNow, kReportFull), kStoreCopyFailed);
    EXPECT_EQ(names(archive_), before);
}

TEST_F(StoreReportTest, LinksSpecialFilesAndCaseTwinsRefuseTheSourceWhole) {
    write(index(), "");
    write(archive_ + "/" + kIndexLockFileName, "");
    const auto before = names(archive_);
    for (const auto& entry : tv::testing::hostile_entries()) {
        const std::string source = root_ + "/h" + std::to_string(&entry - &tv::testing::hostile_entries()[0]);
        fs::create_directories(source);
        write(source + "/PATIENT.TXT", "patient");
        entry.plant(source, root_ + "/secrets");
        std::string path = "x", refusal;
        EXPECT_EQ(store_report_in_archive(archive_, source, "d", 1, kNow, kReportFull, &path, nullptr, true, nullptr,
                                          &refusal),
                  kStoreCopyFailed)
            << entry.what;
        EXPECT_NE(refusal.find(std::string("\"") + entry.name + "\""), std::string::npos) << refusal;
        EXPECT_TRUE(path.empty());
        EXPECT_EQ(names(archive_), before) << entry.what;
        EXPECT_EQ(read(index()), "");
        EXPECT_TRUE(fs::exists(source + "/PATIENT.TXT"));
    }
}

TEST_F(StoreReportTest, MoveDeletesSourcesOnlyAfterTheEntry) {
    std::string path;
    ASSERT_EQ(store_report_in_archive(archive_, source_, "moved", 1, kNow, kReportTimiData, &path, nullptr, true),
              kStoreOk);
    EXPECT_EQ(names(source_), (std::set<std::string>{"WIN386.SWP", "sub"}));  // the folder stays for the caller
    EXPECT_EQ(names(path), (std::set<std::string>{"PATIENT.TXT", "page.1"}));
    EXPECT_NE(read(index()).find("\r\nTIMI Data\r\n"), std::string::npos);
}

TEST_F(StoreReportTest, IndexFailureKeepsTheSourceIntact) {
    fs::create_directories(index());  // a folder where the index should be
    std::string path;
    EXPECT_EQ(store_report_in_archive(archive_, source_, "d", 1, kNow, kReportFull, &path, nullptr, true),
              kStoreIndexFailed);
    EXPECT_FALSE(fs::exists(path));  // a move leaves no second copy
    EXPECT_TRUE(fs::exists(source_ + "/PATIENT.TXT"));
    EXPECT_EQ(store_report_in_archive(archive_, source_, "d", 1, kNow, kReportFull, &path), kStoreIndexFailed);
    EXPECT_EQ(path, "");  // neither does a copy leave one, unlisted
    EXPECT_EQ(names(archive_), (std::set<std::string>{"ARCHINFO.DAT", kIndexLockFileName}));
}

// What other programs may see of an archive: every folder without a leading '.' is listed.
static std::string unlisted_report_folders(const std::string& archive) {
    const ReportArchive a(archive, "A");
    std::string unlisted;
    for (const auto& e : fs::directory_iterator(archive)) {
        const std::string n = e.path().filename().string();
        if (e.is_directory() && n[0] != '.' && !a.find_record(n)) unlisted += n + " ";
    }
    return unlisted;
}

// The unpacker runs while the files are copied: the archive shows no folder
// of the new report then; `complete` sees it under its name, still unlisted but under the lock.
// A torn entry at the end of the index stays behind the new one.
TEST_F(StoreReportTest, NoFolderIsSeenUnlistedWhileTheReportIsBuilt) {
    const std::string torn = "TORN.FUL\r\nhalf\r\n";
    write(index(), format_archive_entry("OLD.FUL", "old", "Mon Dec 03 14:05:09 2007", "1", "Full") + torn);
    fs::create_directories(archive_ + "/OLD.FUL");
    write(root_ + "/in.CEF", "compressed");
    std::vector<std::string> seen;
    auto look = [&](const std::string& folder) {
        seen.push_back(unlisted_report_folders(archive_));
        write(folder + "/ECG.DAT", "ecg");
        return true;
    };
    set_cef_unpacker([&](const std::string&, const std::string& folder) { return look(folder); });
    const StoreCompletion complete = [&](const std::string& folder, int) {
        write(folder + "/DETAILS.TXT", folder);
        return fs::exists(folder + "/ECG.DAT");
    };
    const struct {
        std::string source;
        ReportType type;
    } cases[] = {{root_ + "/in.CEF", kReportCef}};
    for (const auto& c : cases) {
        std::string path;
        ASSERT_EQ(store_report_in_archive(archive_, c.source, "d", 1, kNow, c.type, &path, nullptr, false, complete),
                  kStoreOk);
        EXPECT_EQ(read(path + "/DETAILS.TXT"), path);  // its own name, not the hidden one
        EXPECT_NE(ReportArchive(archive_, "A").find_record(fs::path(path).filename().string()), nullptr);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{""}));
    EXPECT_EQ(unlisted_report_folders(archive_), "");
    for (const auto& e : fs::directory_iterator(archive_))
        EXPECT_TRUE(e.path().filename().string()[0] != '.' || !e.is_directory()) << e.path();  // no staging left
    const std::string text = read(index());
    EXPECT_EQ(text.substr(text.size() - torn.size()), torn);
    EXPECT_EQ(ReportArchive(archive_, "A").get_count(), 2);

    // A failing `complete` leaves neither folder nor entry.
    std::string path;
    EXPECT_EQ(store_report_in_archive(archive_, source_, "d", 1, kNow, kReportFull, &path, nullptr, false,
                                      [](const std::string&, int) { return false; }),
              kStoreCopyFailed);
    EXPECT_EQ(path, "");
    EXPECT_EQ(read(index()), text);
    EXPECT_EQ(names(archive_).size(), 4u);  // ARCHINFO.DAT, the lock file, OLD.FUL and the report
}

TEST_F(StoreReportTest, FolderFailures) {
    EXPECT_EQ(store_report_in_archive(root_ + "/nope", source_, "d", 1, kNow, kReportFull), kStoreFolderFailed);
    write(root_ + "/file", "x");
    EXPECT_EQ(store_report_in_archive(root_ + "/file", source_, "d", 1, kNow, kReportFull), kStoreFolderFailed);
    EXPECT_EQ(store_report_in_archive("", source_, "d", 1, kNow, kReportFull), kStoreFolderFailed);
    fs::create_directories(root_ + "/victim");
    fs::create_directory_symlink(root_ + "/victim", root_ + "/linked");
    std::string why;
    EXPECT_EQ(store_report_in_archive(root_ + "/linked", source_, "d", 1, kNow, kReportFull, nullptr, nullptr, false,
                                      nullptr, &why),
              kStoreFolderFailed);
    EXPECT_NE(why.find("is a link, so nothing was stored"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_empty(root_ + "/victim"));
    // A name taken by a file is skipped.
    write(archive_ + "/3B07E135.FUL", "x");
    std::string path;
    ASSERT_EQ(store_report_in_archive(archive_, source_, "d", 1, kNow, kReportFull, &path), kStoreOk);
    EXPECT_NE(path, archive_ + "/3B07E135.FUL");
    EXPECT_EQ(path.size(), (archive_ + "/3B07E135.FUL").size());
}

TEST_F(StoreReportTest, CompressedFileAndCardUseTheirHooks) {
    write(root_ + "/in.CEF", "compressed");
    std::string path;
    EXPECT_EQ(store_report_in_archive(archive_, root_ + "/in.CEF", "c", 10, kNow, kReportCef, &path),
              kStoreCopyFailed);  // nobody to unpack it
    EXPECT_FALSE(fs::exists(path));
    std::string seen_source;
    set_cef_unpacker([&](const std::string& cef, const std::string& folder) {
        seen_source = cef;
        write(folder + "/ECG.DAT", "ecg");
        return true;
    });
    ASSERT_EQ(store_report_in_archive(archive_, root_ + "/in.CEF", "c", 10, kNow, kReportCef, &path), kStoreOk);
    EXPECT_EQ(seen_source, root_ + "/in.CEF");
    EXPECT_EQ(names(path), (std::set<std::string>{"in.CEF", "ECG.DAT"}));
    // A folder as the source of a compressed report is copied as a folder.
    ASSERT_EQ(store_report_in_archive(archive_, source_, "c", 10, kNow, kReportCef, &path), kStoreOk);
    EXPECT_EQ(names(path), (std::set<std::string>{"PATIENT.TXT", "page.1"}));
}

TEST_F(StoreReportTest, DeleteEcgFilesTurnsTwelveLeadIntoFull) {
    const std::string folder = archive_ + "/X.O12";
    fs::create_directories(folder);
    for (int i = 1; i <= 8; ++i) write(folder + (i % 2 ? "/os12ecg" : "/OS12ECG") + std::to_string(i) + ".dat", "e");
    write(folder + "/OS12PAC.DAT", "p");
    write(folder + "/PATIENT.TXT", "patient");
    write(folder + "/os12ecg9.dat", "kept");
    ReportRecord r("", "100", "", "X.O12", archive_, "d");
    ASSERT_EQ(r.get_type(), kReportFullOstrabel12);
    ASSERT_EQ(delete_twelve_lead_ecg(folder, false, &r, nullptr), kDeleteEcgOk);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(names(archive_ + "/X.FUL"), (std::set<std::string>{"PATIENT.TXT", "os12ecg9.dat"}));
    EXPECT_EQ(r.get_name(), "X.FUL");
    EXPECT_EQ(r.get_type(), kReportFull);
    EXPECT_EQ(r.get_size(), 11);
    EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(StoreReportTest, DeleteEcgFilesKeepsALongFolderNameWhole) {
    // The folder keeps its long stem on disk, so its entry must too.
    const std::string stem = std::string(72, 'S');
    fs::create_directories(archive_ + "/" + stem + ".O12");
    write(archive_ + "/" + stem + ".O12/os12ecg1.dat", "e");
    write(index(), stem + ".O12\r\nTwelve\r\nMon Dec 03 14:05:09 2007\r\n1\r\nFull Ostrabel12\r\n");
    ReportArchive a(archive_, "A");
    ReportRecord& r = *a.get_record(0);
    ASSERT_EQ(delete_twelve_lead_ecg(archive_ + "/" + stem + ".O12", false, &r, nullptr), kDeleteEcgOk);
    EXPECT_EQ(read(index()), stem + ".FUL\r\nTwelve\r\nMon Dec 03 14:05:09 2007\r\n0\r\nFull\r\n");
    EXPECT_NE(ReportArchive(archive_, "A").find_record(stem + ".FUL"), nullptr);
}

TEST_F(StoreReportTest, DeleteEcgFilesFailuresLeaveRecordAndFolder) {
    const std::string lower = archive_ + "/y.o12";
    fs::create_directories(lower);
    write(lower + "/os12ecg1.dat", "e");
    ReportRecord r("", "100", "", "y.o12", archive_, "d");
    EXPECT_EQ(delete_twelve_lead_ecg(lower, false, &r, nullptr), kDeleteEcgNotTwelveLead);
    EXPECT_TRUE(fs::exists(lower + "/os12ecg1.dat"));
    EXPECT_EQ(r.get_name(), "y.o12");
    EXPECT_EQ(r.get_type(), kReportFullOstrabel12);
    EXPECT_TRUE(ui_.shown.empty());  // the caller shows it
    EXPECT_STREQ(kDeleteEcgFailedText, "There was an error while deleting the Ostrabel12 ECG files from this folder.");

    EXPECT_EQ(delete_twelve_lead_ecg(archive_ + "/MISSING.O12", false, &r, nullptr), kDeleteEcgNotTwelveLead);

    // The .FUL name is taken (a full report of the same second): a fresh name, nothing replaced.
    const std::string taken = archive_ + "/Y.O12";
    fs::create_directories(taken);
    write(taken + "/os12pac.dat", "p");
    fs::create_directories(archive_ + "/Y.FUL");
    write(archive_ + "/Y.FUL/ANALSUM.TXT", "full");
    ReportRecord y("", "100", "", "Y.O12", archive_, "d");
    ASSERT_EQ(delete_twelve_lead_ecg(taken, false, &y, nullptr), kDeleteEcgOk);
    EXPECT_EQ(get_extension_upper(y.get_name()), "FUL");
    EXPECT_NE(y.get_name(), "Y.FUL");
    EXPECT_TRUE(fs::is_directory(archive_ + "/" + y.get_name()));
    EXPECT_FALSE(fs::exists(archive_ + "/" + y.get_name() + "/os12pac.dat"));
    EXPECT_FALSE(fs::exists(taken));
    EXPECT_EQ(read(archive_ + "/Y.FUL/ANALSUM.TXT"), "full");

    // An ECG "file" that cannot be deleted (a folder of that name).
    const std::string folder = archive_ + "/Z.O12";
    ReportRecord z("", "100", "", "Z.O12", archive_, "d");
    fs::create_directories(folder + "/OS12ECG3.DAT");
    EXPECT_EQ(delete_twelve_lead_ecg(folder, false, &z, nullptr), kDeleteEcgDeleteFailed);
    EXPECT_TRUE(fs::exists(folder));
    EXPECT_EQ(z.get_type(), kReportFullOstrabel12);
}

// The folder is renamed only in the turn of the lock that renames its entry: when the entry is
// gone or the index cannot be written, folder and entry keep the old name.
TEST_F(StoreReportTest, ListedTwelveLeadKeepsFolderAndEntryAlike) {
    const std::string entry =
        format_archive_entry("X.O12", "Twelve", "Mon Dec 03 14:05:09 2007", "1", "Full Ostrabel12");
    const struct {
        const char* what;
        std::string index;  // "" for a folder in its place
        int result, code;
    } cases[] = {
        {"listed", entry, kDeleteEcgOk, 0},
        {"entry gone", format_archive_entry("Y.FUL", "y", "Mon Dec 03 14:05:09 2007", "1", "Full"),
         kDeleteEcgIndexFailed, kArchiveEntryGone},
        {"index unreadable", "", kDeleteEcgIndexFailed, kArchiveWriteFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(archive_);
        fs::create_directories(archive_ + "/X.O12");
        write(archive_ + "/X.O12/os12ecg1.dat", "e");
        write(archive_ + "/X.O12/PATIENT.TXT", "patient");
        if (c.index.empty())
            fs::create_directories(index());
        else
            write(index(), c.index);
        ReportRecord r("Full Ostrabel12", "1", "", "X.O12", archive_, "Twelve");
        Error error;
        EXPECT_EQ(delete_listed_ecg_files(r, archive_ + "/X.O12", &error), c.result);
        const bool done = c.result == kDeleteEcgOk;
        EXPECT_EQ(fs::exists(archive_ + "/X.O12/os12ecg1.dat"), !done);                    // put back on failure
        EXPECT_EQ(names(archive_ + (done ? "/X.FUL" : "/X.O12")).size(), done ? 1u : 2u);  // nothing hidden left
        EXPECT_EQ(fs::exists(archive_ + "/X.FUL"), done);
        EXPECT_EQ(fs::exists(archive_ + "/X.O12"), !done);
        EXPECT_EQ(r.get_name(), done ? "X.FUL" : "X.O12");
        if (done) {
            EXPECT_EQ(read(index()), "X.FUL\r\nTwelve\r\nMon Dec 03 14:05:09 2007\r\n7\r\nFull\r\n");
        } else {
            EXPECT_EQ(error.code, c.code);
            if (!c.index.empty()) {
                EXPECT_EQ(read(index()), c.index);
            }
        }
    }
}

TEST_F(StoreReportTest, ListedTwelveLeadNeverTakesANameTheIndexHoldsForAGoneFolder) {
    const std::string stale = format_archive_entry("X.FUL", "Gone", "Mon Dec 03 14:05:09 2007", "1", "Full");
    fs::create_directories(archive_ + "/X.O12");
    write(archive_ + "/X.O12/os12ecg1.dat", "e");
    write(index(), stale + format_archive_entry("X.O12", "Twelve", "Mon Dec 03 14:05:09 2007", "1", "Full Ostrabel12"));
    ReportRecord r("Full Ostrabel12", "1", "", "X.O12", archive_, "Twelve");
    Error error;
    ASSERT_EQ(delete_listed_ecg_files(r, archive_ + "/X.O12", &error), kDeleteEcgOk);
    EXPECT_NE(r.get_name(), "X.FUL");
    EXPECT_TRUE(fs::is_directory(archive_ + "/" + r.get_name()));
    EXPECT_FALSE(fs::exists(archive_ + "/X.FUL"));
    EXPECT_EQ(read(index()).rfind(stale, 0), 0u);  // the stale entry keeps its name, the report has its own
    EXPECT_NE(read(index()).find(r.get_name() + "\r\nTwelve\r\n"), std::string::npos) << read(index());
}

// A name the index lists is taken, whether its folder is there or not (in any case): a store
// never lists one folder twice under two descriptions.
TEST_F(StoreReportTest, AStoreNeverTakesANameTheIndexListsForAMissingFolder) {
    const std::string stale = format_archive_entry("3B07E135.FUL", "Gone", "Mon Dec 03 14:05:09 2007", "1", "Full") +
                              format_archive_entry("4b07e135.ful", "Gone too", "Mon Dec 03 14:05:09 2007", "1", "Full");
    write(index(), stale);
    std::string path;
    ASSERT_EQ(store_report_in_archive(archive_, source_, "New", 1, kNow, kReportFull, &path), kStoreOk);
    EXPECT_EQ(path, archive_ + "/5B07E135.FUL");
    EXPECT_EQ(read(index()),
              stale + format_archive_entry("5B07E135.FUL", "New", "Mon Dec 03 14:05:09 2007", "1", "Full"));
    EXPECT_FALSE(fs::exists(archive_ + "/3B07E135.FUL"));
}

TEST_F(StoreReportTest, LocateCardProgram) {
    EXPECT_EQ(locate_card_program(), "");
    const std::string system = root_ + "/ANALYSER/SYSTEM";
    fs::create_directories(system);
    write(system + "/vond", "#!/bin/sh\n");
    ::chmod((system + "/vond").c_str(), 0755);
    reset_cached_roots();
    EXPECT_EQ(locate_card_program(), system + "/vond");
}

}  // namespace
}  // namespace tv
