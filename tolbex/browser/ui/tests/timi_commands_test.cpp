// The browser's TIMI commands and its stored TIMI reports, offscreen with the scripted prompter,
// a fake TIMI window opener and the real audit log: what the TIMI side is asked to open, which
// audit entries are left, what is stored and that no list file outlives a command.
#include <sys/stat.h>

#include <cstdlib>
#include <set>

#include "common/audit_log.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "platform/system.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/browser/tests/timi_day_reports.h"
#include "tolbex/browser/timi_days.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/browser/ui/timi_open.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"
#include "tolbex/timi/tests/timi_test_support.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
namespace cmd = gui::browser_cmd;
using testing_root::TimiDay;
using Texts = std::vector<std::string>;

// A day file of the series: day `n` (1-based) starts at 10:00 on 1 March 2004 + n - 1.
std::string day_text(int n) {
    timi_test::DaySpec d;
    char date[32];
    std::snprintf(date, sizeof date, "%02d/03/2004 10:00:00", n);
    d.date = date;
    for (int i = 0; i < 4; ++i) {
        char time[16];
        std::snprintf(time, sizeof time, "10:%02d:%02d", i / 2, (i % 2) * 30);
        d.rows.push_back(timi_test::day_row(n, time, std::to_string(60 + i)));
    }
    return timi_test::day_file_text(d);
}

TimiDay day(int n, bool with_events = true) {
    TimiDay d;
    d.folder = "D" + std::to_string(n) + ".FUL";
    d.description = "Day " + std::to_string(n);
    d.day_file = "TIMIP1_" + std::to_string(n) + ".TXT";
    char date[32];
    std::snprintf(date, sizeof date, "2004-03-%02d 10:00", n);
    d.recording_date = date;
    d.day_text = day_text(n);
    if (with_events) d.events = testing_root::arrhevnt_with_one_vt();
    d.other_files = {{"arrhevnt.txt", "Events\r\n"}};
    return d;
}

class TimiCommandsTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        UiRootTest::SetUp();
        register_timi_strings();
        app = std::make_unique<fw::Application>();
        main = new fw::MainFrame(*app);
        gui::register_archive_template(*app);
        tolbex = std::make_unique<CTolbexApp>();
        set_timi(true);
        gui::set_timi_opener([this](const gui::TimiOpenRequest& r) {
            requests.push_back(r);
            list_text = testing_root::read_all(r.path);
            return answer;
        });
        group = fs::path(root.path()) / "G";
        archive = group / "STANDARD";
    }
    void TearDown() override {
        gui::set_timi_opener({});
        app->close_all_documents();
        delete main;
        app.reset();
        tolbex.reset();
        UiRootTest::TearDown();
    }
    void set_timi(bool on) {
        TolbexSettings s = tolbex->settings();
        s.switches.timi_enabled = on;
        tolbex->set_settings(s);
    }
    void browse(const std::vector<TimiDay>& days) {
        const std::string archdir = testing_root::make_timi_group(group, days);
        gui::CBrowserListDoc* doc = gui::open_archive_group(archdir);
        ASSERT_TRUE(doc && !doc->views().empty());
        frame = dynamic_cast<gui::CBrowserFrame*>(doc->views().front());
        ASSERT_NE(frame, nullptr);
    }
    gui::CBrowserListView& list() { return *frame->list_view(); }
    void select(const Texts& descriptions) {
        std::vector<int> items;
        for (const auto& d : descriptions)
            for (int i = 0; i < list().list_model().item_count(); ++i)
                if (list().list_model().item_text(i, 0) == d) items.push_back(i);
        ASSERT_EQ(items.size(), descriptions.size());
        list().select_items(items);
    }
    fw::CommandUi state(fw::CommandId id) {
        fw::CommandUi u(id);
        EXPECT_TRUE(frame->update_state(u));
        return u;
    }
    Texts shown() {
        Texts out;
        for (const auto& s : scripted.shown) out.push_back(s.text);
        scripted.shown.clear();
        return out;
    }
    Texts audit_messages() const {
        Texts out;
        for (const auto& r :
             read_audit_log_file(AuditLog::make_file_name(archive.string(), platform::system().now())).records)
            out.push_back(r.message);
        return out;
    }
    std::set<fs::path> temp_entries() const {
        std::set<fs::path> out;
        for (const auto& e : fs::directory_iterator(root.tmp())) out.insert(e.path());
        return out;
    }
    std::string report(const std::string& name) const { return (archive / name).string(); }

    std::unique_ptr<fw::Application> app;
    fw::MainFrame* main = nullptr;
    std::unique_ptr<CTolbexApp> tolbex;
    gui::CBrowserFrame* frame = nullptr;
    fs::path group, archive;
    std::vector<gui::TimiOpenRequest> requests;
    std::string list_text;
    gui::TimiOpenResult answer = gui::TimiOpenResult::Opened;
};

