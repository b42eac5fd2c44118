// The STEMI sheet offscreen: what its controls show and the Apply buttons and the check box
// reaching the records through clicks.
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <gtest/gtest.h>

#include "framework/qt/tests/qt_test_app.h"
#include "tolbex/timi/ui/stemi_sheet_dialog.h"
#include "tolbex/timi/tests/timi_test_support.h"

namespace tv::gui {
namespace {

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

std::string text_of(StemiPageWidget& p, int id) { return p.edit(id)->text().toStdString(); }

class StemiSheetDialogTest : public timi_test::TimiTest {
protected:
    StemiSheetDialogTest() { fw::testing::qt_app(); }
};

TEST_F(StemiSheetDialogTest, ShowsThePagesAndAppliesThroughClicks) {
    TimiData d = timi_test::stemi_table();
    StemiSheetDialog sheet(nullptr, d);
    sheet.show();
    settle();
    EXPECT_EQ(sheet.windowTitle(), "STEMI Measurements");
    ASSERT_EQ(sheet.tabs()->count(), 3);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(sheet.tabs()->tabText(c), QString("Channel %1").arg(c + 1));

    StemiPageWidget& p = sheet.page(0);
    QStringList labels;
    for (auto* g : p.findChildren<QGroupBox*>()) labels << g->title();
    for (auto* l : p.findChildren<QLabel*>()) labels << l->text();
    for (const char* expected :
         {"Peak ST elevation", "Absolute time of peak ST elevation", "Value of peak ST elevation",
          "Measurements from time of peak ST elevation", "Time to 50% of peak value", "Time to 30% of peak value",
          "Time to 10% of peak value", "Time from peak, where less than value for > 4hrs", "<50% of peak value",
          "<30% of peak value", "Slope of ST graph", "At 50% of peak value", "At 30% of peak value",
          "At 10% of peak value", "Measurements from time of drug infusion", "Absolute time of drug infusion"}) {
        EXPECT_TRUE(labels.contains(expected)) << expected;
    }
    const struct {
        int id;
        const char* text;
    } shown[] = {
        {kStemiPeakTime, "(1)10:10:00"},  {kStemiPeakValue, "4.00 mm"},     {kStemiTimeTo50, "00:00:30"},
        {kStemiTimeTo30, "00:10:00"},     {kStemiTimeTo10, "00:20:00"},     {kStemiBelow50For4h, "00:00:30"},
        {kStemiBelow30For4h, "00:10:00"}, {kStemiSlope50, "-0.0833 mm/s"},  {kStemiSlope30, "-0.0167 mm/s"},
        {kStemiSlope10, "-0.0267 mm/s"},  {kStemiInfusionTime, "--:--:--"}, {kStemiInfusionTo50, "--:--:--"},
        {kStemiInfusionTo30, "--:--:--"}, {kStemiInfusionTo10, "--:--:--"},
    };
    for (const auto& s : shown) {
        EXPECT_EQ(text_of(p, s.id), s.text) << s.id;
        EXPECT_EQ(p.edit(s.id)->isReadOnly(), s.id != kStemiInfusionTime) << s.id;
    }
    EXPECT_FALSE(p.operator_edited_box()->isChecked());
    EXPECT_FALSE(p.apply_peak_button()->isEnabled());
    EXPECT_EQ(text_of(sheet.page(1), kStemiPeakTime), "--:--:--");

    // A refused entry: the message, the focus back in the field, nothing changed.
    sheet.tabs()->setCurrentIndex(0);
    sheet.activateWindow();
    p.apply_infusion_button()->setFocus();
    settle();
    p.edit(kStemiInfusionTime)->setText("(1)10:15:15");
    p.apply_infusion_button()->click();
    settle();
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text.rfind("You have entered an invalid time.", 0), 0u);
    EXPECT_TRUE(p.edit(kStemiInfusionTime)->hasFocus());
    EXPECT_EQ(d.stemi[0].infusion_time.status, TimiStatus::Null);
    EXPECT_EQ(text_of(p, kStemiInfusionTo50), "--:--:--");

    p.edit(kStemiInfusionTime)->setText("(1)10:10:00");
    p.apply_infusion_button()->click();
    settle();
    EXPECT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(text_of(p, kStemiInfusionTo50), "00:00:30");
    EXPECT_EQ(text_of(p, kStemiInfusionTo30), "00:10:00");
    EXPECT_EQ(text_of(p, kStemiInfusionTo10), "00:20:00");
    EXPECT_NE(d.stemi[0].text.find("Absolute time of drug infusion : (1)10:10:00\n"), std::string::npos);

    // The check box makes the peak editable and fixes it where the field says.
    p.operator_edited_box()->click();
    settle();
    EXPECT_FALSE(p.edit(kStemiPeakTime)->isReadOnly());
    EXPECT_TRUE(p.apply_peak_button()->isEnabled());
    EXPECT_TRUE(d.stemi[0].peak_fixed);
    p.edit(kStemiPeakTime)->setText("(1)10:20:00");  // row 40, 1.0 mm
    p.apply_peak_button()->click();
    settle();
    EXPECT_EQ(text_of(p, kStemiPeakValue), "1.00 mm");
    EXPECT_EQ(d.stemi[0].fixed_peak_row, 40);
    EXPECT_NE(d.stemi[0].text.find("(1)10:20:00 (operator edited)\n"), std::string::npos);
    EXPECT_EQ(text_of(sheet.page(1), kStemiPeakTime), "--:--:--");
}

TEST_F(StemiSheetDialogTest, RunsModallyThroughTheTestHook) {
    TimiData d = timi_test::stemi_table();
    std::string seen;
    fw::Dialog::set_test_hook([&](fw::Dialog& dlg) {
        auto& sheet = dynamic_cast<StemiSheetDialog&>(dlg);
        seen = text_of(sheet.page(0), kStemiPeakValue);
        sheet.page(0).edit(kStemiInfusionTime)->setText("(1)10:10:00");
        sheet.page(0).apply_infusion_button()->click();
        return int(QDialog::Accepted);
    });
    run_stemi_sheet(nullptr, d);
    fw::Dialog::set_test_hook({});
    EXPECT_EQ(seen, "4.00 mm");
    EXPECT_EQ(format_stemi_span(d.stemi[0].infusion_to[2]), "00:20:00");
}

}  // namespace
}  // namespace tv::gui
