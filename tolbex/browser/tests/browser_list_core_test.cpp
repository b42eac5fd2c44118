#include "tolbex/browser/browser_list_core.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "tolbex/archive/archive_operations.h"
#include "tolbex/archive/store_report.h"

#include "common/audit_log.h"
#include "platform/codepage.h"
#include "common/text.h"
#include "platform/system.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/browser/browser_list_model.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/archive/audit_trail.h"

namespace tv {
namespace {

using namespace testing_root;

// The row order spelled out: the key's column (texts without regard to case, times and sizes as
// numbers), negated when descending; ties by archive name, then description, both ascending.
int reference_order(const BrowserListCore& doc, std::int32_t a, std::int32_t b, int key, bool ascending) {
    const ReportRecord* ra = doc.get_record(a);
    const ReportRecord* rb = doc.get_record(b);
    const std::string na = doc.get_archive(a)->get_name(), nb = doc.get_archive(b)->get_name();
    auto number = [](std::int64_t x, std::int64_t y) { return x < y ? -1 : (x > y ? 1 : 0); };
    int r = 0;
    switch (key) {
        case kColumnName: r = platform::compare_text_nocase(ra->get_description(), rb->get_description()); break;
        case kColumnArchive: r = platform::compare_text_nocase(na, nb); break;
        case kColumnDate: r = number(ra->get_time(), rb->get_time()); break;
        case kColumnSize: r = number(ra->get_size(), rb->get_size()); break;
        case kColumnType: r = platform::compare_text_nocase(ra->get_type_name(), rb->get_type_name()); break;
        case kColumnConfirmed:
            r = platform::compare_text_nocase(ra->get_confirmed_text(), rb->get_confirmed_text());
            break;
        default: break;
    }
    if (!ascending) r = -r;
    if (r == 0) r = platform::compare_text_nocase(na, nb);
    if (r == 0) r = platform::compare_text_nocase(ra->get_description(), rb->get_description());
    return r;
}

class BrowserDocTest : public RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        g = t / "G";
    }
    std::string standard_group() {
        return make_test_group(g, {{"STANDARD",
                                    "STANDARD",
                                    {{"A1.FUL", "smith john", "Wed Jan 02 02:03:55 1980", "300"},
                                     {"A2.IMG", "Brown", "Thu Jan 03 02:03:55 1980", "20C"},
                                     {"A3.IMG", "apple", "Wed Jan 02 02:03:55 1980", "1000"}}},
                                   {"ARCH2", "Second", {{"B1.PRT", "Zed", "Fri Jan 04 02:03:55 1980", "5"}}}});
    }
    // The messages of this month's audit log in a folder.
    static std::vector<std::string> audit_messages(const fs::path& folder) {
        std::vector<std::string> out;
        for (const auto& r :
             read_audit_log_file(AuditLog::make_file_name(folder.string(), platform::system().now())).records)
            out.push_back(r.message);
        return out;
    }
    fs::path g;
};

TEST_F(BrowserDocTest, RowsColumnsAndTitle) {
    BrowserListCore doc;
    EXPECT_EQ(doc.get_column_text(0, 0), "");
    EXPECT_EQ(doc.get_details_text(0), "");
    ASSERT_TRUE(doc.open_document(standard_group()));
    EXPECT_EQ(doc.get_title(), "Archives in folder " + g.string());
    ASSERT_EQ(doc.get_row_count(), 4);
    EXPECT_EQ(doc.get_archive_count(), 2);
    EXPECT_EQ(doc.get_column_text(0, kColumnName), "smith john");
    EXPECT_EQ(doc.get_column_text(3, kColumnArchive), "Second");
    EXPECT_EQ(doc.get_column_text(0, kColumnSize), "300");
    EXPECT_EQ(doc.get_column_text(0, kColumnType), "Full");
    EXPECT_EQ(doc.get_column_text(0, kColumnConfirmed), "");
    EXPECT_EQ(doc.get_column_text(1, kColumnConfirmed), "Yes");
    EXPECT_EQ(doc.get_column_text(2, kColumnConfirmed), "No");
    EXPECT_EQ(doc.get_column_text(9, kColumnName), "");
    EXPECT_EQ(doc.get_report_folder(3), (g / "ARCH2" / "B1.PRT").string());
    EXPECT_EQ(doc.get_record_type(1), kReportFormatted);
    EXPECT_GT(doc.get_index_size(0), 0);
    EXPECT_FALSE(doc.open_document((t / "nowhere" / "ARCHDIR.DAT").string()));
}