TEST_F(TimiCommandsTest, CommandsAreOfferedWithTheSwitchAndASelection) {
    browse({day(1), day(2)});
    struct Case {
        bool timi_on, opener;
        Texts selected;
        bool visible, timi, arrhythmia;
    };
    const Case cases[] = {
        {false, true, {"Day 1"}, false, false, false}, {true, true, {}, true, false, false},
        {true, true, {"Day 1"}, true, true, true},     {true, true, {"Day 1", "Day 2"}, true, true, true},
        {true, false, {"Day 1"}, true, false, true},  // no TIMI windows in this program
    };
    for (const Case& c : cases) {
        set_timi(c.timi_on);
        if (!c.opener) gui::set_timi_opener({});
        select(c.selected);
        for (auto [id, enabled] : {std::pair{cmd::Timi, c.timi}, std::pair{cmd::TimiArrhythmia, c.arrhythmia}}) {
            const fw::CommandUi u = state(id);
            EXPECT_EQ(u.visible(), c.visible) << id;
            EXPECT_EQ(u.enabled(), enabled) << id << " " << ::testing::PrintToString(c.selected);
        }
    }
}

TEST_F(TimiCommandsTest, TimiOpensTheDayListAndLogsOnlyAnOpenedWindow) {
    TimiDay d2 = day(2);
    d2.day_file = "timip1_2.txt";  // found whatever its case, listed as spelt on disk
    browse({day(1), d2, day(3)});
    select({"Day 3", "Day 1", "Day 2"});
    ASSERT_TRUE(frame->execute(cmd::Timi));
    EXPECT_EQ(shown(), Texts{});
    ASSERT_EQ(requests.size(), 1u);
    const gui::TimiOpenRequest& r = requests[0];
    EXPECT_EQ(fs::path(r.path).extension(), ".TIMI");
    EXPECT_EQ(fs::path(r.path).parent_path(), fs::path(root.tmp()));
    EXPECT_EQ(list_text, report("D1.FUL") + "/TIMIP1_1.TXT\r\n" + report("D2.FUL") + "/timip1_2.txt\r\n" +
                             report("D3.FUL") + "/TIMIP1_3.TXT\r\n");
    EXPECT_EQ(r.archive_folder, archive.string());
    EXPECT_EQ(r.saved_data_path, "");
    EXPECT_EQ(r.display_name, "Day 1");
    EXPECT_EQ(r.data_file_id, "P1");
    EXPECT_TRUE(fs::exists(r.path)) << "the list is the window's file";
    EXPECT_EQ(audit_messages(), Texts{"TIMI create data - Day 1 in d1.ful"});

    // A window that read nothing, and no window: no entry, no list left.
    for (gui::TimiOpenResult result : {gui::TimiOpenResult::NoData, gui::TimiOpenResult::NoDocument}) {
        answer = result;
        const auto before = temp_entries();
        ASSERT_TRUE(frame->execute(cmd::Timi));
        EXPECT_EQ(temp_entries(), before);
        EXPECT_EQ(audit_messages().size(), 1u);
    }

    // A log that cannot be opened refuses before the TIMI side is asked.
    answer = gui::TimiOpenResult::Opened;
    requests.clear();
    fs::remove(AuditLog::make_file_name(archive.string(), platform::system().now()));
    fs::create_directories(AuditLog::make_file_name(archive.string(), platform::system().now()));
    const auto before = temp_entries();
    ASSERT_TRUE(frame->execute(cmd::Timi));
    const Texts refused = shown();
    ASSERT_FALSE(refused.empty());
    EXPECT_EQ(refused.back(), kTimiCreateNoLogText);
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(temp_entries(), before);
}

