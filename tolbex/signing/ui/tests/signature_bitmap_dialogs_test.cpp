#include "tolbex/signing/ui/signature_bitmap_dialogs.h"

#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include "framework/qt/qt_text.h"
#include "framework/qt/tests/qt_test_app.h"
#include "platform/fs.h"
#include "testing/pam_test_config.h"
#include "tolbex/signing/signature_bitmaps.h"
#include "tolbex/signing/tests/bmp_fixture.h"

namespace tv::gui {
namespace {

using Texts = std::vector<std::string>;

class SignatureBitmapDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fw::testing::qt_app();
        set_ui(&scripted);
        fw::Dialog::set_test_hook([this](fw::Dialog& d) {
            auto* edit = dynamic_cast<EditSignatureDlg*>(&d);
            if (!edit || answer.empty()) return int(QDialog::Rejected);
            titles.push_back(edit->windowTitle().toStdString());
            if (edit->name_edit()->isEnabled()) edit->name_edit()->setText(to_qstring(answer[0]));
            edit->path_edit()->setText(to_qstring(answer[1]));
            edit->on_ok();
            return edit->result();
        });
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        set_ui(nullptr);
    }
    std::string bitmap(const std::string& name, int width) {
        const std::string path = root / name;
        EXPECT_TRUE(platform::atomic_write_file(path, signing::testing::make_bmp(width, 4)));
        return path;
    }
    std::string list_file() {
        return platform::read_whole_file(signing::signature_bitmap_folder() + "/signatures.dat").value_or("<none>");
    }
    Texts messages() {
        Texts out;
        for (const auto& s : scripted.shown) out.push_back(s.text);
        scripted.shown.clear();
        return out;
    }

    platform::testing::TempRoot root;
    ScriptedUi scripted;
    Texts answer;  // logon name, bitmap path for the Add/Change dialog; empty cancels it
    Texts titles;
    const std::string me = testing_pam::current_logon_name();
};

TEST_F(SignatureBitmapDialogsTest, AddChangeAndDeleteKeepTheListFile) {
    EditSignatureBitmapsDlg dialog;
    dialog.on_init_dialog();
    EXPECT_EQ(dialog.names_box()->count(), 0);
    const std::string first = bitmap("first.bmp", 32), second = bitmap("second.bmp", 64);

    answer = {me, first};
    dialog.on_add();
    EXPECT_EQ(list_file(), "\"" + me + "\" first.bmp\r\n");
    EXPECT_EQ(dialog.preview_path(), signing::signature_bitmap_path("first.bmp"));
    EXPECT_EQ(signing::find_signature_bitmap(me), signing::signature_bitmap_path("first.bmp"));

    answer = {"ignored: the name cannot be changed", second};
    dialog.on_change();
    EXPECT_EQ(list_file(), "\"" + me + "\" second.bmp\r\n");
    EXPECT_EQ(titles, (Texts{"Add New User Signature BMP", "Edit User Signature BMP"}));
    EXPECT_TRUE(messages().empty());

    // Opened again, the dialog lists what was saved.
    EditSignatureBitmapsDlg again;
    again.on_init_dialog();
    ASSERT_EQ(again.names_box()->count(), 1);
    scripted.answers = {MsgResult::No, MsgResult::Yes};
    again.on_delete();
    EXPECT_EQ(again.names_box()->count(), 1);
    again.on_delete();
    EXPECT_EQ(again.names_box()->count(), 0);
    EXPECT_EQ(list_file(), "");
    EXPECT_TRUE(platform::read_whole_file(signing::signature_bitmap_path("second.bmp"))) << "the bitmap stays";
    const std::string question = "Are you sure you want to remove the signature BMP for " + me + " ?";
    EXPECT_EQ(messages(), (Texts{question, question}));
    again.on_delete();
    EXPECT_EQ(messages(), (Texts{"Please select the user whose signature BMP you want to delete."}));
}

TEST_F(SignatureBitmapDialogsTest, AddRefusesWhatCannotBeUsed) {
    EditSignatureBitmapsDlg dialog;
    dialog.on_init_dialog();
    const std::string good = bitmap("good.bmp", 32);
    ASSERT_TRUE(platform::atomic_write_file(root / "fake.bmp", "not a bitmap"));
    answer = {me, good};
    dialog.on_add();
    messages();
    struct Case {
        Texts answer;
        std::string message;
    };
    const Case cases[] = {
        {{"no-such-account-here", good}, kInvalidUserText},
        {{"", good}, kInvalidUserText},
        {{me, ""}, kNoBitmapNameText},
        {{me, root / "missing.bmp"}, "Unable to find signature BMP file : " + root / "missing.bmp"},
        {{me, good}, kUserHasBitmapText},
        {{"root" == me ? "daemon" : "root", root / "fake.bmp"}, kNotABmpText},
    };
    for (const Case& c : cases) {
        answer = c.answer;
        dialog.on_add();
        EXPECT_EQ(messages(), (Texts{c.message})) << c.answer[0] << " " << c.answer[1];
    }
    EXPECT_EQ(list_file(), "\"" + me + "\" good.bmp\r\n");
}

}  // namespace
}  // namespace tv::gui