TEST_F(BrowserDocTest, SortingByEveryColumnWithTieBreaks) {
    // Equal times and sizes: archive name, then description, both ascending, whatever the direction.
    make_test_group(g, {{"S",
                         "beta",
                         {{"X1.FUL", "b", "Wed Jan 02 02:03:55 1980", "7"},
                          {"X2.FUL", "A", "Wed Jan 02 02:03:55 1980", "7"}}},
                        {"T",
                         "Alpha",
                         {{"Y1.IMG", "c", "Wed Jan 02 02:03:55 1980", "2147483647C"},
                          {"Y2.RAW", "c", "Thu Jan 03 02:03:55 1980", "-2147483648"}}}});
    BrowserListCore doc;
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    auto sorted = [&](int key, bool asc) {
        std::vector<std::int32_t> rows{0, 1, 2, 3};
        doc.sort_rows(rows, key, asc);
        return rows;
    };
    EXPECT_EQ(sorted(kColumnDate, false), (std::vector<std::int32_t>{3, 2, 1, 0}));
    EXPECT_EQ(sorted(kColumnDate, true), (std::vector<std::int32_t>{2, 1, 0, 3}));
    EXPECT_EQ(sorted(kColumnName, true), (std::vector<std::int32_t>{1, 0, 2, 3}));  // case-insensitive
    // Sizes at both ends of the range compare without overflow.
    EXPECT_EQ(sorted(kColumnSize, true), (std::vector<std::int32_t>{3, 1, 0, 2}));
    EXPECT_EQ(sorted(kColumnSize, false), (std::vector<std::int32_t>{2, 1, 0, 3}));
    EXPECT_EQ(sorted(kColumnArchive, true), (std::vector<std::int32_t>{2, 3, 1, 0}));
    EXPECT_EQ(sorted(kColumnConfirmed, false), (std::vector<std::int32_t>{2, 3, 1, 0}));  // Yes, then "" rows
    for (int key = 0; key < kBrowserColumnCount; ++key)
        for (bool asc : {true, false}) {
            const auto rows = sorted(key, asc);
            for (std::size_t i = 1; i < rows.size(); ++i)
                EXPECT_LE(reference_order(doc, rows[i - 1], rows[i], key, asc), 0) << key << asc;
        }
    EXPECT_LT(platform::compare_text_nocase("\xE9t\xE9", "\xC9T\xC9Z"), 0);
    EXPECT_EQ(platform::compare_text_nocase("\xE9t\xE9", "\xC9T\xC9"), 0);
}

