#include "tolbex/app/report_chooser.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/registry.h"
#include "formats/tests/cef_test_support.h"
#include "platform/paths.h"
#include "testing/test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::testing::sorted_names;
using cef_test::Bytes;
using cef_test::CefBuilder;

TEST(ReportChooser, EcgChooserWinsOverReportChooser) {
    CommandLineFlags flags;
    EXPECT_EQ(chooser_mode_of(flags), ChooserMode::None);
    flags.choose_report = true;
    EXPECT_EQ(chooser_mode_of(flags), ChooserMode::Report);
    flags.choose_ecg = true;
    EXPECT_EQ(chooser_mode_of(flags), ChooserMode::Ecg);
}

TEST(ReportChooser, TypeDecidesWhatEachModeDoes) {
    constexpr auto C = ChooserAction::Choose, L = ChooserAction::LoadCompressed, R = ChooserAction::Refuse;
    struct Row {
        ReportType type;
        ChooserAction report, ecg;
    };
    const Row rows[] = {
        {kReportFull, C, R},
        {kReportPartial, C, R},
        {kReportUntyped, R, R},
        {kReportRawEcg, C, C},
        {kReportOstrabel, C, C},
        {kReportOstrabelCf, C, C},
        {kReportCef, L, L},
        {kReportNoske, C, R},
        {kReportGavrille, C, R},
        {kReportVarUdiri, C, R},
        {kReportTimiData, C, R},
        {kReportTimiSummary, C, R},
        {kReportFullOstrabel12, C, R},
        {kReportTimiArrhythmia, C, R},
        {kReportUnknown, R, R},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(chooser_action(row.type, ChooserMode::Report), row.report) << row.type;
        EXPECT_EQ(chooser_action(row.type, ChooserMode::Ecg), row.ecg) << row.type;
    }
    EXPECT_EQ(load_report_question("John Smith"), "Do you want to load report \n\"John Smith\"?");
}

TEST(ReportChooser, EveryUnpackerErrorHasItsMessage) {
    const std::string f = "/r/A.CEF";
    const std::string invalid = "The Compressed ECG File \"/r/A.CEF\" is not valid.";
    const std::pair<int, std::string> rows[] = {
        {1, "The \"SZIP.EXE\" program cannot be found."},
        {2, "Could not create the temporary folder for holding uncompressed CEF files:\n\"/r/A.CEF\""},
        {3, "No Compressed ECG file (*.CEF) can be found in the report folder:\n\"/r/A.CEF\""},
        {4, invalid},
        {5, invalid},
        {6, invalid},
        {7, invalid},
        {8, "Could not write the file: \"/r/A.CEF\""},
        {9, "The SZIP program failed to write an output file."},
        {10, invalid},
        {11, invalid},
        {12, invalid},
        {13, "Invalid checksum in CEF \"/r/A.CEF\""},
        {14, "Error number 14 occurred while working with the file \"/r/A.CEF\""},
        {-3, "Error number -3 occurred while working with the file \"/r/A.CEF\""},
    };
    for (const auto& [code, text] : rows) EXPECT_EQ(cef_chooser_error_message(code, f), text) << code;
    EXPECT_EQ(chooser_error_caption(kChooserNoCef), "Missing CEF file");
    EXPECT_EQ(chooser_error_caption(kChooserNoFolder), "Cannot create folder");
    EXPECT_EQ(chooser_error_caption(kChooserUnpack), "Compressed ECG File Error");
    EXPECT_EQ(chooser_error_caption(kChooserWrongKind), "Wrong kind of report");
}

class ChooserFilesTest : public cef_test::CefTest {
protected:
    void SetUp() override {
        CefTest::SetUp();
        user_root = get_analyser_user_root();
        ASSERT_TRUE(create_folder_path(user_root));
        // Stored members only: the compressor is looked for but never run.
        fake_szip("exit 1");
        targets = cef_chooser_targets(false, 8.0, user_root, tmp_);
    }
    // A report folder holding one compressed ECG file of the given recording kind.
    std::string report(std::int32_t kind, const std::string& cef_name = "REC.CEF") {
        const std::string folder = root_ + "/ARCHIVE/STANDARD/R1.CEF";
        EXPECT_TRUE(create_folder_path(folder));
        CefBuilder c(kind, 1);
        c.block(cef_test::scrambled(format_cef_patient_text({"x", "y", "Doe Jane"}))).member({}).member({});
        c.member(cef_test::words_to_bytes({16, 32})).trailer(410, 1, 0);
        EXPECT_TRUE(cef_test::write_bytes(folder + "/" + cef_name, c.finish()));
        return folder;
    }
    static void put(const std::string& path, const std::string& bytes) {
        ASSERT_TRUE(create_folder_path(get_path_folder(path)));
        ASSERT_TRUE(platform::atomic_write_file(path, bytes));
    }
    static const std::vector<std::string>& unpacked() {
        static const std::vector<std::string> n = {"CEFDESC.TXT",   "PATEVENT.DAT", "PATIENT.TXT", "RAWECG1.DAT",
                                                   "RECORDING.DAT", "SUMMARY.TXT",  "VERSION.TXT"};
        return n;
    }

