// tolbex started to choose a report for the analysis system, which tools/analysis-peer plays: a
// row chosen in the browser ends in REPNAME.TXT, the unpacked compressed report and the goodbye
// messages; a refusal, Cancel or a failure leaves nothing and keeps the program open.
#include <QCoreApplication>

#include <filesystem>

#include "common/files.h"
#include "common/registry.h"
#include "formats/tests/cef_test_support.h"
#include "platform/paths.h"
#include "tolbex/app/report_chooser.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"
#include "testing/test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::testing::sorted_names;
using uitest::Peer;
using uitest::read_file;
using uitest::write_file;

using uitest::settle;

class ChooserWindowTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        UiRootTest::SetUp();
        group = root / "GROUP";
        archdir = testing_root::make_test_group(group, {{"STANDARD",
                                                         "STANDARD",
                                                         {{"R1.FUL", "Full one"},
                                                          {"R2.IMG", "Formatted two"},
                                                          {"R3.CEF", "Compressed three"},
                                                          {"R4.RAW", "Raw four"}}}});
        // Stored members only: the compressor is looked for but never run.
        const std::string szip = root / "fake_szip";
        write_file(szip, "#!/bin/sh\nexit 1\n");
        fs::permissions(szip, fs::perms::owner_all);
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", szip));
        user_root = get_analyser_user_root();
        repname = user_root + "/GUI/REPNAME.TXT";
    }
    void TearDown() override {
        windows.reset();
        core.reset();
        UiRootTest::TearDown();
    }
    void write_revision(const std::string& revision) {
        write_file(get_analyser_system_root() + "/system/version.txt",
                   "current.software.revision IS \"V" + revision + "\"\r\n");
    }
    void write_cef(std::int32_t kind, bool damaged = false) {
        cef_test::CefBuilder c(kind, 1);
        c.block(cef_test::scrambled(format_cef_patient_text({"x", "y", "Doe Jane"}))).member({}).member({});
        c.member(cef_test::words_to_bytes({16, 32})).trailer(410, 1, 0);
        cef_test::Bytes bytes = c.finish();
        if (damaged) bytes.back() ^= 0xFF;
        ASSERT_TRUE(cef_test::write_bytes((group / "STANDARD" / "R3.CEF" / "REC.CEF").string(), bytes));
    }
    void start(std::vector<std::string> args) {
        core = std::make_unique<CTolbexApp>();
        windows = std::make_unique<TolbexWindowApp>(*core);
        ASSERT_TRUE(windows->init_instance(std::move(args)));
        gui::CBrowserListDoc* doc = gui::open_archive_group(archdir);
        ASSERT_NE(doc, nullptr);
        auto* browser = dynamic_cast<gui::CBrowserFrame*>(doc->views().front());
        ASSERT_NE(browser, nullptr);
        list = browser->list_view();
        settle();
        scripted.shown.clear();
    }
    // Selects the row of that description and opens it, as a double click does.
    void open(const std::string& description) {
        int item = -1;
        for (int i = 0; i < list->list_model().item_count(); ++i)
            if (list->list_model().item_text(i, 0) == description) item = i;
        ASSERT_GE(item, 0) << description;
        list->select_items({item});
        list->on_open();
        settle();
    }
    bool still_open() const { return windows->main_frame()->isVisible(); }
    std::string folder_of(const std::string& name) const { return (group / "STANDARD" / name).string(); }

    fs::path group;
    std::string archdir, user_root, repname;
    std::unique_ptr<CTolbexApp> core;
    std::unique_ptr<TolbexWindowApp> windows;
    gui::CBrowserListView* list = nullptr;
};