TEST_F(BrowserDocTest, PatientDetailsText) {
    standard_group();
    const fs::path img = g / "STANDARD" / "A2.IMG";
    write_file(img / "CONFIRM.TXT", "dr who\r\n");
    write_file(img / "PATIENT.TXT", "x\r\ny\r\nJane\r\n1950\r\n");  // stops after the last whole line
    BrowserListCore doc;
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    EXPECT_EQ(doc.get_details_text(-1), kNoPatientDetailsText);
    EXPECT_EQ(doc.get_details_text(1), "Report confirmed by DR WHO.\n\nPatient Name: \tJane\nDate of birth: \t1950\n");
    fs::remove(img / "CONFIRM.TXT");
    EXPECT_EQ(doc.get_details_text(1).substr(0, 46), "Warning: Report confirmed by unknown person.\n\n");
    // What another account could put there is not followed and never waited on.
    write_file(t / "own.txt", "x\r\ny\r\nSomeone Else\r\n");
    ASSERT_EQ(::mkfifo((img / "CONFIRM.TXT").c_str(), 0600), 0);
    fs::rename(img / "PATIENT.TXT", img / "PATIENT.OLD");
    fs::create_symlink(t / "own.txt", img / "PATIENT.TXT");
    EXPECT_EQ(doc.get_details_text(1), kNoPatientDetailsText);
    fs::remove(img / "CONFIRM.TXT");
    fs::remove(img / "PATIENT.TXT");
    fs::rename(img / "PATIENT.OLD", img / "PATIENT.TXT");
    // Unconfirmed formatted report; whole v8 file with comments; fewer than three lines stay raw.
    const std::string full = doc.get_details_text(2);
    EXPECT_EQ(full.substr(0, 23), "Report not confirmed.\n\n");
    EXPECT_NE(full.find("Transfer Filename: \tABCD1234566\n"), std::string::npos);
    EXPECT_EQ(full.find("Recorder ID: \tR1\nAnalysis Date:"), full.find("Recorder ID:"));
    EXPECT_NE(full.find("Comments:\n\nSome comment\n"), std::string::npos);
    write_file(g / "STANDARD" / "A1.FUL" / "PATIENT.TXT", "one\r\ntwo");
    EXPECT_EQ(doc.get_details_text(0), "one\ntwo");
    // Without VERSION.TXT: the short layout, text converted from the OEM code page.
    fs::remove(g / "STANDARD" / "A1.FUL" / "VERSION.TXT");
    write_file(g / "STANDARD" / "A1.FUL" / "PATIENT.TXT", "1\n2\nRen\x82\n");
    EXPECT_EQ(doc.get_details_text(0), "Patient Name: \tRen\xE9\n");
    fs::remove_all(g / "ARCH2" / "B1.PRT");
    EXPECT_EQ(doc.get_details_text(3), kNoPatientDetailsText);
    EXPECT_EQ(format_patient_details("a\nb\nN\nD\nS\nR\n", 7.0),
              "Patient Name: \tN\nDOB./Age: \tD\nSex/Operator: \tS\nRecording ID/Patient No.: \tR\n");
    // Card recordings are never converted.
    EXPECT_EQ(platform::oem_to_ansi("\x82\x9C"), "\xE9\xA3");
    // Current row: details and flags.
    write_file(g / "STANDARD" / "A3.IMG" / "letter.doc", "x");
    write_file(g / "STANDARD" / "A3.IMG" / "patient.wav", "x");
    EXPECT_EQ(doc.set_current_row(2), -1);
    EXPECT_TRUE(doc.has_letters());
    EXPECT_TRUE(doc.has_voice_message());
    EXPECT_EQ(doc.set_current_row(-1), 2);
    EXPECT_FALSE(doc.has_letters());
    EXPECT_EQ(doc.get_current_details(), kNoPatientDetailsText);
}

TEST_F(BrowserDocTest, FilterSearchAndSortOfTheList) {
    make_test_group(g, {{"STANDARD",
                         "STANDARD",
                         {{"A1.FUL", "John Smith"}, {"A2.FUL", "KING, Ashcroft"}, {"A4.FUL", "Mary-Jane O'Neil"}}},
                        {"DELETED", "Deleted Reports", {{"D1.FUL", "John Smyth"}}}});
    BrowserListCore doc;
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    BrowserListModel list(doc);
    list.update();
    EXPECT_EQ(list.archive_box_items(), (std::vector<std::string>{"All Archives", "STANDARD", "Deleted Reports"}));
    EXPECT_EQ(list.item_count(), 3);  // never "Deleted Reports" under "All Archives"
    EXPECT_TRUE(list.apply_search(2, kSearchAny, ""));
    ASSERT_EQ(list.item_count(), 1);
    EXPECT_EQ(list.item_text(0, kColumnName), "John Smyth");
    EXPECT_FALSE(list.apply_search(2, kSearchAny, ""));
    auto names = [&] {
        std::vector<std::string> out;
        for (std::int32_t i = 0; i < list.item_count(); ++i) out.push_back(list.item_text(i, kColumnName));
        std::sort(out.begin(), out.end());
        return out;
    };
    list.apply_search(0, kSearchSoundsLike, "smyth");
    EXPECT_EQ(names(), (std::vector<std::string>{"John Smith"}));
    EXPECT_TRUE(SearchMatcher(kSearchWholeWord, "x").matches(""));  // an empty name matches every search
    list.apply_search(0, kSearchPartOfWord, "janeo'n");
    EXPECT_EQ(names(), (std::vector<std::string>{"Mary-Jane O'Neil"}));
    list.apply_search(0, kSearchWholeWord, "king ashcroft");
    EXPECT_EQ(names(), (std::vector<std::string>{"KING, Ashcroft"}));
    list.apply_search(0, kSearchWholeWord, "ashcr");
    EXPECT_TRUE(names().empty());
    for (int mode : {1, 2, 3}) {
        list.apply_search(0, mode, " .,;-");
        EXPECT_EQ(list.item_count(), 3) << mode;
    }
    EXPECT_EQ(soundex_code("SMITH"), "S530");
    EXPECT_EQ(soundex_code("SMYTH"), "S530");
    EXPECT_EQ(soundex_code("KING"), "K520");
    EXPECT_EQ(soundex_code("ASHCROFT"), "A226");
    EXPECT_EQ(soundex_code("PFISTER"), "P123");  // the first digit is never dropped against the letter
    EXPECT_EQ(soundex_code(""), "000");
    EXPECT_EQ(soundex_code("A\x87\xA4"), "A250");
    // Column clicks toggle; the sort survives a reload; selection and details do not.
    list.apply_search(0, kSearchAny, "");
    list.column_sort(kColumnName, BrowserListModel::SortMode::Toggle);
    EXPECT_TRUE(list.sort_ascending());
    EXPECT_EQ(list.item_text(0, kColumnName), "John Smith");
    list.column_sort(kColumnName, BrowserListModel::SortMode::Toggle);
    EXPECT_FALSE(list.sort_ascending());
    EXPECT_EQ(list.item_text(0, kColumnName), "Mary-Jane O'Neil");
    list.item_selected(0, {0});
    EXPECT_EQ(doc.get_current_row(), list.row_of_item(0));
    EXPECT_EQ(list.current_report_folder(), doc.get_report_folder(list.row_of_item(0)));
    list.selection_changed({0, 1});
    EXPECT_EQ(doc.get_current_row(), -1);
    EXPECT_EQ(list.current_report_folder(), "");
    doc.reload();
    list.update();
    EXPECT_FALSE(list.sort_ascending());
    EXPECT_EQ(list.item_text(0, kColumnName), "Mary-Jane O'Neil");
    EXPECT_TRUE(list.selected_items().empty());
    // In-place edits.
    ASSERT_TRUE(list.begin_label_edit(0, scripted));
    const std::string typed(70, 'x');
    ASSERT_TRUE(list.end_label_edit(0, &typed));
    const std::string blank = "   ";
    ASSERT_TRUE(list.end_label_edit(1, &blank));
    const std::string index = read_all(g / "STANDARD" / "ARCHINFO.DAT");
    EXPECT_NE(index.find(std::string(63, 'x') + "\r\n"), std::string::npos);
    EXPECT_EQ(index.find(std::string(64, 'x')), std::string::npos);
    EXPECT_NE(index.find("\r\n----------\r\n"), std::string::npos);
    EXPECT_FALSE(doc.has_changed_on_disk());  // own writes are not foreign changes
}

