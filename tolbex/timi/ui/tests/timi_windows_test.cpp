// The TIMI window offscreen: a day list opened through the framework shows the grid, saves go
// into the archive, a stored report reopens, closing asks and keeps edits that were not saved;
// grid-demo shows the window's grid.
#include <QApplication>
#include <QMouseEvent>
#include <QPrinter>

#include <gtest/gtest.h>

#include "framework/qt/tests/pictures.h"
#include "testing/test_root.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/dialog.h"
#include "framework/qt/print_job.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"
#include "tolbex/timi/tests/timi_test_support.h"
#include "tolbex/timi/ui/timi_windows.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using uitest::settle;

class OpenAudit : public AuditTrail {
public:
    bool open(const std::string&) override { return opens; }
    bool write(const char*, const std::string&, const std::string&, const std::string&) override { return true; }
    void close() override {}
    bool opens = true;
};

using tv::testing_pictures::dark_pixels;

class TimiWindowTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        UiRootTest::SetUp();
        register_timi_strings();
        app = std::make_unique<fw::Application>();
        main = new fw::MainFrame(*app);
        const fw::TemplateParts parts = timi_template_parts();
        app->add_doc_template(std::make_unique<fw::DocTemplate>(
            185, "\nTIMI\nTIMI\nTorvane TIMI Files (*.TIMI)\n.TIMI\nTIMI.Document\nTIMI Document", parts.make_document,
            parts.make_view));
        main->resize(1400, 800);
        main->show();
        main->activateWindow();
        settle();
        set_timi_audit(&audit);
        archive = t / "G" / "ARCH";
        fs::create_directories(archive);
    }
    void TearDown() override {
        set_timi_audit(nullptr);
        app->close_all_documents();
        delete main;
        app.reset();
        UiRootTest::TearDown();
    }
    // Two days of 5 and 4 rows and their list.
    std::string day_list() {
        timi_test::DaySpec d1, d2;
        for (const char* time : {"10:00:00", "10:00:30", "10:01:00", "10:01:30", "10:02:00"})
            d1.rows.push_back(timi_test::day_row(1, time, "60"));
        d2.date = "02/03/2004 10:00:00";
        for (const char* time : {"10:01:30", "10:02:00", "10:02:30", "10:03:00"})
            d2.rows.push_back(timi_test::day_row(1, time, "70", ""));
        timi_test::write_file(t / "d1" / "TIMI1234_1.TXT", timi_test::day_file_text(d1));
        timi_test::write_file(t / "d2" / "timi1234_2.txt", timi_test::day_file_text(d2));
        const std::string list = (t / "list.TIMI").string();
        timi_test::write_file(list, (t / "d1" / "TIMI1234_1.TXT").string() + "\r\n" +
                                        (t / "d2" / "timi1234_2.txt").string() + "\r\n");
        return list;
    }
    TIMIView& view(TIMIDoc& doc) { return *doc.first_view(); }
    // The mouse on the middle of a cell, as the user moves it.
    void mouse(TIMIView& v, QEvent::Type type, int col, int row, Qt::MouseButton button, Qt::MouseButtons held) {
        fw::Rc r{};
        ASSERT_EQ(v.grid().get_cell_rect(col, row, r), GRID_OK);
        QWidget& area = v.grid_widget().cell_area();
        const QPoint at(r.l + r.width() / 2, r.t + r.height() / 2);
        QMouseEvent e(type, at, area.mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&area, &e);
        settle();
    }
    void click(TIMIView& v, int col, int row) {
        mouse(v, QEvent::MouseButtonPress, col, row, Qt::LeftButton, Qt::LeftButton);
        mouse(v, QEvent::MouseButtonRelease, col, row, Qt::LeftButton, Qt::NoButton);
    }
    void drag(TIMIView& v, int col, int from_row, int to_row) {
        mouse(v, QEvent::MouseButtonPress, col, from_row, Qt::LeftButton, Qt::LeftButton);
        mouse(v, QEvent::MouseMove, col, to_row, Qt::NoButton, Qt::LeftButton);
        mouse(v, QEvent::MouseButtonRelease, col, to_row, Qt::LeftButton, Qt::NoButton);
    }
    // A window on the day list, sized so that every row shows.
    TIMIDoc* open_day_list() {
        TIMIDoc* doc = open_timi_window(*app, {day_list(), archive.string(), "", "Day one", ""});
        if (doc && doc->first_view()) {
            doc->first_view()->frame()->resize(1200, 500);
            settle();
        }
        return doc;
    }
    std::vector<fs::path> reports(const std::string& ext) const {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(archive))
            if (e.is_directory() && e.path().extension() == ext) out.push_back(e.path());
        std::sort(out.begin(), out.end());
        return out;
    }
    // The size line of the report's five-line entry in ARCHINFO.DAT.
    std::string listed_size(const fs::path& report) const {
        std::istringstream in(uitest::read_file((archive / "ARCHINFO.DAT").string()));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.find('\r')));
        for (std::size_t i = 0; i + 3 < lines.size(); i += 5)
            if (lines[i] == report.filename().string()) return lines[i + 3];
        return "not listed";
    }
    static std::string folder_size(const fs::path& report) {
        std::uintmax_t n = 0;
        for (const auto& e : fs::directory_iterator(report)) n += e.file_size();
        return std::to_string(n);
    }
    bool enabled(TIMIDoc& doc, fw::CommandId id) {
        fw::CommandUi state(id);
        if (!view(doc).update_state(state)) doc.update_state(state);
        return state.enabled();
    }

    std::unique_ptr<fw::Application> app;
    fw::MainFrame* main = nullptr;
    OpenAudit audit;
    fs::path archive;
};

