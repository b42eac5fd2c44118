// The archive browser's Export to folder and Send to External Program in the running
// application, offscreen: the folder picker is a hook, the external program a script the test
// writes, and the modal wait dialog ends by itself when the program has.
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "framework/qt/folder_dialog.h"
#include "framework/qt/wait_dialogs.h"
#include "tolbex/app/ui/tests/browser_app_fixture.h"
#include "tolbex/external/external_program.h"
#include "tolbex/external/ui/external_commands.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/reports/ui/report_view.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class BrowserExportTest : public uitest::BrowserAppTest {
protected:
    void SetUp() override {
        BrowserAppTest::SetUp();
        make_group({{"STANDARD", "STANDARD", {{"R1.IMG", "Ann Alder"}, {"F1.FUL", "Eve Full"}}}});
        ASSERT_TRUE(start_app());
        ASSERT_NE(open_browser(), nullptr);
        set_wait_text_observer([this](const TextWaitDlg&, const std::string& text) { shown_waits.push_back(text); });
    }
    void TearDown() override {
        set_wait_text_observer({});
        fw::set_browse_for_folder_hook({});
        BrowserAppTest::TearDown();
    }
    void select_all() { list().select_items({0, 1}); }
    void set_external_program(const std::string& program, const std::string& error_file = "") {
        set_settings([&](TolbexSettings& s) {
            s.profile.external_program.program_name = program;
            s.profile.external_program.error_file_name = error_file;
        });
    }
    // Logs "$#|$1|$2|$3" per call, then runs `body`.
    std::string script(const std::string& body) {
        const fs::path path = t / "feed.sh";
        testing_root::write_file(path, "#!/bin/sh\nprintf '%s|%s|%s|%s\\n' \"$#\" \"$1\" \"$2\" \"$3\" >> '" +
                                           (t / "log.txt").string() + "'\n" + body + "\nexit 0\n");
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }
    std::string folder(const char* name) const { return report_folder(name).string(); }

    Texts shown_waits;
};

TEST_F(BrowserExportTest, ExportAsksForTheFolderAndPacksEverySelectedReportThere) {
    const fs::path out = t / "exports";
    fs::create_directories(out);
    write_profile_string("Settings", "Export Folder", out.string());
    std::vector<std::pair<std::string, std::string>> asked;
    fw::set_browse_for_folder_hook([&](const std::string& title, const std::string& initial) {
        asked.emplace_back(title, initial);
        return initial;
    });
    EXPECT_FALSE(enabled(gui::browser_cmd::Export));
    select_all();
    ASSERT_TRUE(enabled(gui::browser_cmd::Export));
    ASSERT_TRUE(browser->execute(gui::browser_cmd::Export));
    settle();
    EXPECT_EQ(asked, (std::vector<std::pair<std::string, std::string>>{
                         {"Select folder in which to place exported reports:", out.string()}}));
    // Both carry the transfer name of their patient file: the second gets a number.
    EXPECT_EQ(platform::testing::sorted_names(out), (Texts{"ABCD1234566 001.TVZ", "ABCD1234566.TVZ"}));
    EXPECT_EQ(shown_waits, Texts{"Compressing Report Files\nPlease Wait."});
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[1].text,
              "The report with description \"Eve Full\"\nhas been exported as \"ABCD1234566 001\".");
    const Texts log = audit_messages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind("Export report - Ann Alder in ", 0), 0u) << log[0];
    EXPECT_EQ(log[1].rfind("Export report - Eve Full in ", 0), 0u) << log[1];

    // A cancelled picker exports nothing.
    fw::set_browse_for_folder_hook([](const std::string&, const std::string&) { return std::string(); });
    scripted.shown.clear();
    ASSERT_TRUE(browser->execute(gui::browser_cmd::Export));
    EXPECT_EQ(platform::testing::sorted_names(out).size(), 2u);
    EXPECT_TRUE(scripted.shown.empty());
}