TEST_F(BrowserDocTest, DeleteMovesIntoDeletedReportsAndThenForGood) {
    standard_group();
    AuditLogTrail audit("Calvera");
    BrowserListCore doc;
    doc.set_audit(&audit);
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    scripted.answers = {MsgResult::Yes};
    ASSERT_TRUE(doc.delete_selected({0, 2}, "All Archives"));
    EXPECT_EQ(read_all(g / "ARCHDIR.DAT"), "STANDARD\r\nSTANDARD\r\nARCH2\r\nSecond\r\nDELETED\r\nDeleted Reports\r\n");
    // The source index keeps only the report left, byte for byte as written.
    EXPECT_EQ(read_all(g / "STANDARD" / "ARCHINFO.DAT"),
              "A2.IMG\r\nBrown\r\nThu Jan 03 02:03:55 1980\r\n20C\r\nFull\r\n");
    EXPECT_FALSE(fs::exists(g / "STANDARD" / "A1.FUL"));
    EXPECT_FALSE(fs::exists(g / "STANDARD" / "A3.IMG"));
    ASSERT_EQ(doc.get_archive_count(), 3);
    ASSERT_EQ(doc.get_row_count(), 4);
    EXPECT_EQ(doc.get_archive_name(doc.get_archive_index(2)), "Deleted Reports");
    EXPECT_EQ(doc.get_column_text(2, kColumnName), "[STANDARD] smith john");
    EXPECT_EQ(doc.get_column_text(3, kColumnName), "[STANDARD] apple");
    EXPECT_TRUE(fs::exists(doc.get_report_folder(2) + "/PATIENT.TXT"));
    const auto source_log = audit_messages(g / "STANDARD");
    ASSERT_EQ(source_log.size(), 2u);
    EXPECT_EQ(source_log[0], "Delete report - smith john in a1.ful");
    const auto bin_log = audit_messages(g / "DELETED");
    ASSERT_EQ(bin_log.size(), 2u);
    EXPECT_EQ(bin_log[0].rfind("Move report to - smith john in ", 0), 0u);

    // From "Deleted Reports" the reports go for good, after the question.
    scripted.answers = {MsgResult::No};
    EXPECT_FALSE(doc.delete_selected({2}, "Deleted Reports"));
    EXPECT_EQ(doc.get_row_count(), 4);
    scripted.answers = {MsgResult::Yes};
    const std::string gone = doc.get_report_folder(2);
    ASSERT_TRUE(doc.delete_selected({2}, "Deleted Reports"));
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_EQ(doc.get_row_count(), 3);
    EXPECT_EQ(audit_messages(g / "DELETED").size(), 3u);
    EXPECT_EQ(audit_messages(g / "DELETED").back().rfind("Delete report - [STANDARD] smith john in ", 0), 0u);
    // The emptied bin goes with its folder.
    ASSERT_TRUE(doc.remove_deleted_archive());
    EXPECT_FALSE(fs::exists(g / "DELETED"));
    EXPECT_EQ(read_all(g / "ARCHDIR.DAT"), "STANDARD\r\nSTANDARD\r\nARCH2\r\nSecond\r\n");
    EXPECT_FALSE(doc.remove_deleted_archive());
}

