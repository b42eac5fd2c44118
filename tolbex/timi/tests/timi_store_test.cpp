// Storing TIMI data and summaries: new reports, the overwrite question's three answers, the
// location file, refusals that store nothing and leave no temporary folder, signed sources.
#include <gtest/gtest.h>

#include <sstream>

#include "common/files.h"
#include "platform/system.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/timi/timi_files.h"
#include "tolbex/timi/timi_grid_wnd.h"
#include "tolbex/timi/timi_store.h"
#include "tolbex/timi/tests/timi_test_support.h"

namespace tv {
namespace {

using timi_test::read_file;
using timi_test::TimiTest;
namespace fs = std::filesystem;

class FakeAudit : public AuditTrail {
public:
    bool open(const std::string& path) override {
        log.push_back("open " + path);
        return opens;
    }
    bool write(const char* format, const std::string& a, const std::string& b, const std::string&) override {
        log.push_back(std::string(format) + " | " + a + " | " + b);
        return true;
    }
    void close() override { log.push_back("close"); }
    std::vector<std::string> log;
    bool opens = true;
};

struct TimiStoreTest : TimiTest {
    void SetUp() override {
        TimiTest::SetUp();
        ASSERT_TRUE(grid.load_day_list(two_day_list()));
        archive = t / "G" / "ARCH";
        fs::create_directories(archive);
        store.set_data(&grid.data());
        store.set_data_folder(archive.string() + "/");
        store.set_display_name("Day one");
        store.set_audit(&audit);
        store.set_ask_overwrite([this](bool summary) {
            asked.push_back(summary);
            return answer;
        });
        platform::set_system(&clock);
        store.set_reload_hook([this] { ++reloads; });
    }
    std::vector<fs::path> reports(const std::string& ext) const {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(archive))
            if (e.is_directory() && e.path().extension() == ext) out.push_back(e.path());
        return out;
    }
    bool tmp_empty() const { return fs::is_empty(t / "tmp"); }
    void TearDown() override {
        platform::set_system(nullptr);
        TimiTest::TearDown();
    }
    // The date line of the report's entry in ARCHINFO.DAT.
    std::string listed_date(const fs::path& report) const {
        std::istringstream in(read_file(archive / "ARCHINFO.DAT"));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.find('\r')));
        for (std::size_t i = 0; i + 2 < lines.size(); i += 5)
            if (lines[i] == report.filename().string()) return lines[i + 2];
        return "not listed";
    }
    struct Clock : platform::RealSystem {
        std::int64_t now() override { return time; }
        std::int64_t time = 1100000000;
    };

    TIMIGridWnd grid;
    TimiStore store;
    FakeAudit audit;
    fs::path archive;
    std::vector<bool> asked;
    Clock clock;
    int answer = kTimiOverwrite, reloads = 0;
};

TEST_F(TimiStoreTest, FirstSaveStoresANewReportSecondAsksAndOverwrites) {
    std::vector<bool> writing;
    store.set_writing_hook([&](bool on) { writing.push_back(on); });
    ASSERT_TRUE(store.save_timi_data(TimiRowRange::whole_table(), true));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(writing, (std::vector<bool>{true, false}));
    ASSERT_EQ(reports(".TIM").size(), 1u);
    const fs::path first = reports(".TIM")[0];
    EXPECT_EQ(store.saved_data_path(), first.string());
    EXPECT_EQ(read_file(first / "DATA.TIMI"), grid.data().data_file_text(0, 6));
    EXPECT_NE(read_file(archive / "ARCHINFO.DAT").find("TIMI Data"), std::string::npos);
    EXPECT_EQ(audit.log.back(), "close");
    EXPECT_EQ(audit.log[1], "TIMI save modified data - %s in %s | Day one | " + first.string());
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(tmp_empty());

    // Reopened, the stored file gives the same table.
    TIMIGridWnd reopened;
    reopened.created();
    ASSERT_TRUE(reopened.load_data_file((first / "DATA.TIMI").string()));
    EXPECT_EQ(reopened.data().data_file_text(0, 6), grid.data().data_file_text(0, 6));

    grid.data().toggle_use(1);
    audit.log.clear();
    EXPECT_EQ(listed_date(first), format_file_date_text(clock.time));
    clock.time += 86400;
    ASSERT_TRUE(store.save_timi_data(TimiRowRange::whole_table(), false));
    EXPECT_EQ(asked, std::vector<bool>{false});
    EXPECT_EQ(reports(".TIM").size(), 1u);
    EXPECT_EQ(read_file(first / "DATA.TIMI"), grid.data().data_file_text(0, 6));
    EXPECT_EQ(listed_date(first), format_file_date_text(clock.time));
    EXPECT_EQ(audit.log[1], "TIMI save archive - %s in %s | Day one | " + first.filename().string());
    EXPECT_TRUE(tmp_empty());
}

