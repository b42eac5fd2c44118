// vond's dialogs, offscreen, driven through the dialog test hook and the scripted prompter.
#include <cstdlib>
#include <filesystem>

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include "common/ui.h"
#include "platform/drives.h"
#include "vond/program.h"
#include "tools/cardgen/card_builder.h"
#include "vond/messages.h"
#include "vond/ui/tests/vond_ui_test.h"
#include "vond/ui/vond_windows.h"

namespace {

namespace fs = std::filesystem;

class VondDialogTest : public tv::vond::test::VondUiTest {
protected:
    static void click(tv::fw::Dialog& d, const char* name) {
        auto* b = d.findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(b, nullptr);
        b->click();
    }
    tv::vond::CardDisk disk;
};

TEST_F(VondDialogTest, CardDialogExitLeavesWithoutInitialising) {
    tv::vond::CardDialogRules rules(disk, t.string());
    tv::vond::QtVondWindows w;
    EXPECT_TRUE(w.available());
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        click(d, "exit");
        return d.result();
    });
    EXPECT_EQ(w.show_card_dialog(rules), 1);
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(VondDialogTest, CardDialogWithoutADriveAsksForOne) {
    tv::vond::CardDialogRules rules(disk, t.string());
    rules.name = "DOE^JOHN";
    tv::vond::QtVondWindows w;
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        click(d, "initialiseCard");
        click(d, "exit");
        return d.result();
    });
    EXPECT_EQ(w.show_card_dialog(rules), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, tv::vond::message_text(132));
    EXPECT_EQ(rules.name, "DOE^JOHN");  // the edit round-trips the value
}

TEST_F(VondDialogTest, ReadDialogWithoutACardSaysSo) {
    tv::vond::ReadDialogRules rules(disk, t.string());
    rules.automatic = false;
    tv::vond::QtVondWindows w;
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        click(d, "readPatient");
        click(d, "exit");
        return d.result();
    });
    EXPECT_EQ(w.show_read_dialog(rules, 8, '?'), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, tv::vond::message_text(131));
}

// The stand-alone read as a user does it: "Read ECG Data", then "Exit". The whole recording is
// read before the card is marked.
TEST_F(VondDialogTest, StandAloneReadEcgDataReadsTheRecordingBeforeMarkingTheCard) {
    const fs::path card = t / "E", out = t / "out";
    fs::create_directories(out);
    cardgen::StartInfo st;
    std::vector<cardgen::Sector> ecg = {cardgen::start_sector(st)};
    for (int k = 0; k < 10; ++k) {
        cardgen::DataSector d;
        for (auto [c, i] : cardgen::value_order(false)) d.values.push_back(1 + (k * 128 + i + c) % 1000);
        ecg.push_back(cardgen::data_sector(d));
    }
    ecg.push_back(cardgen::Sector{});
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "DOE", "1"), 1024, ecg);
    tv::platform::MappedDrive drive;
    drive.letter = 'E';
    drive.folder = card.string();
    drive.label = "QUX_CFR";
    drive.kind = tv::platform::DriveKind::Removable;
    ASSERT_TRUE(tv::platform::map_drive(drive));
    tv::vond::QtVondWindows w;
    tv::vond::set_windows(&w);
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        click(d, "readEcg");
        click(d, "exit");
        return d.result();
    });
    EXPECT_EQ(tv::vond::run_vond({"/readpat=stand", "/dir=" + out.string(), "/cal=0"}), 114);
    tv::vond::set_windows(nullptr);
    cardgen::Bytes raw = cardgen::read_bytes(out / "rawecg1.dat");
    ASSERT_EQ(raw.size(), 2u * 153600u);
    for (int n = 0; n < 1280; ++n)
        ASSERT_EQ(tv::load_le16(&raw[2 * static_cast<std::size_t>(n)]), 4 * (1 + n % 1000)) << n;
    EXPECT_EQ(tv::load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), 6u);
    bool done = false;
    for (auto& m : scripted.shown) done = done || m.text == tv::vond::message_text(135);
    EXPECT_TRUE(done);
}

// The bar of the progress dialog that shows, as the user sees it.
QProgressBar* shown_bar(const char* dialog) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(dialog) && w->isVisible())
            return w->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    return nullptr;
}

TEST_F(VondDialogTest, ProgressDialogsKeepTheirRanges) {
    tv::vond::QtVondWindows w;
    // Reading counts in 16 bits: a larger range is clamped, never wrapped, and so is the position.
    auto p = w.open_progress(false);
    p->set_range(100000);
    p->set_position(70000);
    QProgressBar* read = shown_bar("readProgress");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->maximum(), 0xFFFF);
    EXPECT_EQ(read->value(), 0xFFFF);
    p->set_range(1000);
    EXPECT_EQ(read->value(), 1000);
    // Conditioning counts the millions of sectors of a card as they are.
    auto q = w.open_progress(true);
    q->set_range(5000000);
    q->set_position(4000000);
    QProgressBar* conditioning = shown_bar("conditionProgress");
    ASSERT_NE(conditioning, nullptr);
    EXPECT_EQ(conditioning->maximum(), 5000000);
    EXPECT_EQ(conditioning->value(), 4000000);
    q->set_position(6000000);
    EXPECT_EQ(conditioning->value(), 5000000);
}

}  // namespace