TEST_F(TimiWindowTest, ADayListOpensSavesReopensAndClosesOnlyWhenSaved) {
    const std::string list = day_list();
    TIMIDoc* doc = open_timi_window(*app, {list, archive.string(), "", "Day one", "1234"});
    ASSERT_NE(doc, nullptr);
    ASSERT_NE(doc->get_data(), nullptr);
    EXPECT_EQ(doc->get_data()->row_count(), 7);  // day 2 begins inside day 1
    EXPECT_EQ(doc->title(), kUnsavedTimiTitle);
    EXPECT_TRUE(doc->is_modified());
    EXPECT_FALSE(fs::exists(list));
    EXPECT_EQ(doc->store().data_file_id(), "1234");

    // The grid fills the view and shows headings, cell texts and check boxes.
    TIMIView& v = view(*doc);
    ASSERT_NE(v.frame(), nullptr);
    v.frame()->resize(1200, 500);
    settle();
    EXPECT_EQ(QApplication::focusWidget(), &v.grid_widget().cell_area());
    EXPECT_EQ(v.grid_widget().size(), v.size());
    const QImage image = v.grid_widget().grab().toImage();
    const auto cell = [&](int col, int row) {
        fw::Rc r{};
        EXPECT_EQ(v.grid().get_cell_rect(col, row, r), GRID_OK);
        return QRect(r.l + 2, r.t + 2, r.width() - 4, r.height() - 4).translated(v.grid_widget().cell_area().pos());
    };
    const QPoint top = v.grid_widget().top_heading().pos();
    EXPECT_GT(dark_pixels(image, QRect(2, 2, v.grid().get_col_width(0) - 4, 14).translated(top)), 10) << "Use?";
    EXPECT_GT(dark_pixels(image, cell(kColTime, 0)), 10) << "10:00:00";
    EXPECT_GT(dark_pixels(image, cell(kColUse, 0)), 20) << "ticked box";
    EXPECT_GT(dark_pixels(image, cell(channel_flag_col(0), 5)), 10) << "empty box";

    // A further window on the document closes again and leaves the table to the first.
    TimiData* table = doc->get_data();
    ASSERT_NE(doc->doc_template()->create_new_frame(*doc), nullptr);
    settle();
    EXPECT_EQ(doc->views().size(), 1u);
    EXPECT_EQ(doc->get_data(), table);

    EXPECT_FALSE(enabled(*doc, timi_cmd::SignatureDetails));
    EXPECT_TRUE(enabled(*doc, timi_cmd::PrintTable));
    EXPECT_TRUE(enabled(*doc, timi_cmd::Stemi));

    // The view's print and STEMI commands reach the printing and the sheet with the window's table.
    const std::string pdf = (t / "selected.pdf").string();
    fw::set_print_dialog_hook([&](QPrinter& printer, int, int) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return true;
    });
    EXPECT_TRUE(v.execute(timi_cmd::PrintSelected));
    fw::set_print_dialog_hook({});
    EXPECT_GT(fs::file_size(pdf), 0u);
    int sheets = 0;
    fw::Dialog::set_test_hook([&](fw::Dialog&) {
        ++sheets;
        return QDialog::Rejected;
    });
    EXPECT_TRUE(v.execute(timi_cmd::Stemi));
    fw::Dialog::set_test_hook({});
    EXPECT_EQ(sheets, 1);
    EXPECT_TRUE(enabled(*doc, timi_cmd::SaveData));

    // Closing asks, unedited only whether to save; Cancel keeps the window, a refused save keeps
    // it too (the analysis would be lost).
    scripted.answers = {MsgResult::Cancel};
    EXPECT_FALSE(doc->save_modified());
    EXPECT_EQ(scripted.shown.back().text, kSaveNewTimiText);
    doc->set_edited();
    scripted.answers = {MsgResult::Cancel};
    EXPECT_FALSE(doc->save_modified());
    EXPECT_EQ(scripted.shown.back().text, kSaveModifiedTimiText);
    audit.opens = false;
    scripted.answers = {MsgResult::Yes};
    EXPECT_FALSE(doc->save_modified());
    EXPECT_TRUE(doc->is_modified());

    audit.opens = true;
    ASSERT_TRUE(doc->execute(timi_cmd::SaveData));
    EXPECT_FALSE(doc->is_modified());
    EXPECT_EQ(doc->title(), "TIMI Data - Day one");
    const std::string stored = doc->store().saved_data_path();
    ASSERT_TRUE(fs::exists(fs::path(stored) / "DATA.TIMI"));
    const std::string saved_text = doc->get_data()->data_file_text(0, 6);

    doc->get_data()->toggle_use(0);
    doc->set_modified(true);
    scripted.answers = {MsgResult::No};
    EXPECT_TRUE(doc->save_modified());
    EXPECT_EQ(scripted.shown.back().text,
              "You have modified the TIMI data for Day one, do you want to save the modified data ?");

    // The stored report opens unmodified with the same table.
    TIMIDoc* again =
        open_timi_window(*app, {(fs::path(stored) / "DATA.TIMI").string(), archive.string(), stored, "Day one", ""});
    ASSERT_NE(again, nullptr);
    ASSERT_NE(again->get_data(), nullptr);
    EXPECT_FALSE(again->is_modified());
    EXPECT_EQ(again->title(), "TIMI Data - Day one");
    EXPECT_EQ(again->get_data()->data_file_text(0, 6), saved_text);
}