TEST_F(TimiStoreTest, TheOverwriteQuestionsOtherAnswers) {
    ASSERT_TRUE(store.save_timi_data(TimiRowRange::whole_table(), true));
    answer = kTimiCreateNew;
    ASSERT_TRUE(store.save_timi_data(TimiRowRange::whole_table(), true));
    EXPECT_EQ(reports(".TIM").size(), 2u);
    EXPECT_EQ(asked.size(), 1u);

    answer = 2;  // Cancel
    audit.log.clear();
    EXPECT_FALSE(store.save_timi_data(TimiRowRange::whole_table(), true));
    EXPECT_EQ(reports(".TIM").size(), 2u);
    EXPECT_EQ(audit.log.back(), "close");
    EXPECT_EQ(audit.log.size(), 2u);  // opened and closed, nothing written
    EXPECT_TRUE(tmp_empty());
}

TEST_F(TimiStoreTest, SelectedRowsAreARealRangeFromRowZero) {
    struct Case {
        TimiRowRange range;
        std::int32_t first, last;
    } cases[] = {{TimiRowRange::selected(2, 4), 2, 4},
                 {TimiRowRange::selected(0, 1), 0, 1},
                 {TimiRowRange::selected(-1, -1), 0, 6},
                 {TimiRowRange::selected(5, 99), 5, 6}};
    answer = kTimiCreateNew;
    for (const Case& c : cases) {
        store.set_saved_data_path({});
        ASSERT_TRUE(store.save_timi_data(c.range, true));
        const std::string stored = read_file(fs::path(store.last_stored_folder()) / "DATA.TIMI");
        EXPECT_EQ(stored, grid.data().data_file_text(c.first, c.last)) << c.first;
    }
    const std::string three = grid.data().data_file_text(2, 4);
    EXPECT_NE(three.find("\t10:01:00\t"), std::string::npos);
    EXPECT_NE(three.find("\t10:02:00\t"), std::string::npos);
    EXPECT_EQ(three.find("\t10:00:30\t"), std::string::npos);
}

TEST_F(TimiStoreTest, RefusalsStoreNothingAndLeaveNoTemporaryFolder) {
    audit.opens = false;
    EXPECT_FALSE(store.save_timi_data(TimiRowRange::whole_table(), true));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kTimiDataNoLogText);
    EXPECT_EQ(store.save_timi_summary(), TimiStore::SummaryResult::Refused);
    EXPECT_EQ(scripted.shown[1].text, kTimiSummaryNoLogText);
    EXPECT_TRUE(reports(".TIM").empty());
    EXPECT_TRUE(reports(".SUM").empty());
    EXPECT_TRUE(tmp_empty());

    audit.opens = true;
    TimiData empty;
    store.set_data(&empty);
    EXPECT_FALSE(store.save_timi_data(TimiRowRange::whole_table(), true));
    EXPECT_EQ(scripted.shown.back().text, kTimiEmptyTableText);
    EXPECT_TRUE(reports(".TIM").empty());
    EXPECT_TRUE(tmp_empty());

    // The archive folder is gone: the user is told, nothing is left behind.
    store.set_data(&grid.data());
    store.set_data_folder((t / "no-such-archive").string());
    scripted.shown.clear();
    EXPECT_FALSE(store.save_timi_data(TimiRowRange::whole_table(), true));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text.rfind("Serious file error : ", 0), 0u);
    EXPECT_TRUE(tmp_empty());
}

TEST_F(TimiStoreTest, AFileThatCannotBeWrittenIsNamedAndNothingIsStored) {
    // A folder in the way of the file being written makes the write fail.
    store.set_writing_hook([&](bool on) {
        if (!on) return;
        for (const auto& e : fs::directory_iterator(t / "tmp")) {
            fs::create_directory(e.path() / "DATA.TIMI");
            fs::create_directory(e.path() / "TIMI_SUMMARY.TXT");
        }
    });
    EXPECT_FALSE(store.save_timi_data(TimiRowRange::whole_table(), true));
    EXPECT_EQ(store.save_timi_summary(), TimiStore::SummaryResult::Refused);
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_NE(scripted.shown[0].text.find("DATA.TIMI: "), std::string::npos);
    EXPECT_NE(scripted.shown[1].text.find("TIMI_SUMMARY.TXT: "), std::string::npos);
    EXPECT_TRUE(reports(".TIM").empty());
    EXPECT_TRUE(reports(".SUM").empty());
    EXPECT_TRUE(audit.log.empty());
    EXPECT_TRUE(tmp_empty());
}

