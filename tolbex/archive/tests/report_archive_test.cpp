#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_archive.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "common/ui.h"
#include "tolbex/archive/archive_operations.h"
#include "tolbex/archive/tests/archive_test_root.h"
#include "tolbex/archive/store_report.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

// Writes the index back as it is on disk now.
Result<void> rewrite(ReportArchive& a) {
    return a.update_index([](ArchiveIndexEntries&) -> Result<void> { return {}; });
}
// Applies `edit` to the entries as the file holds them now.
template <class Edit>
Result<void> change(ReportArchive& a, Edit edit) {
    return a.update_index([&](ArchiveIndexEntries& e) -> Result<void> {
        edit(e);
        return {};
    });
}

class ReportArchiveTest : public testing_root::ArchiveTestRoot {
protected:
    void SetUp() override {
        ArchiveTestRoot::SetUp();
        if (HasFatalFailure()) return;
        archive_ = root_ + "/G/STANDARD";
        fs::create_directories(archive_);
    }
    std::string index() const { return archive_ + "/ARCHINFO.DAT"; }

    std::string archive_;
};

const char* const kTwoEntriesLf =
    "A1.FUL\nFirst report\nWed Jan  2 02:03:55 1980\n20480C\nFull\n"
    "B2.O12\nSecond\n03/12/07 14:05:09\n100\nwhatever\n";
// Entries a change leaves alone go back as they were read, in CR LF lines.
const char* const kTwoEntriesAsRead =
    "A1.FUL\r\nFirst report\r\nWed Jan  2 02:03:55 1980\r\n20480C\r\nFull\r\n"
    "B2.O12\r\nSecond\r\n03/12/07 14:05:09\r\n100\r\nwhatever\r\n";
// As this program writes them.
const char* const kTwoEntriesRewritten =
    "A1.FUL\r\nFirst report\r\nWed Jan 02 02:03:55 1980\r\n20480C\r\nFull\r\n"
    "B2.O12\r\nSecond\r\nMon Dec 03 14:05:09 2007\r\n100\r\nFull Ostrabel12\r\n";

TEST_F(ReportArchiveTest, RewriteGoldenBytesAndRoundTrip) {
    write(index(), kTwoEntriesLf);
    ReportArchive a(archive_, "STANDARD");
    ASSERT_EQ(a.get_count(), 2);
    EXPECT_EQ(a.get_folder_name(), "STANDARD");
    EXPECT_EQ(a.get_record(0)->get_description(), "First report");
    EXPECT_TRUE(a.get_record(0)->is_confirmed());
    EXPECT_EQ(a.get_record(1)->get_type(), kReportFullOstrabel12);
    ASSERT_TRUE(rewrite(a));
    EXPECT_EQ(read(index()), kTwoEntriesAsRead);
    EXPECT_FALSE(a.index_changed_on_disk());  // its own write is not a change

    // Reading the rewritten file and writing again changes nothing; the checksum is that of
    // the same lines whatever the line ends.
    ReportArchive b(archive_, "STANDARD");
    ASSERT_TRUE(rewrite(b));
    EXPECT_EQ(read(index()), kTwoEntriesAsRead);
    write(index(), kTwoEntriesRewritten);
    ReportArchive crlf(archive_, "STANDARD");
    write(index(),
          "A1.FUL\nFirst report\nWed Jan 02 02:03:55 1980\n20480C\nFull\n"
          "B2.O12\nSecond\nMon Dec 03 14:05:09 2007\n100\nFull Ostrabel12");  // no final line end
    ReportArchive lf(archive_, "STANDARD");
    EXPECT_EQ(crlf.get_checksum(), lf.get_checksum());
    EXPECT_EQ(lf.get_count(), 2);
}