TEST_F(BrowserDocTest, OnlyTheQuestionsThatDeleteForGoodDefaultToNo) {
    standard_group();
    // A file where the "Deleted Reports" folder would go: the move fails and the space question follows.
    write_file(g / "DELETED", "");
    BrowserListCore doc;
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    scripted.answers = {MsgResult::Yes};  // to the move; the rest get their safe answers
    EXPECT_TRUE(doc.delete_selected({0}, "All Archives"));
    EXPECT_FALSE(doc.delete_selected({0}, "Deleted Reports"));
    EXPECT_TRUE(fs::exists(g / "STANDARD" / "A1.FUL"));
    const struct {
        const char* caption;
        MsgResult default_button;
    } cases[] = {
        {"Move Reports to \"Deleted Reports\" Archive?", MsgResult::Yes},
        {"Cannot move reports to \"Deleted Reports\" archive", MsgResult::No},
        {"Please Confirm Deletion", MsgResult::No},
    };
    for (const auto& c : cases) {
        const auto it = std::find_if(scripted.shown.begin(), scripted.shown.end(),
                                     [&](const ScriptedUi::Shown& s) { return s.caption == c.caption; });
        ASSERT_NE(it, scripted.shown.end()) << c.caption;
        EXPECT_EQ(it->default_button, c.default_button) << c.caption;
    }
}

TEST_F(BrowserDocTest, CopyMoveRenameAndSetTime) {
    standard_group();
    AuditLogTrail audit("Calvera");
    BrowserListCore doc;
    doc.set_audit(&audit);
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    ASSERT_TRUE(doc.copy_or_move_named(doc.refs_of({0}), g.string(), 1, false, false, false));
    ASSERT_EQ(doc.get_row_count(), 5);
    EXPECT_TRUE(fs::exists(g / "STANDARD" / "A1.FUL"));
    EXPECT_EQ(doc.get_column_text(4, kColumnName), "smith john");
    EXPECT_EQ(doc.get_column_text(4, kColumnArchive), "Second");
    EXPECT_EQ(audit_messages(g / "ARCH2").size(), 1u);
    // Move: the copy in the destination, the source entry and folder gone.
    ASSERT_TRUE(doc.copy_or_move_named(doc.refs_of({1}), g.string(), 1, true, false, false));
    EXPECT_FALSE(fs::exists(g / "STANDARD" / "A2.IMG"));
    EXPECT_EQ(read_all(g / "STANDARD" / "ARCHINFO.DAT").find("A2.IMG"), std::string::npos);
    ASSERT_EQ(doc.get_row_count(), 5);
    // Within one archive nothing is copied.
    scripted.shown.clear();
    EXPECT_TRUE(doc.copy_or_move_named(doc.refs_of({0}), g.string(), 0, false, false, false));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kSameArchiveText);
    EXPECT_EQ(doc.get_row_count(), 5);
    // Rename and a new report time rewrite the index.
    ASSERT_TRUE(doc.set_description(0, "renamed"));
    ASSERT_TRUE(doc.set_report_time("a1.ful", 1000000000));
    doc.reload();
    EXPECT_EQ(doc.get_column_text(0, kColumnName), "renamed");
    EXPECT_EQ(doc.get_record(0)->get_time(), 1000000000);
    EXPECT_FALSE(doc.set_report_time("NONE.FUL", 1));
    EXPECT_EQ(transfer_description("STANDARD", std::string(52, 'd'), true).size(), 63u);
    EXPECT_EQ(transfer_description("STANDARD", std::string(53, 'd'), true),
              "[STANDARD] " + std::string(49, 'd') + "...");
}