// Both windows offer the command exactly while a program is named, the report window's row on a
// formatted report of its own.
TEST_F(BrowserExportTest, SendToExternalProgramNeedsAProgramNameInEveryWindow) {
    make_formatted("R1.IMG", "one");
    gui::CPellarnDoc doc;
    ASSERT_TRUE(doc.on_open_document((report_folder("R1.IMG") / "SUMMARY.TXT").string()));
    gui::CPellarnView view(doc);
    const struct {
        const char* window;
        std::function<bool()> enabled;
    } rows[] = {
        {"browser", [&] { return enabled(gui::browser_cmd::ExternalProgram); }},
        {"report window",
         [&] {
             return fw::route_update({&view, &doc}, gui::report_view_cmd::SendToExternal).enabled();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.window);
        set_external_program("");
        EXPECT_FALSE(row.enabled());
        set_external_program("feed --site 4");  // the name as typed, arguments and all
        EXPECT_TRUE(row.enabled());
        set_external_program_handler({});  // named, but nobody to hand over to
        EXPECT_FALSE(row.enabled());
        gui::register_external_program_handler();
    }
}

TEST_F(BrowserExportTest, ExternalProgramRunsOncePerReportWithItsKind) {
    set_external_program(script(""));
    ASSERT_TRUE(enabled(gui::browser_cmd::ExternalProgram));
    ASSERT_TRUE(browser->execute(gui::browser_cmd::ExternalProgram));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "You must select one or more reports before you can send them.");

    scripted.shown.clear();
    select_all();
    ASSERT_TRUE(browser->execute(gui::browser_cmd::ExternalProgram));
    // Rows in list order: the list sorts by description.
    EXPECT_EQ(testing_root::read_all(t / "log.txt"), "2|0|" + folder("R1.IMG") + "|\n2|2|" + folder("F1.FUL") + "|\n");
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(BrowserExportTest, TheErrorFileTheProgramWritesIsShown) {
    const fs::path error_file = t / "err" / "feed.err";
    set_external_program(script("printf 'archive offline' > \"$3\""), error_file.string());
    select_all();
    ASSERT_TRUE(browser->execute(gui::browser_cmd::ExternalProgram));
    EXPECT_EQ(testing_root::read_all(t / "log.txt"), "3|0|" + folder("R1.IMG") + "|" + error_file.string() + "\n");
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "The external program returned this error message:");
    EXPECT_EQ(scripted.shown[0].text, "archive offline\n\nReport: \"Ann Alder\"\n");
}

TEST_F(BrowserExportTest, AMissingExternalProgramIsNamed) {
    const std::string missing = (t / "no-such-feed").string();
    set_external_program(missing);
    select_all();
    ASSERT_TRUE(browser->execute(gui::browser_cmd::ExternalProgram));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "Can't run the external program:\n" + missing);
}

TEST_F(BrowserExportTest, EscapeOnTheWaitAsksAndTheResultIsStillTold) {
    const std::string release = (t / "release").string();
    set_external_program(script("while [ ! -e '" + release + "' ]; do sleep 0.05; done; exit 4"));
    select_all();
    bool pressed = false;
    std::function<void()> press = [&] {
        auto* wait = dynamic_cast<ExternalProgramWaitDlg*>(QApplication::activeModalWidget());
        if (!wait) {
            QTimer::singleShot(10, press);
            return;
        }
        scripted.answers = {MsgResult::No};
        QTest::keyClick(wait, Qt::Key_Escape);
        pressed = true;
        testing_root::write_file(release, "");
    };
    QTimer::singleShot(0, press);
    ASSERT_TRUE(browser->execute(gui::browser_cmd::ExternalProgram));
    ASSERT_TRUE(pressed);
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].text, kStopWaitingQuestion);
    EXPECT_EQ(scripted.shown[0].default_button, MsgResult::No);
    EXPECT_EQ(scripted.shown[1].text, "The external program returned an error code of 4");
}

TEST_F(BrowserExportTest, StoppingTheWaitRefusesAnotherHandOverUntilTheProgramHasEnded) {
    // The program waits at a gate the test opens once the second hand-over has been refused.
    const std::string release = (t / "release").string();
    set_external_program(script("while [ ! -e '" + release + "' ]; do sleep 0.05; done"));
    select_all();
    scripted.answers = {MsgResult::Yes};
    std::function<void()> stop = [&] {
        auto* wait = dynamic_cast<ExternalProgramWaitDlg*>(QApplication::activeModalWidget());
        if (!wait) {
            QTimer::singleShot(10, stop);
            return;
        }
        wait->on_stop_waiting();
    };
    QTimer::singleShot(0, stop);
    ASSERT_TRUE(browser->execute(gui::browser_cmd::ExternalProgram));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kStopWaitingQuestion);
    EXPECT_TRUE(external_jobs_running());

    ASSERT_TRUE(browser->execute(gui::browser_cmd::ExternalProgram));
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[1].text, gui::kExternalStillRunning);
    testing_root::write_file(release, "");
    for (int i = 0; i < 1000 && external_jobs_running(); ++i) ::usleep(10000);
    EXPECT_FALSE(external_jobs_running());
    // The abandoned run went on to its end: both reports.
    EXPECT_EQ(testing_root::read_all(t / "log.txt"), "2|0|" + folder("R1.IMG") + "|\n2|2|" + folder("F1.FUL") + "|\n");
}

}  // namespace
}  // namespace tv