TEST_F(ReportArchiveTest, ChecksumCoversCompleteEntriesAndIgnoresBlankLines) {
    std::string twelve;
    for (int i = 0; i < 12; ++i) twelve += "line" + std::to_string(i) + ".FUL\n";
    write(index(), twelve);
    ReportArchive a(archive_, "A");
    EXPECT_EQ(a.get_count(), 2);
    std::uint32_t expected = 0;
    for (int i = 0; i < 10; ++i) fold_line_checksum("line" + std::to_string(i) + ".FUL", expected);
    EXPECT_EQ(a.get_checksum(), expected);

    write(index(), "X.FUL\n\n   \nabc  \n\r\n d\t\n1\n\nFull\n");
    ReportArchive spaced(archive_, "A");
    write(index(), "X.FUL\nabc\n d\n1\nFull\n");
    ReportArchive plain(archive_, "A");
    ASSERT_EQ(spaced.get_count(), 1);
    EXPECT_EQ(spaced.get_checksum(), plain.get_checksum());
    EXPECT_EQ(spaced.get_record(0)->get_description(), "abc");

    write(index(), "X.FUL\n leading\nx\n1\nFull\nY.FUL\n");  // fewer lines than an entry
    ReportArchive short_file(archive_, "A");
    ASSERT_EQ(short_file.get_count(), 1);
    EXPECT_EQ(short_file.get_record(0)->get_description(), " leading");
}

TEST_F(ReportArchiveTest, RawFiltersKeepTheChecksumAndChangesKeepWhatTheyLeftOut) {
    write(index(), "A.RAW\na\nx\n1\nRAW ECG\nB.FUL\nb\nx\n2\nFull\nC.RAW\nc\nx\n3\nRAW ECG\n");
    ReportArchive all(archive_, "A");
    ReportArchive raw(archive_, "A", true, false);
    ReportArchive skip(archive_, "A", false, true);
    EXPECT_EQ(raw.get_count(), 2);
    EXPECT_EQ(skip.get_count(), 1);
    EXPECT_EQ(raw.get_checksum(), all.get_checksum());
    EXPECT_EQ(skip.get_checksum(), all.get_checksum());
    // A change made through a filtered archive is made to the whole file.
    ASSERT_TRUE(change(raw, [](ArchiveIndexEntries& e) { e.find("C.RAW")->set_description("c2"); }));
    EXPECT_EQ(raw.get_count(), 2);
    ReportArchive after(archive_, "A");
    ASSERT_EQ(after.get_count(), 3);
    EXPECT_EQ(after.find_record("C.RAW")->get_description(), "c2");
    EXPECT_EQ(after.get_checksum(), raw.get_checksum());
    ReportArchive none(archive_, "A", false, false, false);
    EXPECT_EQ(none.get_count(), 0);
    EXPECT_EQ(none.get_checksum(), 0u);
}

TEST_F(ReportArchiveTest, HostileIndexIsReadWholeAndWrittenBackAsRead) {
    const std::string huge(100000, 'h');
    std::string text = huge + ".FUL\n" + huge + "\nWed Jan 02 02:03:55 1980\n" + huge + "\n" + huge + "\n";
    text += "..\nparent\nx\n1\nFull\n";
    text += "/abs\nabsolute\nx\n1\nFull\n";
    text += "X:\ndrive\nx\n1\nFull\n";
    text += std::string("N\0L.FUL\r\n", 9) + std::string("d\0e\r\n", 5) + "x\r\n1\r\nFull\r\n";
    write(index(), text);
    ReportArchive a(archive_, "A");
    ASSERT_EQ(a.get_count(), 5);  // a long line is one line: nothing shifts
    EXPECT_EQ(a.get_record(0)->get_name().size(), huge.size() + 4);
    EXPECT_EQ(a.get_record(0)->get_description(), huge);  // kept unchanged in memory
    for (int i = 1; i <= 4; ++i) EXPECT_FALSE(a.get_record(i)->has_safe_name()) << i;
    EXPECT_EQ(a.get_record(1)->get_description(), "parent");

    // Names and descriptions go back as they were read; the lines formatted here keep their
    // limits; nothing shifts.
    ASSERT_TRUE(rewrite(a));
    const std::string out = read(index());
    std::size_t start = 0, lines = 0;
    while (start < out.size()) {
        const std::size_t end = out.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = out.substr(start, end - start);
        EXPECT_FALSE(is_blank(line));
        start = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, 25u);
    ReportArchive b(archive_, "A");
    ASSERT_EQ(b.get_count(), 5);
    EXPECT_EQ(b.get_record(0)->get_name(), huge + ".FUL");
    EXPECT_EQ(b.get_record(0)->get_description(), huge);
    EXPECT_EQ(b.get_record(1)->get_name(), "..");
    EXPECT_EQ(b.get_record(4)->get_name(), std::string("N\0L.FUL", 7));
    EXPECT_EQ(b.get_record(4)->get_description(), std::string("d\0e", 3));
}