TEST_F(TimiWindowTest, TheClosingQuestionNamesAShortPathWhole) {
    TIMIDoc* doc = open_timi_window(*app, {day_list(), archive.string(), "", "Day one", ""});
    ASSERT_NE(doc, nullptr);
    set_timi_audit(nullptr);  // refused: the path stays as it was
    ASSERT_TRUE(doc->save_timi_data(TimiRowRange::whole_table()) == false);
    doc->set_path_name((t / "DATA.TIMI").string(), false);  // shorter than "TIMI Data - "
    doc->set_edited();
    scripted.answers = {MsgResult::No};
    EXPECT_TRUE(doc->save_modified());
    EXPECT_EQ(scripted.shown.back().text,
              "You have modified the TIMI data for DATA.TIMI, do you want to save the modified data ?");
}

TEST_F(TimiWindowTest, AListThatCannotBeReadClosesItsWindow) {
    const std::string list = (t / "bad.TIMI").string();
    timi_test::write_file(list, (t / "none" / "TIMI1_1.TXT").string() + "\n");
    TIMIDoc* doc = open_timi_window(*app, {list, archive.string(), "", "x", ""});
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->get_data(), nullptr);
    EXPECT_FALSE(fs::exists(list));
    settle();
    EXPECT_TRUE(app->documents().empty());
}