TEST_F(TimiCommandsTest, RefusedSelectionsWriteNothing) {
    TimiDay other = day(2);
    other.patient = "P2";
    TimiDay no_events = day(3, false);
    browse({day(1), other, no_events, day(4)});
    struct Case {
        fw::CommandId command;
        Texts selected;
        std::string message;
    };
    const Case cases[] = {
        {cmd::Timi, {"Day 1", "Day 2"}, "The selected reports are not all from the same patient number."},
        {cmd::TimiArrhythmia, {"Day 1", "Day 2"}, "The selected reports are not all from the same patient number."},
        {cmd::TimiArrhythmia,
         {"Day 1", "Day 3"},
         "Please select the \"With recording\" reports for TIMI Arrhythmia analysis."},
        {cmd::Timi,
         {"Day 1", "Day 4"},
         "The report for day 2 was not selected.\nPlease ensure that you have selected a report for each day."},
    };
    for (const Case& c : cases) {
        select(c.selected);
        const auto before = temp_entries();
        ASSERT_TRUE(frame->execute(c.command));
        EXPECT_EQ(shown(), Texts{c.message}) << ::testing::PrintToString(c.selected);
        EXPECT_EQ(temp_entries(), before);
        EXPECT_TRUE(requests.empty());
        EXPECT_TRUE(audit_messages().empty());
    }
}