TEST_F(ReportArchiveTest, ChangeDetectionSeesSameSecondWritesAndAppearingFiles) {
    ReportArchive empty(archive_, "A");
    EXPECT_EQ(empty.get_index_time(), 0);
    EXPECT_FALSE(empty.index_changed_on_disk());
    write(index(), "X.FUL\na\nx\n1\nFull\n");
    EXPECT_TRUE(empty.index_changed_on_disk());

    ReportArchive a(archive_, "A");
    EXPECT_FALSE(a.index_changed_on_disk());
    EXPECT_GT(a.get_index_time(), 0);
    write(index(), "X.FUL\nb\nx\n1\nFull\n");  // same size, same second
    EXPECT_TRUE(a.index_changed_on_disk());
    fs::remove(index());
    EXPECT_TRUE(a.index_changed_on_disk());
}

TEST_F(ReportArchiveTest, IndexFoundWithoutCaseAndNonFilesIgnored) {
    write(archive_ + "/archinfo.dat", "X.FUL\na\nx\n1\nFull\n");
    ReportArchive a(archive_, "A");
    EXPECT_EQ(a.get_count(), 1);
    EXPECT_EQ(a.get_index_path(), archive_ + "/archinfo.dat");
    EXPECT_EQ(a.get_index_size(), 17);
    ASSERT_TRUE(rewrite(a));
    EXPECT_FALSE(fs::exists(index()));  // rewritten under its own spelling

    const std::string other = root_ + "/G/FIFO";
    fs::create_directories(other);
    ASSERT_EQ(::mkfifo((other + "/ARCHINFO.DAT").c_str(), 0600), 0);
    ReportArchive fifo(other, "F");  // must not block
    EXPECT_EQ(fifo.get_count(), 0);
}