TEST_F(TimiWindowTest, SignedDataShowsItsSignatureSavesAnewAndRemovesItsFolderOnClose) {
    TIMIDoc* doc = open_timi_window(*app, {day_list(), archive.string(), "", "Day one", "1234"});
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->save_timi_data(TimiRowRange::whole_table()));
    const fs::path report = doc->store().saved_data_path();
    // The restored copy of a signed report: a private folder holding its DATA.TIMI.
    const fs::path restored = t / "restored";
    fs::create_directories(restored);
    fs::copy_file(report / "DATA.TIMI", restored / "DATA.TIMI");
    TIMIDoc* signed_doc =
        open_timi_window(*app, {(restored / "DATA.TIMI").string(), archive.string(), report.string(), "Day one", ""});
    ASSERT_NE(signed_doc, nullptr);
    signing::SignatureRecord record;
    record.signer_name = "Anna Smith";
    record.verified = true;
    signed_doc->set_signatures({record});
    signed_doc->set_restored_folder(restored.string());
    EXPECT_TRUE(enabled(*signed_doc, timi_cmd::SignatureDetails));
    ASSERT_TRUE(view(*signed_doc).execute(timi_cmd::SignatureDetails));
    EXPECT_NE(scripted.shown.back().text.find("Anna Smith"), std::string::npos);

    set_timi_overwrite_hook([](bool) { return kTimiOverwrite; });
    signed_doc->get_data()->toggle_use(2);
    ASSERT_TRUE(signed_doc->save_timi_data(TimiRowRange::whole_table()));
    set_timi_overwrite_hook({});
    EXPECT_NE(signed_doc->store().saved_data_path(), report.string());  // never over the signed one
    EXPECT_EQ(signed_doc->get_signatures().at(0).signer_name, "Anna Smith");
    signed_doc->on_close_document();
    settle();
    EXPECT_FALSE(fs::exists(restored));
}

TEST_F(TimiWindowTest, SavingSelectedRowsKeepsTheEditsAndTheFullReportAsTheOneToOverwrite) {
    TIMIDoc* doc = open_day_list();
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->execute(timi_cmd::SaveData));
    const fs::path full = doc->store().saved_data_path();
    TIMIView& v = view(*doc);

    // The user takes row 0 out of use, then saves rows 2 to 4 as a report of their own.
    click(v, kColUse, 0);
    ASSERT_TRUE(doc->is_modified());
    ASSERT_FALSE(doc->get_data()->rows[0].use);
    drag(v, kColTime, 2, 4);
    set_timi_overwrite_hook([](bool) { return kTimiCreateNew; });
    ASSERT_TRUE(doc->execute(timi_cmd::SaveSelected));
    const std::vector<fs::path> stored = reports(".TIM");
    ASSERT_EQ(stored.size(), 2u);
    const fs::path part = stored[0] == full ? stored[1] : stored[0];
    const std::string three = doc->get_data()->data_file_text(2, 4);
    EXPECT_EQ(uitest::read_file((part / "DATA.TIMI").string()), three);
    EXPECT_TRUE(doc->is_modified());
    EXPECT_EQ(doc->store().saved_data_path(), full.string());

    // Closing asks; Yes and Overwrite put the whole edited table over the full report.
    const std::string edited = doc->get_data()->data_file_text(0, 6);
    set_timi_overwrite_hook([](bool) { return kTimiOverwrite; });
    scripted.answers = {MsgResult::Yes};
    v.frame()->close();
    settle();
    set_timi_overwrite_hook({});
    EXPECT_TRUE(app->documents().empty());
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_EQ(scripted.shown.back().text,
              "You have modified the TIMI data for Day one, do you want to save the modified data ?");
    EXPECT_EQ(uitest::read_file((full / "DATA.TIMI").string()), edited);
    EXPECT_EQ(uitest::read_file((part / "DATA.TIMI").string()), three);  // the part stays as saved
}

