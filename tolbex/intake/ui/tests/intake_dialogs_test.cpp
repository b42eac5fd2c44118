// Patient Details and Default ECG Compression, offscreen.
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include "framework/qt/qt_text.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/intake/cef_settings.h"
#include "tolbex/intake/patient_details.h"
#include "tolbex/intake/ui/intake_dialogs.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv {
namespace {

using uitest::settle;

class IntakeDialogsTest : public uitest::UiRootTest {};

TEST_F(IntakeDialogsTest, DescriptionFollowsTheNameUntilTyped) {
    PatientDetails d;
    gui::PatientDetailsDlg dlg(d);
    dlg.on_init_dialog();
    QLineEdit* name = dlg.field("Patient Name:");
    QLineEdit* description = dlg.field("Description of recording:");
    name->setText(QStringLiteral("Doe Jane"));
    EXPECT_EQ(from_qstring(description->text()), "Doe Jane");
    description->setText(QStringLiteral("Mine"));
    emit description->textEdited(QStringLiteral("Mine"));
    name->setText(QStringLiteral("Doe John"));
    EXPECT_EQ(from_qstring(description->text()), "Mine");
    EXPECT_NE(dlg.field("Transfer Filename:"), nullptr);
    EXPECT_TRUE(dlg.play_button()->isHidden());
    EXPECT_TRUE(dlg.compression_group()->isHidden());  // level -1: no compression group
}

TEST_F(IntakeDialogsTest, OkStoresTheChosenCompressionAndUpperCasesTheTransferName) {
    PatientDetails d;
    d.level = 1;  // shows at position 2
    d.compress = true;
    d.check_changeable = true;
    d.for_mail = true;
    gui::PatientDetailsDlg dlg(d);
    dlg.on_init_dialog();
    EXPECT_EQ(dlg.slider()->value(), 2);
    EXPECT_TRUE(dlg.compress_box()->isEnabled());
    dlg.field("Description of recording:")->setText(QStringLiteral("Holter"));
    dlg.field("Transfer Filename:")->setText(QStringLiteral("abcd1234566"));
    dlg.slider()->setValue(0);
    dlg.compress_box()->setChecked(false);
    dlg.on_ok();
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(d.level, 4);
    EXPECT_FALSE(d.compress);
    EXPECT_EQ(d.description, "Holter");
    EXPECT_EQ(d.recording_id, "ABCD1234566");
    EXPECT_EQ(get_cef_bitred(true), 4);
    EXPECT_FALSE(get_cef_want_comp());
}

// The card's "FAMILY^GIVEN" reads as a person writes it; OK keeps the card's text unless edited.
TEST_F(IntakeDialogsTest, CardNameShownAsAPersonWritesItAndStoredAsItCame) {
    for (const char* typed : {"", "Pellow, Mara Jane"}) {
        SCOPED_TRACE(typed);
        PatientDetails d;
        d.patient_name = "PELLOW^MARA";
        d.description = "Pellow, Mara";
        d.recording_id = "DEMO0000018";
        gui::PatientDetailsDlg dlg(d);
        dlg.on_init_dialog();
        EXPECT_EQ(from_qstring(dlg.field("Patient Name:")->text()), "Pellow, Mara");
        if (*typed) dlg.field("Patient Name:")->setText(QString::fromLatin1(typed));
        dlg.on_ok();
        ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
        EXPECT_EQ(d.patient_name, *typed ? typed : "PELLOW^MARA");
    }
}

// From the keyboard: Tab starts at the patient's name and goes down the dialog to OK, leaving the
// comments; Return in a field takes the details.
TEST_F(IntakeDialogsTest, TheKeyboardGoesDownTheDialogAndReturnTakesTheDetails) {
    PatientDetails d;
    d.level = 1;
    d.description = "Holter";
    d.recording_id = "DEMO0000018";
    gui::PatientDetailsDlg dlg(d);
    dlg.show();
    settle();
    std::vector<QWidget*> order;
    for (QWidget* w = dlg.nextInFocusChain(); w != &dlg && order.size() < 64; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && !w->isHidden()) order.push_back(w);
    ASSERT_GE(order.size(), 19u);
    EXPECT_EQ(order[0], dlg.field("Patient Name:"));
    EXPECT_EQ(order[6], dlg.field("Transfer Filename:"));
    EXPECT_EQ(order[13], dlg.field("Description of recording:"));
    EXPECT_EQ(order[14], dlg.comments());
    EXPECT_EQ(order[15], dlg.compress_box());
    EXPECT_EQ(order[16], dlg.slider());
    auto* ok = qobject_cast<QPushButton*>(order[17]);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->text().contains(QStringLiteral("OK")));
    EXPECT_TRUE(dlg.comments()->tabChangesFocus());
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(dlg.field("Patient ID:"), &enter);
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(d.recording_id, "DEMO0000018");
}

TEST_F(IntakeDialogsTest, OkRefusalsKeepTheDialogOpen) {
    const struct {
        const char* field;
        const char* text;
        std::string title;
    } cases[] = {
        {"Date of Birth:", "1/2/01", "Invalid Date"},
        {"Recording Date:", "2001/02/30", "Invalid Date"},
        {"Transfer Filename:", "ab12", kInvalidTransferNameTitle},
        {"Transfer Filename:", "", kInvalidTransferNameTitle},
        {"Description of recording:", " ", "You must enter a description for the recording."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        scripted.shown.clear();
        PatientDetails d;
        gui::PatientDetailsDlg dlg(d);
        dlg.on_init_dialog();
        dlg.field("Description of recording:")->setText(QStringLiteral("Holter"));
        dlg.field("Transfer Filename:")->setText(QStringLiteral("ABCD1234566"));
        dlg.field(c.field)->setText(QString::fromLatin1(c.text));
        dlg.on_ok();
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].caption, c.title);
        EXPECT_NE(dlg.result(), QDialog::Accepted);
        EXPECT_TRUE(d.description.empty());  // nothing taken back
    }
}

TEST_F(IntakeDialogsTest, DefaultCompressionShowsAndStoresTheLevel) {
    ASSERT_TRUE(set_cef_bitred(false, 1));
    gui::DefaultCompressionDlg dlg;
    dlg.on_init_dialog();
    EXPECT_EQ(dlg.slider()->value(), 2);
    dlg.on_ok();
    EXPECT_EQ(get_cef_bitred(false), 2);
    EXPECT_EQ(get_cef_bitred(true), 4);  // the mail level is the intake dialogs' own
}

}  // namespace
}  // namespace tv