// An index or an archive folder swapped for a link: nothing is read, locked or written where it leads.
TEST_F(ReportArchiveTest, LinksInPlaceOfTheIndexOrTheFolderAreNotFollowed) {
    const std::string secret = root_ + "/secret", victim = root_ + "/victim";
    write(secret, "S.FUL\na\nx\n1\nFull\n");
    fs::create_symlink(secret, index());
    ReportArchive a(archive_, "A");
    EXPECT_EQ(a.get_count(), 0);
    EXPECT_FALSE(a.index_changed_on_disk());
    EXPECT_FALSE(change_archive_index(archive_, [](ArchiveIndexEntries&) -> Result<void> { return {}; }));
    EXPECT_TRUE(fs::is_symlink(index()));
    EXPECT_EQ(read(secret), "S.FUL\na\nx\n1\nFull\n");

    fs::create_directories(victim);
    fs::create_directory_symlink(victim, root_ + "/G/LINKED");
    const ArchiveIndexLock lock(root_ + "/G/LINKED");
    EXPECT_FALSE(lock.held());
    EXPECT_NE(lock.busy_error().message.find("is a link, which is not followed"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(victim));
}

// The stamp of an own write is that of the file written: an archive folder swapped after its
// lock was taken neither receives the write nor lends its index's stamp, so the change shows.
TEST_F(ReportArchiveTest, TheStampOfAnOwnWriteIsTheWrittenFile) {
    write(index(), kTwoEntriesLf);
    ReportArchive a(archive_, "A");
    for (bool swapped : {false, true}) {
        const ArchiveIndexLock lock(archive_);
        ASSERT_TRUE(lock.held());
        if (swapped) {
            fs::rename(archive_, archive_ + ".moved");
            fs::create_directories(archive_);
            write(index(), kTwoEntriesLf);
        }
        ASSERT_TRUE(a.update_index(lock, [](ArchiveIndexEntries& e) -> Result<void> {
            e.remove("A1.FUL");
            return {};
        }));
        struct stat st;
        const std::string written = (swapped ? archive_ + ".moved" : archive_) + "/ARCHINFO.DAT";
        ASSERT_EQ(::stat(written.c_str(), &st), 0);
        EXPECT_EQ(a.get_index_stamp(), archive_io::stamp_of(st)) << swapped;
        EXPECT_EQ(a.index_changed_on_disk(), swapped);
    }
    EXPECT_EQ(read(index()), kTwoEntriesLf);  // the folder now at the path was not written
}

TEST_F(ReportArchiveTest, DeletingReportFoldersStaysInsideTheArchive) {
    fs::create_directories(archive_ + "/R1.FUL/sub");
    write(archive_ + "/R1.FUL/sub/f", "x");
    fs::create_directories(root_ + "/G/victim");
    write(root_ + "/G/victim/keep", "x");
    fs::create_directory_symlink(root_ + "/G/victim", archive_ + "/LINK.FUL");
    write(index(),
          "r1.ful\na\nx\n1\nFull\n..\nb\nx\n1\nFull\nLINK.FUL\nc\nx\n1\nFull\nGONE.FUL\nd\nx\n1\nFull\n"
          "/abs\ne\nx\n1\nFull\n");
    ReportArchive a(archive_, "A");
    ASSERT_EQ(a.get_count(), 5);
    // Through the delete operation: entry and folder go, the folder through descriptors.
    auto delete_folder = [&a](std::string_view name) { return archive_ops::delete_report(a, name, nullptr); };
    EXPECT_TRUE(delete_folder("r1.ful"));  // found without regard to case
    EXPECT_FALSE(fs::exists(archive_ + "/R1.FUL"));

    const Result<void> dots = delete_folder("..");
    const Result<void> link = delete_folder("LINK.FUL");
    EXPECT_FALSE(dots);
    EXPECT_FALSE(link);                      // a link is never followed
    EXPECT_TRUE(delete_folder("GONE.FUL"));  // already gone
    EXPECT_FALSE(delete_folder("/abs"));
    EXPECT_TRUE(fs::exists(archive_));
    EXPECT_TRUE(fs::exists(root_ + "/G/victim/keep"));
    ASSERT_FALSE(dots);
    ASSERT_FALSE(link);
    EXPECT_STREQ(archive_error_caption(dots.error().code), "File Error");
    EXPECT_EQ(dots.error().message.rfind("Couldn't delete report folder: ", 0), 0u);
    EXPECT_EQ(link.error().code, kArchiveReplaced);
    EXPECT_EQ(link.error().message, archive_ +
                                        "/LINK.FUL was replaced by a link while it was checked - it is not "
                                        "deleted, and what the link leads to is not looked at.");
    EXPECT_TRUE(ui_.shown.empty());

    ASSERT_TRUE(change(a, [](ArchiveIndexEntries& e) { e.records().clear(); }));
    EXPECT_EQ(a.get_count(), 0);
    EXPECT_EQ(read(index()), "");
}

TEST_F(ReportArchiveTest, FindRecordAndSetters) {
    write(index(), kTwoEntriesLf);
    ReportArchive a(archive_, "A");
    ASSERT_NE(a.find_record("b2.o12"), nullptr);
    EXPECT_EQ(a.find_record("B2"), nullptr);
    ASSERT_TRUE(change(a, [&](ArchiveIndexEntries& e) {
        ReportRecord* r = e.find("b2.o12");
        r->set_description("New\ttext");
        r->set_time(1196690709);
        r->set_confirmed(true);
        e.add(std::make_unique<ReportRecord>("C3", archive_, "", 7, 1196690709, false));
    }));
    EXPECT_EQ(read(index()),
              "A1.FUL\r\nFirst report\r\nWed Jan  2 02:03:55 1980\r\n20480C\r\nFull\r\n"
              "B2.O12\r\nNew text\r\nMon Dec 03 14:05:09 2007\r\n100C\r\nFull Ostrabel12\r\n"
              "C3\r\n<Name>\r\nMon Dec 03 14:05:09 2007\r\n7\r\nUnknown\r\n");
}

// Another program's appends, edits and removals since this archive read the index all stay; an
// entry it removed is reported, never written back; the records are then what the file holds.
TEST_F(ReportArchiveTest, ChangesKeepWhatAnotherProgramDid) {
    write(index(), kTwoEntriesLf);
    ReportArchive a(archive_, "A");
    write(index(), read(index()) + "N1.FUL\r\nnew\r\nWed Jan 02 02:03:55 1980\r\n5\r\nFull\r\n");
    ASSERT_TRUE(change(a, [](ArchiveIndexEntries& e) { e.remove("A1.FUL"); }));
    EXPECT_EQ(read(index()),
              "B2.O12\r\nSecond\r\n03/12/07 14:05:09\r\n100\r\nwhatever\r\n"
              "N1.FUL\r\nnew\r\nWed Jan 02 02:03:55 1980\r\n5\r\nFull\r\n");
    ASSERT_EQ(a.get_count(), 2);
    EXPECT_NE(a.find_record("N1.FUL"), nullptr);
    EXPECT_FALSE(a.index_changed_on_disk());

    // A foreign rewrite that is not an append: its entries stay in its order.
    write(index(), "Z.FUL\nz\nx\n1\nFull\nB2.O12\nSecond\nx\n1\nFull\nN1.FUL\nnew\nx\n5\nFull\n");
    ASSERT_TRUE(change(a, [](ArchiveIndexEntries& e) { e.find("N1.FUL")->set_description("edited"); }));
    ReportArchive now(archive_, "A");
    ASSERT_EQ(now.get_count(), 3);
    EXPECT_EQ(now.get_record(0)->get_name(), "Z.FUL");
    EXPECT_EQ(now.find_record("N1.FUL")->get_description(), "edited");
    EXPECT_EQ(a.get_count(), 3);

    // Removed meanwhile: named, and the file stays as the other program left it.
    write(index(), "Z.FUL\nz\nx\n1\nFull\n");
    const std::string before = read(index());
    const Result<void> gone = a.update_index([](ArchiveIndexEntries& e) -> Result<void> {
        if (!e.find("B2.O12")) return entry_gone_error("STANDARD", "B2.O12");
        return {};
    });
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().code, kArchiveEntryGone);
    EXPECT_STREQ(archive_error_caption(gone.error().code), "Archive Changed");
    EXPECT_EQ(read(index()), before);
}