// Stands for the browser's wait window: what it showed, and how many messages had been shown
// when it went.
class RecordingWait : public ProgressWindow {
public:
    RecordingWait(std::vector<std::string>& events, const ScriptedUi& scripted) : events_(events), scripted_(scripted) {
        events_.push_back("open");
    }
    ~RecordingWait() override { events_.push_back("closed after " + std::to_string(scripted_.shown.size())); }
    void set_text(const std::string& text) override { events_.push_back(text); }

private:
    std::vector<std::string>& events_;
    const ScriptedUi& scripted_;
};

TEST_F(BrowserDocTest, WaitWindowNamesEachReportAndGoesBeforeTheOutcome) {
    standard_group();
    BrowserListCore doc;
    std::vector<std::string> events;
    doc.set_wait_window_maker([&] { return std::make_unique<RecordingWait>(events, scripted); });
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    using Events = std::vector<std::string>;

    ASSERT_TRUE(doc.copy_or_move_named(doc.refs_of({0, 1}), g.string(), 1, false, false, false));
    EXPECT_EQ(events, (Events{"open", "smith john", "Brown", "closed after 0"}));
    // Within one archive: the report is named, skipped, and the outcome told once the window is gone.
    events.clear();
    EXPECT_TRUE(doc.copy_or_move_named(doc.refs_of({0}), g.string(), 0, false, false, false));
    EXPECT_EQ(events, (Events{"open", "smith john", "closed after 0"}));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kSameArchiveText);
    // A caller's own progress window is used instead.
    events.clear();
    std::vector<std::string> own_events;
    RecordingWait own(own_events, scripted);
    EXPECT_TRUE(doc.copy_or_move_named(doc.refs_of({0}), g.string(), 0, false, false, false, &own));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(own_events, (Events{"open", "smith john"}));

    // Delete: the questions come before the window, the move into "Deleted Reports" under it.
    events.clear();
    scripted.shown.clear();
    scripted.answers = {MsgResult::Yes};
    ASSERT_TRUE(doc.delete_selected({0}, "All Archives"));
    EXPECT_EQ(events, (Events{"open", "smith john", "closed after 1"}));

    // The contents of an archive moved as a whole.
    events.clear();
    scripted.shown.clear();
    ASSERT_TRUE(doc.move_archive_contents(1, 0));
    EXPECT_EQ(events, (Events{"open", "Zed", "smith john", "Brown", "closed after 0"}));
}

TEST_F(BrowserDocTest, AuditLogThatCannotOpenRefusesBeforeAnythingMoves) {
    standard_group();
    AuditLogTrail audit("Calvera");
    // A folder where the source archive's log file belongs.
    fs::create_directories(AuditLog::make_file_name((g / "STANDARD").string(), platform::system().now()));
    BrowserListCore doc;
    doc.set_audit(&audit);
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    const std::string before = read_all(g / "ARCH2" / "ARCHINFO.DAT");
    EXPECT_FALSE(doc.copy_or_move_named(doc.refs_of({0}), g.string(), 1, true, true, false));
    EXPECT_EQ(read_all(g / "ARCH2" / "ARCHINFO.DAT"), before);
    EXPECT_TRUE(fs::exists(g / "STANDARD" / "A1.FUL" / "PATIENT.TXT"));
    bool refused = false;
    for (const auto& s : scripted.shown) refused |= s.text == kSourceLogText;
    EXPECT_TRUE(refused);
    // Deleting for good stops at the same log.
    EXPECT_EQ(doc.delete_reports({0}), 0);
    EXPECT_TRUE(fs::exists(g / "STANDARD" / "A1.FUL"));
}

TEST_F(BrowserDocTest, ChangeByAnotherProcessIsDetected) {
    standard_group();
    BrowserListCore doc;
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    BrowserListModel list(doc);
    list.update();
    EXPECT_FALSE(doc.has_changed_on_disk());
    EXPECT_FALSE(list.refresh_check(scripted));
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::FILE* f = std::fopen((g / "ARCH2" / "ARCHINFO.DAT").c_str(), "abe");
        const char entry[] = "B2.FUL\r\nnew\r\nWed Jan 02 02:03:55 1980\r\n1\r\nFull\r\n";
        const bool ok = f && std::fwrite(entry, 1, sizeof entry - 1, f) == sizeof entry - 1 && std::fclose(f) == 0;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(doc.has_changed_on_disk());
    {
        TransferGuard busy;  // nothing happens during a transfer
        EXPECT_FALSE(list.refresh_check(scripted));
    }
    scripted.shown.clear();
    EXPECT_TRUE(list.refresh_check(scripted));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, kArchiveChangedCaption);
    EXPECT_EQ(doc.get_row_count(), 5);
    EXPECT_EQ(list.item_count(), 5);
    EXPECT_FALSE(doc.has_changed_on_disk());
    fs::remove(g / "ARCHDIR.DAT");
    EXPECT_TRUE(doc.is_group_file_missing());
    EXPECT_FALSE(list.refresh_check(scripted));
}

