// The card intake from the Recording menu, through the built card program, with another card put
// into the drive while the operator fills in the patient details.
#include <QLineEdit>

#include <cstring>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "common/files.h"
#include "common/registry.h"
#include "framework/qt/qt_text.h"
#include "platform/drives.h"
#include "platform/fs.h"
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

std::map<std::string, std::vector<std::uint8_t>> card_image(const fs::path& folder) {
    std::map<std::string, std::vector<std::uint8_t>> m;
    for (const auto& e : fs::directory_iterator(folder))
        tv::platform::read_whole_file(e.path().string(), m[e.path().filename()]);
    return m;
}

class CardSwapTest : public uitest::BrowserAppTest {
protected:
    void SetUp() override {
        BrowserAppTest::SetUp();
        std::string error;
        ASSERT_TRUE(demo::make_demo_root(&summary, &error)) << error;
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", VOND_PROGRAM));
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", TV_SZIP_PROGRAM));
        ASSERT_TRUE(start_app(/*logging=*/false));
        settle();
    }
    demo::DemoSummary summary;
};

TEST_F(CardSwapTest, AnotherCardAfterThePatientDetailsIsNeitherStoredNorMarked) {
    const std::string archive = (fs::path(summary.group_folders[0]) / "STANDARD").string();
    const std::int32_t before = ReportArchive(archive, "STANDARD").get_count();
    const auto drive = platform::mapped_drive(demo::kDemoCardDrive);
    ASSERT_TRUE(drive);
    const fs::path card = drive->folder;
    std::map<std::string, std::vector<std::uint8_t>> card_b;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        if (auto* details = dynamic_cast<gui::PatientDetailsDlg*>(&d)) {
            // Card B: another patient's details over a recording numbered as card A's was.
            std::vector<std::uint8_t> config;
            EXPECT_TRUE(tv::platform::read_whole_file((card / "config.dat").string(), config));
            std::memset(&config[96], 0, 320);
            std::memcpy(&config[96], "OTHER^PATIENT", 13);
            std::memcpy(&config[256], "X-99", 4);
            EXPECT_TRUE(
                platform::atomic_write_file((card / "config.dat").string(), std::string(config.begin(), config.end())));
            card_b = card_image(card);
            details->field("Transfer Filename:")
                ->setText(to_qstring(std::string(demo::kDemoClinicCode) + "000123" + compute_check_digit("000123")));
            details->field("Description of recording:")->setText("Swapped card");
            details->on_ok();
            return details->result();
        }
        ADD_FAILURE() << "unexpected dialog " << from_qstring(d.windowTitle());
        return int(QDialog::Rejected);
    });
    EXPECT_TRUE(windows->main_frame()->execute_command(menu::kCardStoreInArchive));
    settle();
    fw::Dialog::set_test_hook({});
    ASSERT_FALSE(card_b.empty());
    EXPECT_EQ(card_image(card), card_b);  // card B is not marked as read
    EXPECT_EQ(ReportArchive(archive, "STANDARD").get_count(), before);
    bool told = false;
    for (const auto& m : scripted.shown)
        told = told || m.text.find("A different Ostrabel CF card") != std::string::npos;
    EXPECT_TRUE(told);
}

}  // namespace
}  // namespace tv