// A writer that cannot have the archive's lock in time writes nothing and says so; a torn last
// entry is handed back as it was.
TEST_F(ReportArchiveTest, ChangesWaitForTheLockAndKeepATornTail) {
    write(index(), "A1.FUL\na\nWed Jan 02 02:03:55 1980\n1\nFull\nT.FUL\ntorn\n");
    ReportArchive a(archive_, "A");
    {
        platform::FileLock held;
        ASSERT_TRUE(held.lock(archive_ + "/" + kIndexLockFileName, true, false));
        const ArchiveIndexLock other(archive_, 50);
        EXPECT_FALSE(other.held());
        EXPECT_EQ(other.busy_error().code, kArchiveBusy);
    }
    ASSERT_TRUE(change(a, [](ArchiveIndexEntries& e) { e.find("A1.FUL")->set_description("b"); }));
    EXPECT_EQ(read(index()), "A1.FUL\r\nb\r\nWed Jan 02 02:03:55 1980\r\n1\r\nFull\r\nT.FUL\r\ntorn\r\n");
}

// One process stores reports (appending) while another rewrites the same index: the writers
// take turns on the folder lock, the file always parses, and no appended entry is lost.
TEST_F(ReportArchiveTest, ConcurrentAppendAndRewrite) {
    const std::string src = root_ + "/src";
    fs::create_directories(src);
    write(src + "/PATIENT.TXT", "p");
    write(index(), kTwoEntriesRewritten);
    constexpr int kStores = 25;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        for (int i = 0; i < kStores; ++i)
            if (store_report_in_archive(archive_, src, "child " + std::to_string(i), 1, 1196690709, kReportFull) != 0)
                ++failures;
        ::_exit(failures == 0 ? 0 : 1);
    }
    int rewrites = 0;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        ReportArchive a(archive_, "A");
        EXPECT_TRUE(change(a, [&](ArchiveIndexEntries& e) {
            e.records().front()->set_description("rewrite " + std::to_string(rewrites));
        }));
        ++rewrites;
        if (done == child) {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 0);
            break;
        }
    }
    const std::string text = read(index());
    std::size_t lines = 0;
    for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
    EXPECT_EQ(lines % 5, 0u);
    ReportArchive final_archive(archive_, "A");
    EXPECT_EQ(final_archive.get_count(), 2 + kStores);
    for (int i = 0; i < kStores; ++i) {
        bool found = false;
        for (int k = 0; k < final_archive.get_count(); ++k)
            found = found || final_archive.get_record(k)->get_description() == "child " + std::to_string(i);
        EXPECT_TRUE(found) << i;
    }
    EXPECT_GT(rewrites, 0);
}

// Another program may list a folder name or a description longer than this program's own entries
// may be; the reader takes any length, so a rewrite must hand such lines back untouched or the
// report no longer names its folder.
const std::string kLongName = std::string(71, 'L') + ".FUL";                           // 75 bytes
const std::string kLongDescription = "Holter\tday " + std::string(285, 'd') + " end";  // 300 bytes

