// The browser window's Where is Item, Delete 12-lead ECG files, Delete group and the archive
// configuration commands, driven offscreen with the scripted prompter: when each is offered,
// what it says and what it leaves on disk.
#include <deque>
#include <functional>
#include <optional>

#include <QCoreApplication>

#include "common/files.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/browser/group_commands.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using testing_root::make_test_group;
using testing_root::read_all;
using testing_root::write_file;
namespace cmd = gui::browser_cmd;

struct Box {
    std::string text, caption;
    MsgIcon icon;
    MsgButtons buttons;
    bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Box& b) {
    return os << '"' << b.text << "\" / \"" << b.caption << "\" icon " << int(b.icon) << " buttons " << int(b.buttons);
}

class GroupCommandsTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        UiRootTest::SetUp();
        app = std::make_unique<fw::Application>();
        main = new fw::MainFrame(*app);
        gui::register_archive_template(*app);
        tolbex = std::make_unique<CTolbexApp>();
        device_dat = fs::path(root.path()) / "DEVICE.DAT";
    }
    void TearDown() override {
        app->close_all_documents();
        delete main;
        app.reset();
        tolbex.reset();
        UiRootTest::TearDown();
    }

    gui::CBrowserListDoc* open(const std::string& archdir) {
        frame = nullptr;
        gui::CBrowserListDoc* doc = gui::open_archive_group(archdir);
        if (doc && !doc->views().empty()) frame = dynamic_cast<gui::CBrowserFrame*>(doc->views().front());
        return frame ? doc : nullptr;
    }
    gui::CBrowserListView& list() { return *frame->list_view(); }
    void select(const std::vector<std::string>& descriptions) {
        std::vector<int> items;
        for (const auto& d : descriptions)
            for (int i = 0; i < list().list_model().item_count(); ++i)
                if (list().list_model().item_text(i, 0) == d) items.push_back(i);
        ASSERT_EQ(items.size(), descriptions.size());
        list().select_items(items);
    }
    bool enabled(fw::CommandId id) {
        fw::CommandUi state(id);
        EXPECT_TRUE(frame->update_state(state)) << id;
        return state.enabled();
    }
    void configure(const std::string& text) {
        write_file(device_dat, text);
        tolbex->archive_config().load(device_dat.string());
    }
    std::vector<Box> shown() {
        std::vector<Box> out;
        for (const auto& s : scripted.shown) out.push_back({s.text, s.caption, s.icon, s.buttons});
        scripted.shown.clear();
        return out;
    }

    std::unique_ptr<fw::Application> app;
    fw::MainFrame* main = nullptr;
    std::unique_ptr<CTolbexApp> tolbex;
    gui::CBrowserFrame* frame = nullptr;
    fs::path device_dat;
};

constexpr const char* kEcgQuestion =
    "This operation will permanently delete the 12 channel ECG files from the selected reports,\nand change the "
    "report type to \"Full\". You will still be able to load these reports into Quorril,\nbut you will not be "
    "able to view 12 lead ECG.\n\nDo you want to proceed ?";