    std::string user_root;
    CefChooserTargets targets;
};

TEST_F(ChooserFilesTest, RepnameHoldsThePathAloneAndIsReplacedWhole) {
    const std::string app_path = user_root + "/GUI/REPNAME.TXT";
    EXPECT_EQ(repname_file_path(app_path, false, tmp_), app_path);
    EXPECT_EQ(repname_file_path(app_path, true, tmp_), tmp_ + "/repname.txt");
    ASSERT_TRUE(platform::atomic_write_file(tmp_ + "/REPNAME.TXT", "old"));
    EXPECT_EQ(repname_file_path(app_path, true, tmp_), tmp_ + "/REPNAME.TXT");

    ASSERT_TRUE(create_folder_path(user_root + "/GUI"));
    ASSERT_TRUE(platform::atomic_write_file(app_path, "an older and longer choice\r\n"));
    ASSERT_TRUE(write_repname(app_path, "/data/ARCHIVE/STANDARD/R1.FUL"));
    EXPECT_EQ(platform::read_whole_file(app_path), "/data/ARCHIVE/STANDARD/R1.FUL");

    // A link in its place is replaced, never written through.
    const std::string outside = root_ + "/outside.txt";
    ASSERT_TRUE(platform::atomic_write_file(outside, "keep"));
    const std::string linked = tmp_ + "/repname.txt";
    ::unlink((tmp_ + "/REPNAME.TXT").c_str());
    ASSERT_EQ(::symlink(outside.c_str(), linked.c_str()), 0);
    ASSERT_TRUE(write_repname(linked, "/x"));
    EXPECT_EQ(platform::read_whole_file(outside), "keep");
    EXPECT_EQ(platform::read_whole_file(linked), "/x");

    // A failure is reported with the file's name.
    const std::string nowhere = root_ + "/no such folder/REPNAME.TXT";
    const Result<void> failed = write_repname(nowhere, "/x");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().message, "Could not write the file: \"" + nowhere + "\"");
}

TEST_F(ChooserFilesTest, TargetsFollowTheRevisionAndTheScreeningSwitch) {
    struct Row {
        bool from_qds;
        double revision;
        std::string unpack;
    };
    const Row rows[] = {
        {false, 8.0, user_root + "/TEMP.CEF"}, {false, 8.006, user_root + "/TEMP.CEF"},
        {false, 7.99, tmp_ + "/GVTEMP.CFR"},   {false, 0.0, tmp_ + "/GVTEMP.CFR"},
        {true, 8.006, tmp_ + "/GVTEMP.CFR"},   {true, 0.0, tmp_ + "/GVTEMP.CFR"},
    };
    for (const Row& row : rows) {
        const CefChooserTargets t = cef_chooser_targets(row.from_qds, row.revision, user_root, tmp_);
        EXPECT_EQ(t.unpack, row.unpack) << row.from_qds << " " << row.revision;
        EXPECT_EQ(t.full, user_root + "/TEMP.FUL");
        EXPECT_EQ(t.partial, user_root + "/TEMP.PRT");
    }
    // Names already there in another case are taken as they are.
    ASSERT_TRUE(create_folder_path(tmp_ + "/gvtemp.cfr"));
    ASSERT_TRUE(create_folder_path(user_root + "/Temp.Ful"));
    const CefChooserTargets t = cef_chooser_targets(true, 9.0, user_root, tmp_);
    EXPECT_EQ(t.unpack, tmp_ + "/gvtemp.cfr");
    EXPECT_EQ(t.full, user_root + "/Temp.Ful");
}

TEST_F(ChooserFilesTest, OtherKindsAreChosenInTheEmptiedUnpackFolder) {
    const std::string folder = report(11, "rec.cef");
    put(targets.unpack + "/STALE.DAT", "old");
    const Result<std::string> chosen = load_compressed_for_choosing(folder, targets, false);
    ASSERT_TRUE(chosen) << chosen.error().message;
    EXPECT_EQ(*chosen, targets.unpack);
    EXPECT_EQ(sorted_names(targets.unpack), unpacked());
    EXPECT_EQ(scripted.shown.size(), 0u);
}