TEST_F(BrowserDocTest, HostileIndexEntriesNeverReachOutsideTheGroup) {
    write_file(t / "victim" / "keep.txt", "precious");
    write_file(t / "G" / "outside-archive" / "keep.txt", "x");
    write_file(g / "ARCHDIR.DAT", "STANDARD\r\nSTANDARD\r\n../victim\r\nEvil\r\n/etc\r\nAbs\r\n");
    write_file(g / "STANDARD" / "ARCHINFO.DAT",
               "../../victim\r\nup\r\nWed Jan 02 02:03:55 1980\r\n1\r\nFull\r\n"
               "..\r\ndots\r\nWed Jan 02 02:03:55 1980\r\n1\r\nFull\r\n"
               "/tmp\r\nabs\r\nWed Jan 02 02:03:55 1980\r\n1\r\nFull\r\n");
    BrowserListCore doc;
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    ASSERT_EQ(doc.get_row_count(), 3);  // listed
    EXPECT_EQ(doc.get_report_folder(0), "");
    EXPECT_EQ(doc.get_details_text(0), kNoPatientDetailsText);
    EXPECT_FALSE(doc.copy_or_move_report(0, 0, (g / "STANDARD").string(), true, true, false));
    doc.delete_reports({0, 1, 2});
    EXPECT_TRUE(fs::exists(t / "victim" / "keep.txt"));
    EXPECT_FALSE(doc.remove_archive(1));
    EXPECT_FALSE(doc.remove_archive(2));
    EXPECT_FALSE(doc.delete_group(nullptr));
    EXPECT_TRUE(fs::exists(t / "victim" / "keep.txt"));
    EXPECT_TRUE(fs::exists("/etc"));
    EXPECT_NE(read_all(g / "ARCHDIR.DAT").find("../victim"), std::string::npos);
}

TEST_F(BrowserDocTest, RemoveIndexEntryIsAtomicAndCaseBlind) {
    const fs::path index = t / "A" / "ARCHINFO.DAT";
    write_file(index, "X1.FUL\na\r\nd1\n1\nFull\n\nx2.ful\nb\nd2\n2\nFull\nX3.FUL\nc\nd3\n3C\nFormatted\ntorn\n");
    ASSERT_TRUE(remove_index_entry(index.string(), "X2.FUL"));
    EXPECT_EQ(read_all(index), "X1.FUL\r\na\r\nd1\r\n1\r\nFull\r\nX3.FUL\r\nc\r\nd3\r\n3C\r\nFormatted\r\ntorn\r\n");
    EXPECT_FALSE(remove_index_entry((t / "none" / "ARCHINFO.DAT").string(), "X"));
}

TEST_F(BrowserDocTest, OpenDocumentsRegistryAndGroupDeletion) {
    standard_group();
    make_test_group(t / "H", {{"STANDARD", "STANDARD", {{"C1.FUL", "c"}}}});
    auto a = std::make_unique<BrowserListCore>();
    auto b = std::make_unique<BrowserListCore>();
    ASSERT_TRUE(a->open_document((g / "ARCHDIR.DAT").string()));
    ASSERT_TRUE(b->open_document((t / "H" / "ARCHDIR.DAT").string()));
    int reloads = 0;
    b->set_on_reloaded([&] { ++reloads; });
    EXPECT_EQ(open_archive_documents().size(), 2u);
    // A copy from one group into another reloads both.
    ASSERT_TRUE(a->copy_or_move_named(a->refs_of({0}), (t / "H").string(), 0, false, false, false));
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(b->get_row_count(), 2);
    ASSERT_TRUE(a->create_archive("A much longer archive name"));
    EXPECT_EQ(a->get_archive_name(2), "A much longer a");
    ASSERT_TRUE(b->delete_group(nullptr));
    EXPECT_FALSE(fs::exists(t / "H" / "ARCHDIR.DAT"));
    EXPECT_FALSE(fs::exists(t / "H" / "STANDARD"));
    b.reset();
    EXPECT_EQ(open_archive_documents().size(), 1u);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Runs `during` inside the first question, as another program's work and the minute refresh
// would, then answers it.
class QuestionUi : public ScriptedUi {
public:
    std::function<void()> during;
    MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
                          MsgDefault def) override {
        if (during && buttons == MsgButtons::YesNo) std::exchange(during, {})();
        return ScriptedUi::message_box(text, caption, icon, buttons, def);
    }
};