TEST_F(GroupCommandsTest, WhereIsAndTwelveLeadAreOfferedForTheirSelections) {
    const fs::path g = fs::path(root.path()) / "G";
    ASSERT_NE(open(make_test_group(g, {{"STANDARD", "STANDARD", {{"A1.FUL", "Full one"}, {"X1.O12", "Twelve one"}}},
                                       {"ARCH2", "Second", {{"X2.O12", "Twelve two"}, {"y.o12", "Lower"}}}})),
              nullptr);
    struct Case {
        std::vector<std::string> selected;
        bool where_is, delete_ecg;
    };
    const Case cases[] = {
        {{}, false, false},
        {{"Full one"}, true, false},
        {{"Twelve one"}, true, true},
        {{"Twelve one", "Twelve two"}, true, true},
        {{"Twelve one", "Full one"}, true, false},
        {{"Lower"}, true, false},  // the extension is matched exactly
    };
    for (const Case& c : cases) {
        select(c.selected);
        EXPECT_EQ(enabled(cmd::WhereIs), c.where_is) << ::testing::PrintToString(c.selected);
        EXPECT_EQ(enabled(cmd::DeleteEcgFiles), c.delete_ecg) << ::testing::PrintToString(c.selected);
    }

    select({"Full one", "Twelve two"});
    ASSERT_TRUE(frame->execute(cmd::WhereIs));
    const std::string text = "Report \"Full one\" is in folder \"" + (g / "STANDARD").string() +
                             "\"\nReport \"Twelve two\" is in folder \"" + (g / "ARCH2").string() + "\"\n";
    const std::string other_order = "Report \"Twelve two\" is in folder \"" + (g / "ARCH2").string() +
                                    "\"\nReport \"Full one\" is in folder \"" + (g / "STANDARD").string() + "\"\n";
    const std::vector<Box> boxes = shown();
    ASSERT_EQ(boxes.size(), 1u);
    // In list order, whichever way the list is sorted.
    const std::string listed_first = list().list_model().item_text(list().list_model().selected_items()[0], 0);
    EXPECT_EQ(boxes[0], (Box{listed_first == "Full one" ? text : other_order, "Report Folders", MsgIcon::Information,
                             MsgButtons::Ok}));
}

TEST_F(GroupCommandsTest, DeleteTwelveLeadEcgFilesMakesFullReports) {
    const fs::path g = fs::path(root.path()) / "G";
    const fs::path standard = g / "STANDARD";
    make_test_group(g, {{"STANDARD", "STANDARD", {}}, {"ARCH2", "Second", {}}});
    const char* ecg_files[] = {"os12ecg1.dat", "OS12ECG2.DAT", "os12ecg3.dat", "os12ecg4.dat", "os12ecg5.dat",
                               "os12ecg6.dat", "os12ecg7.dat", "os12ecg8.dat", "OS12PAC.DAT"};
    for (const char* report : {"X1.O12", "Z1.O12"}) {
        for (const char* f : ecg_files) write_file(standard / report / f, std::string(500, 'e'));
        write_file(standard / report / "PATIENT.TXT", testing_root::v8_patient_text(report));
    }
    // X1.FUL taken by a report of the same second: X1 becomes a full report under a fresh name.
    write_file(standard / "X1.FUL" / "ANALSUM.TXT", "same second");
    // An ECG "file" that cannot be deleted: Z1 cannot become a full report.
    fs::remove(standard / "Z1.O12" / "os12ecg3.dat");
    fs::create_directories(standard / "Z1.O12" / "os12ecg3.dat");
    write_file(standard / "A1.FUL" / "PATIENT.TXT", "p");
    // The untouched entry keeps its lines exactly as they were read.
    const std::string a1 = "A1.FUL\r\n  Kept  as read\r\nWed Jan 02 02:03:55 1980\r\n100C\r\nFull\r\n";
    write_file(standard / "ARCHINFO.DAT",
               "X1.O12\r\nTwelve one\r\nWed Jan 02 02:03:55 1980\r\n9999\r\nFull Ostrabel 12\r\n" + a1 +
                   "Z1.O12\r\nTwelve taken\r\nWed Jan 02 02:03:55 1980\r\n9999\r\nFull Ostrabel12\r\n");
    const std::string before = read_all(standard / "ARCHINFO.DAT");
    ASSERT_NE(open((g / "ARCHDIR.DAT").string()), nullptr);

    select({"Twelve one", "Twelve taken"});
    ASSERT_TRUE(enabled(cmd::DeleteEcgFiles));
    scripted.answers = {MsgResult::No};
    ASSERT_TRUE(frame->execute(cmd::DeleteEcgFiles));
    // The files go for good: Enter keeps them.
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].default_button, MsgResult::No);
    EXPECT_EQ(shown(), (std::vector<Box>{{kEcgQuestion, "", MsgIcon::Question, MsgButtons::YesNo}}));
    EXPECT_EQ(read_all(standard / "ARCHINFO.DAT"), before);
    EXPECT_TRUE(fs::exists(standard / "X1.O12" / "os12ecg1.dat"));

    scripted.answers = {MsgResult::Yes};
    ASSERT_TRUE(frame->execute(cmd::DeleteEcgFiles));
    EXPECT_EQ(shown(), (std::vector<Box>{{kEcgQuestion, "", MsgIcon::Question, MsgButtons::YesNo},
                                         {kDeleteEcgFailedText, "", MsgIcon::Error, MsgButtons::Ok}}));
    EXPECT_FALSE(fs::exists(standard / "X1.O12"));
    EXPECT_EQ(read_all(standard / "X1.FUL" / "ANALSUM.TXT"), "same second");
    const std::string index = read_all(standard / "ARCHINFO.DAT");
    const std::string fresh = index.substr(0, index.find("\r\n"));
    EXPECT_EQ(get_extension_upper(fresh), "FUL");
    EXPECT_NE(fresh, "X1.FUL");
    for (const char* f : ecg_files) EXPECT_FALSE(fs::exists(standard / fresh / f)) << f;
    const auto size = fs::file_size(standard / fresh / "PATIENT.TXT");
    EXPECT_EQ(index, fresh + "\r\nTwelve one\r\nWed Jan 02 02:03:55 1980\r\n" + std::to_string(size) + "\r\nFull\r\n" +
                         a1 + "Z1.O12\r\nTwelve taken\r\nWed Jan 02 02:03:55 1980\r\n9999\r\nFull Ostrabel12\r\n");
    // The one that could not change keeps its name and what could not go; the list shows the new type.
    EXPECT_TRUE(fs::is_directory(standard / "Z1.O12" / "os12ecg3.dat"));
    const BrowserListCore& core = list().browser_document().core();
    ReportType type = 0;
    for (std::int32_t row = 0; row < core.get_row_count(); ++row)
        if (core.get_column_text(row, kColumnName) == "Twelve one") type = core.get_record_type(row);
    EXPECT_EQ(type, kReportFull);
}