TEST_F(TimiCommandsTest, ArrhythmiaStoresItsSummaryAsANewReport) {
    browse({day(2), day(1)});
    select({"Day 1", "Day 2"});
    const auto before = temp_entries();
    ASSERT_TRUE(frame->execute(cmd::TimiArrhythmia));
    EXPECT_EQ(shown(), Texts{});
    EXPECT_EQ(temp_entries(), before) << "lists and the summary's folder are gone";

    // The browser shows the new report at once.
    const BrowserListCore& core = frame->list_view()->browser_document().core();
    const ReportArchive* standard = core.get_group()->get_archive(0);
    ASSERT_NE(standard, nullptr);
    const ReportRecord* stored = nullptr;
    for (std::int32_t i = 0; i < standard->get_count(); ++i)
        if (standard->get_record(i)->get_type() == kReportTimiArrhythmia) stored = standard->get_record(i);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->get_description(), "Day 1");
    EXPECT_EQ(list().list_model().item_count(), 3);
    const fs::path summary = fs::path(stored->get_folder_path()) / "TIMI_ARRH.TXT";
    const std::string text = testing_root::read_all(summary);
    EXPECT_NE(text.find("\r\n1,0,0,0,0,1,0,0,0,0,0,0,0,0\r\n2,0,0,0,0,1,0,0,0,0,0,0,0,0\r\n3,0,"), std::string::npos)
        << text;
    EXPECT_NE(text.find("VT > 100bpm, (1)10:00:00,(1)10:00:10,12,150,(1)10:00:05\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("VT > 100bpm, (2)10:00:00,(2)10:00:10,12,150,(2)10:00:05\r\n"), std::string::npos) << text;
    struct stat st {};
    ASSERT_EQ(::stat(summary.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only";
    EXPECT_EQ(audit_messages(), Texts{"TIMI save arrhythmia summary - Day 1"});
}

TEST_F(TimiCommandsTest, ArrhythmiaRefusesASeriesLongerThanItsSummary) {
    std::vector<TimiDay> days;
    Texts all;
    for (int n = 1; n <= 9; ++n) {
        days.push_back(day(n, false));
        days.back().events = "x";  // refused before any event file is read
        all.push_back(days.back().description);
    }
    browse(days);
    select(all);
    const auto before = temp_entries();
    ASSERT_TRUE(frame->execute(cmd::TimiArrhythmia));
    EXPECT_EQ(shown(), Texts{kTimiArrhythmiaTooManyDaysText});
    EXPECT_EQ(temp_entries(), before);
    EXPECT_TRUE(audit_messages().empty());
}

TEST_F(TimiCommandsTest, StoredTimiReportsOpenInTheirWindowOrTheViewer) {
    const auto stored = [](const char* folder, const char* description) {
        TimiDay d;
        d.folder = folder;
        d.description = description;
        return d;
    };
    browse({stored("T1.TIM", "Stored Data"), stored("S1.SUM", "Stored Summary"), stored("A1.ARR", "Stored Arrhythmia"),
            stored("S2.SUM", "Empty Summary")});
    testing_root::write_file(archive / "T1.TIM" / "data.timi", "rows");
    testing_root::write_file(archive / "S1.SUM" / "TIMI_SUMMARY.TXT", "summary\r\n");
    testing_root::write_file(archive / "A1.ARR" / "timi_arrh.txt", "arrhythmia\r\n");

    select({"Stored Data"});
    ASSERT_TRUE(frame->execute(cmd::Open));
    EXPECT_EQ(shown(), Texts{});
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, report("T1.TIM") + "/data.timi");
    EXPECT_EQ(requests[0].archive_folder, archive.string());
    EXPECT_EQ(requests[0].saved_data_path, report("T1.TIM"));
    EXPECT_EQ(requests[0].display_name, "Stored Data");
    EXPECT_EQ(requests[0].data_file_id, "");
    EXPECT_EQ(audit_messages(), Texts{"TIMI load archive - Stored Data in t1.tim"});
    answer = gui::TimiOpenResult::NoDocument;
    ASSERT_TRUE(frame->execute(cmd::Open));
    EXPECT_EQ(audit_messages().size(), 1u);

    // The viewer: a program named "notepad" on PATH that keeps what it was shown and its mode.
    const fs::path bin = fs::path(root.path()) / "bin";
    const fs::path seen = fs::path(root.path()) / "seen.txt";
    testing_root::write_file(bin / "notepad", "#!/bin/sh\ncat \"$1\" >> '" + seen.string() +
                                                  "'\nstat -c %a \"$1\" >> '" + seen.string() + "'\nexit 0\n");
    ::chmod((bin / "notepad").c_str(), 0755);
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
    for (const char* name : {"Stored Summary", "Stored Arrhythmia", "Empty Summary"}) {
        select({name});
        ASSERT_TRUE(frame->execute(cmd::Open));
    }
    EXPECT_EQ(testing_root::read_all(seen), "summary\r\n444\narrhythmia\r\n444\n");
    EXPECT_EQ(shown(), Texts{"The file \"" + report("S2.SUM") + "/TIMI_SUMMARY.TXT\" cannot be found."});

    // Without the TIMI features none of them opens.
    set_timi(false);
    requests.clear();
    for (const char* name : {"Stored Data", "Stored Summary", "Stored Arrhythmia"}) {
        select({name});
        ASSERT_TRUE(frame->execute(cmd::Open));
        EXPECT_EQ(shown(), Texts{kTimiNoFeatureText}) << name;
    }
    ::setenv("PATH", old_path.c_str(), 1);
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(testing_root::read_all(seen), "summary\r\n444\narrhythmia\r\n444\n");
}

}  // namespace
}  // namespace tv