TEST_F(TimiWindowTest, AStoredDataFileThatCannotBeReadSaysWhichLineAndWhy) {
    TIMIDoc* doc = open_day_list();
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->execute(timi_cmd::SaveData));
    const fs::path report = doc->store().saved_data_path();
    const std::string file = (report / "DATA.TIMI").string();
    const std::string good = uitest::read_file(file);
    app->close_all_documents();
    settle();
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct Case {
        std::string bytes, expected;
        bool remove = false;
    } cases[] = {
        {replaced("\t10:01:30\t", "\t10:01:40\t"), "line 35: the row is not 30 seconds after the row before it"},
        {replaced("\t10:01:30\t", "\t10:01:3x\t"), "line 35: field 3 of the row does not read as a value"},
        {replaced("\t10:01:30\t", "\t"), "line 35: the row has 21 fields instead of 22"},
        {replaced("01/03/2004", "31/02/2004"), "line 5: the start time is not a valid date and time"},
        {good.substr(0, good.find("Pauses")), "line 30: the file ends before the header does"},
        {"", "line 1: the file is empty"},
        {"", "No such file or directory", true},
    };
    for (const Case& c : cases) {
        if (c.remove)
            fs::remove(file);
        else
            uitest::write_file(file, c.bytes);
        scripted.shown.clear();
        TIMIDoc* opened = open_timi_window(*app, {file, archive.string(), report.string(), "Day one", ""});
        EXPECT_TRUE(opened == nullptr || opened->get_data() == nullptr) << c.expected;
        settle();  // the window closes
        EXPECT_TRUE(app->documents().empty()) << c.expected;
        ASSERT_EQ(scripted.shown.size(), 1u) << c.expected;
        EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Error);
        EXPECT_EQ(scripted.shown[0].text, "The TIMI data file \"" + file + "\" cannot be read: " + c.expected + ".");
    }
}

TEST_F(TimiWindowTest, ListedSizesAreTheFoldersSizesAfterEverySave) {
    TIMIDoc* doc = open_day_list();
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->execute(timi_cmd::SaveData));
    const fs::path data = doc->store().saved_data_path();
    EXPECT_EQ(listed_size(data), folder_size(data));
    // The first summary is new; its location goes into the data report, which grows by it.
    ASSERT_TRUE(doc->execute(timi_cmd::SaveSummary));
    ASSERT_EQ(reports(".SUM").size(), 1u);
    const fs::path summary = reports(".SUM")[0];
    EXPECT_EQ(listed_size(summary), folder_size(summary));
    ASSERT_TRUE(fs::exists(data / "TIMI_SUMM_LOC.TXT"));
    EXPECT_EQ(listed_size(data), folder_size(data));

    // A further data report holds the location file from the start.
    set_timi_overwrite_hook([](bool) { return kTimiCreateNew; });
    ASSERT_TRUE(doc->execute(timi_cmd::SaveData));
    const fs::path second = doc->store().saved_data_path();
    ASSERT_NE(second, data);
    ASSERT_TRUE(fs::exists(second / "TIMI_SUMM_LOC.TXT"));
    EXPECT_EQ(listed_size(second), folder_size(second));

    // Row 2 out of use splits the episode in two: the summary written over the old one is longer.
    click(view(*doc), kColUse, 2);
    const std::string before = folder_size(summary);
    set_timi_overwrite_hook([](bool) { return kTimiOverwrite; });
    ASSERT_TRUE(doc->execute(timi_cmd::SaveSummary));
    EXPECT_NE(folder_size(summary), before);
    EXPECT_EQ(listed_size(summary), folder_size(summary));
    ASSERT_TRUE(doc->execute(timi_cmd::SaveData));
    set_timi_overwrite_hook({});
    EXPECT_EQ(listed_size(second), folder_size(second));
    EXPECT_EQ(reports(".TIM").size(), 2u);
    EXPECT_EQ(reports(".SUM").size(), 1u);
}

