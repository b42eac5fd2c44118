// A card read that an earlier run left kept (killed between the card program's read and the store)
// is offered as soon as the program starts, and from there it goes into the archive the operator
// chooses, through Patient Details.
#include <QCheckBox>
#include <QLineEdit>

#include <filesystem>

#include <gtest/gtest.h>

#include "common/registry.h"
#include "framework/qt/qt_text.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tests/browser_app_fixture.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/intake/ui/intake_dialogs.h"
#include "tools/demo/demo_recordings.h"
#include "tools/demo/demo_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class KeptReadStartTest : public uitest::BrowserAppTest {
protected:
    void SetUp() override {
        BrowserAppTest::SetUp();
        std::string error;
        ASSERT_TRUE(demo::make_demo_root(&summary, &error)) << error;
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", VOND_PROGRAM));
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", TV_SZIP_PROGRAM));
    }
    demo::DemoSummary summary;
};

TEST_F(KeptReadStartTest, AReadLeftByAKilledRunIsOfferedAtStartAndStored) {
    // What a run killed right after the card program's read leaves: the read and its record.
    const fs::path files = fs::path(platform::user_dir()) / "intake" / "20260101-101010-abcdef" / "files";
    fs::create_directories(files);
    const std::string dir = "/dir=" + files.string();
    ASSERT_EQ(run_card_program(VOND_PROGRAM, {dir, "/readpat=cnav"}, false), 0);
    ASSERT_EQ(run_card_program(VOND_PROGRAM, {dir, "/duration=200", "/readecg=hide", "/opformat=archive"}, false), 0);
    ASSERT_TRUE(fs::exists(files / "ECGREAD.DAT"));
    const auto rawecg1 = fs::file_size(files / "rawecg1.dat");

    const std::string archive = (fs::path(summary.group_folders[0]) / "STANDARD").string();
    const std::int32_t before = ReportArchive(archive, "STANDARD").get_count();
    int offered = 0;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        if (auto* details = dynamic_cast<gui::PatientDetailsDlg*>(&d)) {
            details->compress_box()->setChecked(false);
            details->field("Transfer Filename:")
                ->setText(to_qstring(std::string(demo::kDemoClinicCode) + "000124" + compute_check_digit("000124")));
            details->field("Description of recording:")->setText("Kept read");
            details->on_ok();
            return details->result();
        }
        ADD_FAILURE() << "unexpected dialog " << from_qstring(d.windowTitle());
        return int(QDialog::Rejected);
    });
    ASSERT_TRUE(start_app(/*logging=*/false));
    // The start posted the offer; the operator's answers stand in for the windows.
    IntakeWindowing w = intake_windowing();
    w.kept_read_choice = [&](const KeptRead& k) {
        ++offered;
        EXPECT_EQ(k.folder, files.parent_path().string());
        return KeptReadChoice::Store;
    };
    w.choose_archive = [&](const std::string&) { return archive; };
    set_intake_windowing(std::move(w));
    settle();
    fw::Dialog::set_test_hook({});
    EXPECT_EQ(offered, 1);
    for (const auto& m : scripted.shown) ADD_FAILURE() << "told: " << m.text;
    ReportArchive a(archive, "STANDARD");
    ASSERT_EQ(a.get_count(), before + 1);
    const fs::path report = fs::path(archive) / a.get_record(before)->get_name();
    EXPECT_EQ(a.get_record(before)->get_description(), "Kept read");
    EXPECT_EQ(fs::file_size(*platform::find_name_ci(report.string(), "RAWECG1.DAT")), rawecg1);
    EXPECT_FALSE(platform::find_name_ci(report.string(), "ECGREAD.DAT"));
    EXPECT_FALSE(fs::exists(files.parent_path()));
    EXPECT_TRUE(kept_reads().empty());
}

}  // namespace
}  // namespace tv