TEST_F(ChooserFilesTest, FullAndPartialRecordingsMoveToTheirOwnNames) {
    for (const std::int32_t kind : {kCefKindFull, kCefKindPartial}) {
        const std::string destination = kind == kCefKindFull ? targets.full : targets.partial;
        put(destination + "/OLD/OLD.DAT", "stale tree");
        const Result<std::string> chosen = load_compressed_for_choosing(report(kind), targets, false);
        ASSERT_TRUE(chosen) << chosen.error().message;
        EXPECT_EQ(*chosen, destination);
        EXPECT_EQ(sorted_names(destination), unpacked()) << kind;
        EXPECT_TRUE(folder_exists(targets.unpack));
        EXPECT_TRUE(sorted_names(targets.unpack).empty());
    }
}

TEST_F(ChooserFilesTest, LinksInTheTemporaryNamesAreReplacedNotFollowed) {
    const std::string outside = root_ + "/outside";
    put(outside + "/KEEP.DAT", "keep");
    ASSERT_EQ(::symlink(outside.c_str(), targets.unpack.c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), targets.full.c_str()), 0);
    const Result<std::string> chosen = load_compressed_for_choosing(report(kCefKindFull), targets, false);
    ASSERT_TRUE(chosen) << chosen.error().message;
    EXPECT_EQ(sorted_names(outside), std::vector<std::string>{"KEEP.DAT"});
    EXPECT_EQ(sorted_names(targets.full), unpacked());
    struct stat st {};
    ASSERT_EQ(::lstat(targets.full.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(ChooserFilesTest, FailuresSayWhyAndLeaveNothingBehind) {
    // No compressed file: a link named like one does not count.
    const std::string empty_folder = root_ + "/ARCHIVE/STANDARD/R2.CEF";
    ASSERT_TRUE(create_folder_path(empty_folder));
    ASSERT_EQ(::symlink((root_ + "/elsewhere.CEF").c_str(), (empty_folder + "/LINK.CEF").c_str()), 0);
    Result<std::string> r = load_compressed_for_choosing(empty_folder, targets, false);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, kChooserNoCef);
    EXPECT_EQ(r.error().message,
              "No Compressed ECG file (*.CEF) can be found in the report folder:\n\"" + empty_folder + "\"");

    // A damaged file.
    const std::string folder = report(11);
    Bytes bad = cef_test::read_bytes(folder + "/REC.CEF");
    bad.back() ^= 0xFF;
    ASSERT_TRUE(cef_test::write_bytes(folder + "/REC.CEF", bad));
    r = load_compressed_for_choosing(folder, targets, false);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, kChooserUnpack);
    EXPECT_EQ(r.error().message, "Invalid checksum in CEF \"" + folder + "/REC.CEF\"");
    EXPECT_FALSE(fs::exists(targets.unpack));

    // The screening product takes neither partial nor other-tape recordings.
    const CefChooserTargets qds = cef_chooser_targets(true, 8.0, user_root, tmp_);
    for (const std::int32_t kind : {kCefKindPartial, kCefKindOtherTape}) {
        r = load_compressed_for_choosing(report(kind), qds, true);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().code, kChooserWrongKind);
        EXPECT_EQ(r.error().message, "Sorry, but you cannot load that kind of report.");
        EXPECT_FALSE(fs::exists(qds.unpack));
        EXPECT_FALSE(fs::exists(targets.partial));
    }

    // A compressed member whose compressor fails, and the question answered Cancel.
    CefBuilder c(11, 1);
    c.block(cef_test::scrambled(format_cef_patient_text({"x"}))).member({}).member({});
    c.member(Bytes{1, 2, 3, 4}, 1).trailer(410, 1, 0);
    ASSERT_TRUE(cef_test::write_bytes(folder + "/REC.CEF", c.finish()));
    scripted.answers = {MsgResult::Cancel};
    r = load_compressed_for_choosing(folder, targets, false, ask_ui);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message, "The SZIP program failed to write an output file.");
    EXPECT_FALSE(fs::exists(targets.unpack));

    // The unpacking folder cannot be made.
    CefChooserTargets blocked = targets;
    ASSERT_TRUE(platform::atomic_write_file(root_ + "/file", "x"));
    blocked.unpack = root_ + "/file/TEMP.CEF";
    r = load_compressed_for_choosing(report(11), blocked, false);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, kChooserNoFolder);
    EXPECT_EQ(r.error().message,
              "Could not create the temporary folder for holding uncompressed CEF files:\n\"" + blocked.unpack + "\"");
}

}  // namespace
}  // namespace tv