// grid-demo as a user starts it, on the machine root `root`: its exit code and messages.
platform::testing::CapturedRun run_grid_demo(const std::string& root, const std::string& list, const std::string& png) {
    const char* fonts = std::getenv("FONTCONFIG_FILE");
    return platform::testing::run_captured({TV_GRID_DEMO, list, "--grab", png},
                                           {"QT_QPA_PLATFORM=offscreen", "TORVANE_ROOT=" + root,
                                            "TMPDIR=" + root + "/tmp", "HOME=" + root, "TZ=UTC",
                                            std::string("FONTCONFIG_FILE=") + (fonts ? fonts : "")},
                                           root, 60);
}

// With a day list that is not there the demo says so and shows the generated week, headings and
// rows from 1.
TEST_F(TimiWindowTest, WithoutItsDayListTheGridDemoShowsAGeneratedWeek) {
    const std::string png = (t / "grid.png").string();
    const auto run = run_grid_demo(root.path(), root.path() + "/NO.TIMI", png);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("NO.TIMI\" cannot be read"), std::string::npos) << run.err;
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(png)));
    EXPECT_EQ(image.size(), QSize(1000, 600));
    EXPECT_GT(dark_pixels(image, QRect(60, 2, 50, 16)), 10) << "the first column heading";
    EXPECT_GT(dark_pixels(image, QRect(30, 22, 25, 16)), 3) << "row 1";
    EXPECT_GT(dark_pixels(image, QRect(155, 22, 70, 16)), 10) << "the first time";
}

// The demo on a day list draws the table as the TIMI window does: the same fonts, column widths,
// side heading and check boxes.
TEST_F(TimiWindowTest, TheGridDemoShowsADayListAsTheWindowDoes) {
    const std::string list = day_list(), png = (t / "demo.png").string();
    const auto run = run_grid_demo(root.path(), list, png);
    ASSERT_EQ(run.code, 0) << run.err;
    QImage demo;
    ASSERT_TRUE(demo.load(QString::fromStdString(png)));

    TIMIDoc* doc = open_timi_window(*app, {list, archive.string(), "", "Day one", ""});
    ASSERT_NE(doc, nullptr);
    doc->first_view()->frame()->resize(1200, 700);
    settle();
    TIMIView& v = view(*doc);
    const QImage window = v.grid_widget().grab().toImage().convertToFormat(demo.format());
    // The rows and the blank below them; the scroll bars sit where each window's size puts them.
    const QRect shown(0, 0, std::min(demo.width(), window.width()) - 30, 300);
    ASSERT_LE(shown.bottom(), window.height() - 30);
    const bool same = demo.copy(shown) == window.copy(shown);
    if (!same) window.save(QString::fromStdString((t / "window.png").string()));
    EXPECT_TRUE(same) << "compare " << png << " with " << (t / "window.png").string();
    fw::Rc use{};
    ASSERT_EQ(v.grid().get_cell_rect(kColUse, 0, use), GRID_OK);
    const QPoint cells = v.grid_widget().cell_area().pos();
    EXPECT_GT(dark_pixels(demo, QRect(use.l + 2, use.t + 2, use.width() - 4, use.height() - 4).translated(cells)), 20)
        << "the demo's ticked box";
}

TEST(TimiOverwriteDialogTest, TextsByMode) {
    EXPECT_EQ(TIMICheckOverwriteDlg::caption(false), "Save TIMI Data");
    EXPECT_EQ(TIMICheckOverwriteDlg::caption(true), "Save TIMI Summary");
    EXPECT_EQ(TIMICheckOverwriteDlg::text(true).substr(0, 55),
              "The TIMI summary you are saving has already been saved.");
    const fw::MenuModel menu = timi_window_menu();
    for (fw::CommandId id : {239u, 32860u, 32856u, 191u, 32863u, 190u, 193u, 194u, 195u, 196u, 199u, 245u})
        EXPECT_NE(fw::find_menu_command(menu, id), nullptr) << id;
}

}  // namespace
}  // namespace tv