TEST_F(GroupCommandsTest, DeleteGroupRefusesAsksAndDeletes) {
    const char* kRefusedCaption = "Cannot delete archive group";
    const char* kQuestion =
        "Deleting an Archive Group will permanently lose all the archives and reports that are in it.\nAny Quorril "
        "systems that reference this archive group will be unable to find it in the future.\n\n Are you sure that "
        "you want to delete this archive group?\n";
    const Box question{kQuestion, "Confirm Deletion of Archive Group", MsgIcon::Warning, MsgButtons::OkCancel};
    const Box deleted{
        "The current archive group has been successfully deleted.\nThe deleted folder's window will "
        "now be closed.",
        "Archive Group Deleted Successfully", MsgIcon::None, MsgButtons::Ok};
    struct Case {
        std::string what;
        std::function<void(const fs::path&group)> before_open, after_open;
        std::deque<MsgResult> answers;
        std::function<std::vector<Box>(const fs::path& group)> boxes;
        bool gone;
    };
    auto empty = [](const fs::path& g) { make_test_group(g, {{"STANDARD", "STANDARD", {}}, {"ARCH2", "Second", {}}}); };
    const std::vector<Case> cases = {
        {"workstation standard group",
         [&](const fs::path& g) {
             empty(g);
             write_file(g / "pobtan.id", "");
         },
         {},
         {MsgResult::Ok},
         [&](const fs::path&) {
             return std::vector<Box>{{"You cannot delete the standard archive group on an Analyser.", kRefusedCaption,
                                      MsgIcon::Error, MsgButtons::Ok}};
         },
         false},
        {"group with a report",
         [&](const fs::path& g) {
             make_test_group(g, {{"STANDARD", "STANDARD", {}}, {"ARCH2", "Second", {{"B1.FUL", "b"}}}});
         },
         {},
         {MsgResult::Ok},
         [&](const fs::path&) {
             return std::vector<Box>{
                 {"You cannot remove an archive unless it is empty -\nplease empty the archive by deleting all the "
                  "reports within it.\nYou can then delete the reports moved to the \"Deleted Reports\"\narchive, "
                  "which you can select from the drop-down archive list.",
                  kRefusedCaption, MsgIcon::Error, MsgButtons::Ok}};
         },
         false},
        {"cancelled",
         empty,
         {},
         {MsgResult::Cancel},
         [&](const fs::path&) { return std::vector<Box>{question}; },
         false},
        {"deleted",
         empty,
         {},
         {MsgResult::Ok},
         [&](const fs::path&) {
             return std::vector<Box>{question, deleted};
         },
         true},
        {"ARCHDIR.DAT cannot be deleted",
         empty,
         [](const fs::path& g) {
             fs::remove(g / "ARCHDIR.DAT");
             fs::create_directories(g / "ARCHDIR.DAT" / "in-the-way");
         },
         {MsgResult::Ok},
         [&](const fs::path& g) {
             return std::vector<Box>{question,
                                     {"Couldn't delete archive group file: " + (g / "ARCHDIR.DAT").string(),
                                      "File Error", MsgIcon::Error, MsgButtons::Ok}};
         },
         false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const fs::path g = fs::path(root.path()) / ("G" + std::to_string(i));
        const fs::path other = fs::path(root.path()) / "OTHER";
        c.before_open(g);
        configure("1 \"" + other.string() + "\"\r\n1 \"" + g.string() + "\" \"Mine\"\r\n");
        const std::string device_before = read_all(device_dat);
        gui::CBrowserListDoc* doc = open((g / "ARCHDIR.DAT").string());
        ASSERT_NE(doc, nullptr) << c.what;
        if (c.after_open) c.after_open(g);
        EXPECT_TRUE(enabled(cmd::DeleteGroup)) << c.what;
        scripted.answers = c.answers;
        ASSERT_TRUE(frame->execute(cmd::DeleteGroup)) << c.what;
        EXPECT_EQ(shown(), c.boxes(g)) << c.what;
        QCoreApplication::processEvents();
        EXPECT_EQ(app->documents().empty(), c.gone) << c.what;
        if (c.gone) {
            EXPECT_FALSE(fs::exists(g / "ARCHDIR.DAT")) << c.what;
            EXPECT_FALSE(fs::exists(g / "STANDARD")) << c.what;
            EXPECT_FALSE(fs::exists(g / "ARCH2")) << c.what;
            EXPECT_EQ(read_all(device_dat), "1 \"" + other.string() + "\"\r\n") << c.what;
        } else {
            EXPECT_EQ(read_all(device_dat), device_before) << c.what;
        }
        if (c.what != "ARCHDIR.DAT cannot be deleted") {
            EXPECT_EQ(fs::exists(g / "STANDARD"), !c.gone) << c.what;
        }
        app->close_all_documents();
    }
}

TEST_F(GroupCommandsTest, DeleteGroupNeverReachesOutsideTheGroup) {
    const fs::path g = fs::path(root.path()) / "G";
    write_file(fs::path(root.path()) / "victim" / "keep.txt", "precious");
    make_test_group(g, {{"STANDARD", "STANDARD", {}}});
    write_file(g / "ARCHDIR.DAT", "STANDARD\r\nSTANDARD\r\n../victim\r\nEvil\r\n" + fs::path(root.path()).string() +
                                      "/victim\r\nAbsolute\r\n");
    ASSERT_NE(open((g / "ARCHDIR.DAT").string()), nullptr);
    scripted.answers = {MsgResult::Ok};
    ASSERT_TRUE(frame->execute(cmd::DeleteGroup));
    QCoreApplication::processEvents();
    EXPECT_EQ(app->documents().size(), 1u);  // not deleted: the window stays
    EXPECT_TRUE(fs::exists(fs::path(root.path()) / "victim" / "keep.txt"));
    EXPECT_NE(read_all(g / "ARCHDIR.DAT").find("../victim"), std::string::npos);
    for (const Box& b : shown()) EXPECT_NE(b.caption, "Archive Group Deleted Successfully");
}

TEST_F(GroupCommandsTest, ConfigurationCommandsFollowTheConfiguration) {
    const fs::path g = fs::path(root.path()) / "G";
    const fs::path other = fs::path(root.path()) / "OTHER";
    make_test_group(g, {{"STANDARD", "STANDARD", {}}});
    ASSERT_NE(open((g / "ARCHDIR.DAT").string()), nullptr);
    std::string upper = g.string();
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    struct Case {
        std::string what;
        std::optional<std::string> device_dat;  // nullopt: no DEVICE.DAT
        bool add, remove;
    };
    const Case cases[] = {
        {"no configuration", std::nullopt, false, false},
        {"only another group", "1 \"" + other.string() + "\"\r\n", true, false},
        {"this group listed", "1 \"" + other.string() + "\"\r\n1 \"" + g.string() + "\"\r\n", false, true},
        {"listed in other case", "1 \"" + upper + "\"\r\n", false, true},
    };
    for (const Case& c : cases) {
        fs::remove(device_dat);
        if (c.device_dat) write_file(device_dat, *c.device_dat);
        tolbex->archive_config().load(device_dat.string());
        EXPECT_EQ(enabled(cmd::AddToConfiguration), c.add) << c.what;
        EXPECT_EQ(enabled(cmd::RemoveFromConfiguration), c.remove) << c.what;
    }

    configure("1 \"" + other.string() + "\"\r\n");
    ASSERT_TRUE(frame->execute(cmd::AddToConfiguration));
    EXPECT_EQ(read_all(device_dat), "1 \"" + other.string() + "\"\r\n1 \"" + g.string() + "\"\r\n");
    ASSERT_TRUE(frame->execute(cmd::AddToConfiguration));  // by hand: it says so
    ASSERT_TRUE(frame->execute(cmd::RemoveFromConfiguration));
    EXPECT_EQ(read_all(device_dat), "1 \"" + other.string() + "\"\r\n");
    ASSERT_TRUE(frame->execute(cmd::RemoveFromConfiguration));
    EXPECT_EQ(shown(),
              (std::vector<Box>{
                  {"The current archive group has been successfully added \nto the Archive Configuration File "
                   "(DEVICE.DAT)",
                   "Archive Group Added", MsgIcon::Information, MsgButtons::Ok},
                  {"Failed to add the archive group to the Archive Configuration File (DEVICE.DAT)\nbecause it already "
                   "contains that archive group.",
                   "Archive Configuration File not updated", MsgIcon::Information, MsgButtons::Ok},
                  {"The current archive has been successfully removed from the Archive Configuration File "
                   "(DEVICE.DAT)",
                   "Archive Successfully Removed", MsgIcon::Information, MsgButtons::Ok},
                  {"The current archive is not listed in the Archive Configuration File,\nand therefore the archive "
                   "cannot be removed from it.",
                   "Archive Cannot be Removed", MsgIcon::Error, MsgButtons::Ok},
              }));

    // Without the application there is no configuration to offer.
    tolbex.reset();
    EXPECT_FALSE(enabled(cmd::AddToConfiguration));
    EXPECT_FALSE(enabled(cmd::RemoveFromConfiguration));
}

TEST_F(GroupCommandsTest, TheStandardGroupStaysConfigured) {
    const fs::path standard = standard_archive_group_path();
    make_test_group(standard, {{"STANDARD", "STANDARD", {}}});
    const std::string listed = "1 \"" + standard.string() + "\"\r\n";
    configure(listed);
    ASSERT_NE(open((standard / "ARCHDIR.DAT").string()), nullptr);
    EXPECT_FALSE(enabled(cmd::AddToConfiguration));
    EXPECT_FALSE(enabled(cmd::RemoveFromConfiguration));
    ASSERT_TRUE(frame->execute(cmd::RemoveFromConfiguration));  // by hand: refused
    EXPECT_EQ(shown(),
              (std::vector<Box>{{"You cannot remove the standard archive group \"C:\\ANALYSER\\ARCHIVE\"\nfrom "
                                 "the Archive Configuration File (DEVICE.DAT)",
                                 "Cannot Remove Archive From Configuration File", MsgIcon::Error, MsgButtons::Ok}}));
    EXPECT_EQ(read_all(device_dat), listed);
}

}  // namespace
}  // namespace tv