// Another process's work, done and finished before the question is answered.
void in_another_process(const std::function<bool()>& work) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(BrowserDocTest, CommandsActOnTheReportsChosenWhateverHappensDuringTheQuestion) {
    QuestionUi asking;
    set_ui(&asking);
    standard_group();
    fs::create_directories(t / "src");
    write_file(t / "src" / "PATIENT.TXT", "p");
    const std::string standard = (g / "STANDARD").string();
    auto store_meanwhile = [&] {
        return store_report_in_archive(standard, (t / "src").string(), "Stored meanwhile", 1, 1, kReportFull) ==
               kStoreOk;
    };
    BrowserListCore doc;
    BrowserListModel model(doc);
    ASSERT_TRUE(doc.open_document((g / "ARCHDIR.DAT").string()));
    auto row_named = [&](const std::string& description) {
        for (std::int32_t r = 0; r < doc.get_row_count(); ++r)
            if (doc.get_column_text(r, kColumnName) == description) return r;
        return -1;
    };
    auto refresh_inside = [&] {
        model.refresh_check(asking);  // the minute timer, firing inside the question
        doc.reload();                 // and a reload for any other reason
    };

    // Delete: "Zed" sits after STANDARD's rows, so a report stored there moves it down a row.
    asking.answers = {MsgResult::Yes, MsgResult::Ok, MsgResult::Ok};
    asking.during = [&] {
        in_another_process(store_meanwhile);
        refresh_inside();
    };
    ASSERT_TRUE(doc.delete_selected({row_named("Zed")}, "All Archives"));
    EXPECT_GE(row_named("[Second] Zed"), 0);
    EXPECT_GE(row_named("Stored meanwhile"), 0);

    // From "Deleted Reports", for good: another report arrives in the bin ahead of the chosen one.
    asking.answers = {MsgResult::Yes, MsgResult::Ok, MsgResult::Ok};
    asking.during = [&] {
        in_another_process([&] {
            return store_report_in_archive((g / "DELETED").string(), (t / "src").string(), "Arrived", 1, 1,
                                           kReportFull) == kStoreOk;
        });
        refresh_inside();
    };
    ASSERT_TRUE(doc.delete_selected({row_named("[Second] Zed")}, "Deleted Reports"));
    EXPECT_EQ(row_named("[Second] Zed"), -1);
    EXPECT_GE(row_named("Arrived"), 0);

    // Gone meanwhile: named and left out, and nothing else goes in its place.
    const std::int32_t rows = doc.get_row_count();
    asking.shown.clear();
    asking.answers = {MsgResult::Yes, MsgResult::Ok, MsgResult::Ok};
    asking.during = [&] {
        in_another_process([&] {
            ReportArchive a(standard, "STANDARD");
            return archive_ops::delete_report(a, "A3.IMG", nullptr).ok();
        });
        refresh_inside();
    };
    doc.delete_selected({row_named("apple")}, "All Archives");
    EXPECT_EQ(doc.get_row_count(), rows - 1);
    EXPECT_TRUE(std::any_of(asking.shown.begin(), asking.shown.end(), [](const ScriptedUi::Shown& s) {
        return s.text == format_string(kReportGoneText, "apple");
    }));

    // Move (and Copy, the same path): the reports are named before the archive dialog, and a
    // store and a reload in between change nothing of what goes.
    const std::vector<ReportRef> chosen = doc.refs_of({row_named("Brown")});
    ASSERT_TRUE(store_meanwhile());
    doc.reload();
    ASSERT_TRUE(doc.copy_or_move_named(chosen, g.string(), 1, true, false, false));
    ReportArchive second((g / "ARCH2").string(), "Second");
    ASSERT_EQ(second.get_count(), 1);
    EXPECT_EQ(second.get_record(0)->get_description(), "Brown");
    EXPECT_GE(row_named("Stored meanwhile"), 0);
    set_ui(&scripted);
}

}  // namespace
}  // namespace tv