TEST_F(ChooserWindowTest, ChosenReportIsWrittenAndTheAnalysisSystemTold) {
    write_revision("8.006");
    const std::string record = root / "received.txt";
    Peer peer(root / "ready", {"--main", "--record", record});
    ASSERT_TRUE(peer.ready());
    start({"/choose_report", "/from_gui"});

    // A formatted report is viewed, never chosen.
    open("Formatted two");
    for (const auto& s : scripted.shown) EXPECT_NE(s.caption, kLoadReportCaption);
    EXPECT_FALSE(fs::exists(repname));

    // Cancel leaves everything as it was.
    scripted.answers = {MsgResult::Cancel};
    open("Full one");
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_EQ(scripted.shown.back().text, "Do you want to load report \n\"Full one\"?");
    EXPECT_EQ(scripted.shown.back().caption, "Please Confirm");
    EXPECT_EQ(scripted.shown.back().buttons, MsgButtons::OkCancel);
    EXPECT_FALSE(fs::exists(repname));
    EXPECT_TRUE(still_open());
    EXPECT_EQ(read_file(record), "");

    scripted.answers = {MsgResult::Ok};
    open("Full one");
    EXPECT_EQ(read_file(repname), folder_of("R1.FUL"));
    EXPECT_FALSE(still_open());
    EXPECT_EQ("MSG_TOLBEX_ABOUT_TO_TERMINATE 0 0\nMSG_TOLBEX_CLOSED 0 0\nMSG_REDRAW_QUORRIL 0 0\n", read_file(record));
}

TEST_F(ChooserWindowTest, CompressedReportIsUnpackedUnderTheTemporaryName) {
    write_revision("7.5");
    write_cef(11);
    const std::string record = root / "received.txt";
    Peer peer(root / "ready", {"--main", "--record", record});
    ASSERT_TRUE(peer.ready());
    start({"/choose_ecg", "/choose_report", "/from_gui"});

    // ECG chooser mode wins: a full report is refused.
    open("Full one");
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "Sorry, but you cannot load that kind of report.");
    EXPECT_EQ(scripted.shown[0].caption, "Wrong kind of report");
    EXPECT_TRUE(still_open());

    scripted.answers = {MsgResult::Ok};
    open("Compressed three");
    const std::string unpacked = get_temp_folder() + "/GVTEMP.CFR";
    EXPECT_EQ(read_file(repname), unpacked);
    EXPECT_EQ(sorted_names(unpacked),
              (std::vector<std::string>{"CEFDESC.TXT", "PATEVENT.DAT", "PATIENT.TXT", "RAWECG1.DAT", "RECORDING.DAT",
                                        "SUMMARY.TXT", "VERSION.TXT"}));
    EXPECT_FALSE(still_open());
    EXPECT_EQ("MSG_TOLBEX_CLOSED 0 0\n", read_file(record));
}

TEST_F(ChooserWindowTest, FullRecordingGoesToItsOwnNameAndFailuresLeaveNothing) {
    write_revision("8.006");
    write_cef(kCefKindFull, true);
    const std::string record = root / "received.txt";
    Peer peer(root / "ready", {"--main", "--record", record});
    ASSERT_TRUE(peer.ready());
    start({"/choose_ecg", "/from_gui"});

    scripted.answers = {MsgResult::Ok};
    open("Compressed three");
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[1].text, "Invalid checksum in CEF \"" + folder_of("R3.CEF") + "/REC.CEF\"");
    EXPECT_EQ(scripted.shown[1].caption, "Compressed ECG File Error");
    EXPECT_EQ(scripted.shown[1].icon, MsgIcon::Error);
    EXPECT_FALSE(fs::exists(repname));
    EXPECT_FALSE(fs::exists(user_root + "/TEMP.CEF"));
    EXPECT_TRUE(still_open());
    EXPECT_EQ(read_file(record), "");

    write_cef(kCefKindFull);
    scripted.answers = {MsgResult::Ok};
    open("Compressed three");
    EXPECT_EQ(read_file(repname), user_root + "/TEMP.FUL");
    EXPECT_EQ(sorted_names(user_root + "/TEMP.FUL").size(), 7u);
    EXPECT_TRUE(sorted_names(user_root + "/TEMP.CEF").empty());
    EXPECT_FALSE(still_open());
    EXPECT_EQ("MSG_TOLBEX_ABOUT_TO_TERMINATE 0 0\nMSG_TOLBEX_CLOSED 0 0\nMSG_REDRAW_QUORRIL 0 0\n", read_file(record));
}

}  // namespace
}  // namespace tv