std::string long_index() {
    return "A1.FUL\r\nFirst\r\nWed Jan 02 02:03:55 1980\r\n20480\r\nFull\r\n" + kLongName + "\r\n" + kLongDescription +
           "\r\nMon Dec 03 14:05:09 2007\r\n77\r\nFull\r\n" +
           "C3.IMG\r\nThird\r\nMon Dec 03 14:05:09 2007\r\n5\r\nFormatted\r\n";
}

TEST_F(ReportArchiveTest, RewriteAfterAnUnrelatedChangeKeepsLongLinesAsRead) {
    ASSERT_EQ(kLongDescription.size(), 300u);
    const std::string long_entry =
        kLongName + "\r\n" + kLongDescription + "\r\nMon Dec 03 14:05:09 2007\r\n77\r\nFull\r\n";
    const struct {
        const char* change;
        void (*apply)(ArchiveIndexEntries&);
        std::string expected;
    } cases[] = {
        {"description of another", [](ArchiveIndexEntries& e) { e.find("A1.FUL")->set_description("Renamed"); },
         "A1.FUL\r\nRenamed\r\nWed Jan 02 02:03:55 1980\r\n20480\r\nFull\r\n" + long_entry +
             "C3.IMG\r\nThird\r\nMon Dec 03 14:05:09 2007\r\n5\r\nFormatted\r\n"},
        {"delete another", [](ArchiveIndexEntries& e) { e.remove("A1.FUL"); },
         long_entry + "C3.IMG\r\nThird\r\nMon Dec 03 14:05:09 2007\r\n5\r\nFormatted\r\n"},
        {"confirm another", [](ArchiveIndexEntries& e) { e.find("C3.IMG")->set_confirmed(true); },
         "A1.FUL\r\nFirst\r\nWed Jan 02 02:03:55 1980\r\n20480\r\nFull\r\n" + long_entry +
             "C3.IMG\r\nThird\r\nMon Dec 03 14:05:09 2007\r\n5C\r\nFormatted\r\n"},
        {"time of another", [](ArchiveIndexEntries& e) { e.find("A1.FUL")->set_time(1196690709); },
         "A1.FUL\r\nFirst\r\nMon Dec 03 14:05:09 2007\r\n20480\r\nFull\r\n" + long_entry +
             "C3.IMG\r\nThird\r\nMon Dec 03 14:05:09 2007\r\n5\r\nFormatted\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        write(index(), long_index());
        ReportArchive a(archive_, "A");
        ASSERT_EQ(a.get_count(), 3);
        ASSERT_TRUE(change(a, c.apply));
        EXPECT_EQ(read(index()), c.expected);
        ReportArchive again(archive_, "A");
        const ReportRecord* r = again.find_record(kLongName);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->get_description(), kLongDescription);
        EXPECT_EQ(r->get_folder_path(), archive_ + "/" + kLongName);
    }
}

TEST_F(ReportArchiveTest, EntriesMadeHereStillKeepTheLimits) {
    write(index(), long_index());
    ReportArchive a(archive_, "A");
    // An edited description is this program's text: cut and cleaned; the name stays whole.
    ASSERT_TRUE(change(a, [&](ArchiveIndexEntries& e) {
        e.find(kLongName)->set_description(kLongDescription);
        e.add(std::make_unique<ReportRecord>(std::string(75, 'N'), archive_, std::string(300, 'n'), 1, 1196690709,
                                             false));
    }));
    const std::string text = read(index());
    const std::string cut = "Holter day " + std::string(244, 'd');
    EXPECT_NE(text.find(kLongName + "\r\n" + cut + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n" + std::string(63, 'N') + "\r\n" + std::string(255, 'n') + "\r\n"), std::string::npos);
    EXPECT_EQ(text.find(std::string(64, 'N')), std::string::npos);
    EXPECT_EQ(text.find(std::string(256, 'n')), std::string::npos);
}

TEST(ArchiveEntryFormat, GoldenLines) {
    EXPECT_EQ(format_archive_entry("3B07E135.FUL", "Desc", "Mon Dec 03 14:05:09 2007", "20480C", "Full"),
              "3B07E135.FUL\r\nDesc\r\nMon Dec 03 14:05:09 2007\r\n20480C\r\nFull\r\n");
    EXPECT_EQ(format_archive_entry("3B07E135", "", "Mon Dec 03 14:05:09 2007", "1", ""),
              "3B07E135\r\n<Name>\r\nMon Dec 03 14:05:09 2007\r\n1\r\nUnknown\r\n");
}

}  // namespace
}  // namespace tv