TEST_F(TimiStoreTest, AFailedOverwriteCopyIsReportedAndStoresNothing) {
    ASSERT_TRUE(store.save_timi_data(TimiRowRange::whole_table(), true));
    const fs::path folder = store.saved_data_path();
    const std::string before = read_file(folder / "DATA.TIMI");
    fs::remove(folder / "DATA.TIMI");
    fs::create_directory(folder / "DATA.TIMI");  // the copy cannot replace a folder
    grid.data().toggle_use(0);
    scripted.shown.clear();
    const std::string index = read_file(archive / "ARCHINFO.DAT");
    clock.time += 86400;
    EXPECT_FALSE(store.save_timi_data(TimiRowRange::whole_table(), true));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_NE(scripted.shown[0].text.find("DATA.TIMI"), std::string::npos);
    EXPECT_EQ(read_file(archive / "ARCHINFO.DAT"), index);
    EXPECT_EQ(reports(".TIM").size(), 1u);
    EXPECT_TRUE(tmp_empty());
}

TEST_F(TimiStoreTest, ASignedSourceIsNeverOverwrittenOrWrittenInto) {
    const fs::path signed_folder = archive / "X.SGN";
    fs::create_directories(signed_folder);
    timi_test::write_file(signed_folder / "signed.dat", "sealed");
    store.set_saved_data_path(signed_folder.string());
    store.set_signed_source(true);
    EXPECT_EQ(store.save_timi_summary(), TimiStore::SummaryResult::Stored);
    ASSERT_TRUE(store.save_timi_data(TimiRowRange::whole_table(), true));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(reports(".TIM").size(), 1u);
    EXPECT_EQ(fs::path(store.saved_data_path()).extension(), ".TIM");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(signed_folder)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"signed.dat"});
}

TEST_F(TimiStoreTest, SummaryLocationLinksTheDataReportToItsSummary) {
    // Before the data was ever saved: a new summary, remembered but written nowhere.
    ASSERT_EQ(store.save_timi_summary(), TimiStore::SummaryResult::Stored);
    ASSERT_EQ(reports(".SUM").size(), 1u);
    const fs::path summary = reports(".SUM")[0];
    EXPECT_EQ(store.summary_location(), summary.string());
    EXPECT_TRUE(is_read_only((summary / "TIMI_SUMMARY.TXT").string()));
    EXPECT_EQ(audit.log[1], "TIMI save summary - %s | Day one | " + summary.string());

    ASSERT_TRUE(store.save_timi_data(TimiRowRange::whole_table(), true));
    const fs::path data = store.saved_data_path();
    EXPECT_EQ(read_file(data / "TIMI_SUMM_LOC.TXT"), summary.string());

    // A window opened on the stored data finds the summary and overwrites it, read-only or not.
    TimiStore reopened;
    reopened.set_data(&grid.data());
    reopened.set_data_folder(archive.string());
    reopened.set_saved_data_path(data.string());
    reopened.set_audit(&audit);
    reopened.set_ask_overwrite([this](bool s) {
        asked.push_back(s);
        return kTimiOverwrite;
    });
    timi_test::write_file(data / "TIMI_SUMM_LOC.TXT", summary.string() + "\r\n");  // a line end is accepted
    const std::string path = (summary / "TIMI_SUMMARY.TXT").string();
    const std::string before = read_file(path);
    grid.data().toggle_use(3);
    EXPECT_EQ(reopened.save_timi_summary(), TimiStore::SummaryResult::Overwritten);
    EXPECT_EQ(asked, std::vector<bool>{true});
    EXPECT_EQ(reports(".SUM").size(), 1u);
    EXPECT_NE(read_file(path), before);
    EXPECT_EQ(read_file(path).rfind("Quorril TIMI summary file\r\n", 0), 0u);
    EXPECT_TRUE(is_read_only(path));
    EXPECT_TRUE(tmp_empty());
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace
}  // namespace tv
