#include "tolbex/app/import_reports.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "formats/transfer_file.h"
#include "testing/app_test_root.h"
#include "tolbex/app/tolbex_strings.h"
#include "testing/test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::testing::sorted_names;
using testing_root::write_file;

class ImportReportsTest : public testing_root::RootTest {
protected:
    ImportReportsTest() : RootTest(TmpDir::Inside) {}
    void SetUp() override {
        RootTest::SetUp();
        register_tolbex_strings();
        const fs::path src = t / "src";
        fs::create_directories(src);
        write_file(src / "REPINFO.TXT", format_repinfo_text("Mailed Holter", 510, 1196690709, 4321));
        write_file(src / "DATA.BIN", "payload");
        for (const char* name : {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"})
            write_file(src / name, "part of a full report");
        tvz = t / "in.TVZ";
        ASSERT_EQ(pack_transfer_file({(src / "*.*").string()}, tvz.string()), 0);
        archive = t / "G" / "A";
        fs::create_directories(archive);
    }
    void TearDown() override {
        set_import_windowing({});
        RootTest::TearDown();
    }
    fs::path tvz, archive;
};

TEST_F(ImportReportsTest, UnwrittenIndexLeavesNoReportFolderBehind) {
    fs::create_directories(archive / "ARCHINFO.DAT");  // cannot be appended to
    EXPECT_EQ(import_transfer_file(tvz.string(), archive.string(), false), kImportStoreFailed);
    EXPECT_EQ(sorted_names(archive), (std::vector<std::string>{".TVINDEX.LCK", "ARCHINFO.DAT"}));  // and its lock
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
}

TEST_F(ImportReportsTest, InteractiveImportWaitsThenAnnouncesTheStoredReport) {
    std::vector<bool> waits;
    std::vector<std::string> stored;
    ImportWindowing w;
    w.choose_archive = [&](const std::string&) { return archive.string(); };
    w.wait = [&](bool unpacking) -> std::shared_ptr<void> {
        waits.push_back(unpacking);
        return nullptr;
    };
    w.stored = [&](const std::string& folder) { stored.push_back(folder); };
    set_import_windowing(std::move(w));

    EXPECT_EQ(receive_mailed_report(tvz.string()), MailReceipt::kStored);
    EXPECT_EQ(waits, std::vector<bool>{true});
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(fs::path(stored[0]).parent_path(), archive);
    EXPECT_TRUE(fs::exists(fs::path(stored[0]) / "DATA.BIN"));
    EXPECT_TRUE(scripted.shown.empty());

    // Without windows nothing is asked and nothing stored.
    set_import_windowing({});
    const auto before = sorted_names(archive);
    EXPECT_EQ(receive_mailed_report(tvz.string()), MailReceipt::kNoWindow);
    EXPECT_EQ(sorted_names(archive), before);
}

}  // namespace
}  // namespace tv
