#include <QCheckBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include "common/ui.h"
#include "framework/qt/dialog.h"
#include "framework/qt/tests/qt_test_app.h"

namespace tv::fw {
namespace {

// The rules of a small dialog: a name that must not be blank.
struct NameRules : DialogRules {
    std::string name = "STANDARD";
    int copies = 1;
    bool confirm = true;
    int inits = 0;
    void init() override { ++inits; }
    bool ok() override {
        if (name.find_first_not_of(' ') == std::string::npos) {
            ui().message_box("Please enter a name.", {}, MsgIcon::Warning, MsgButtons::Ok);
            return false;
        }
        return true;
    }
};

class NameDialog : public Dialog {
public:
    explicit NameDialog(NameRules& r) : Dialog(nullptr, &r), rules_(r) {
        edit = new QLineEdit(this);
        count = new QLineEdit(this);
        box = new QCheckBox(this);
    }
    QLineEdit* edit;
    QLineEdit* count;
    QCheckBox* box;

protected:
    void do_data_exchange(DataExchange& dx) override {
        ddx_text(dx, edit, rules_.name, 15);
        ddx_int(dx, count, rules_.copies, 1, 9);
        ddx_check(dx, box, rules_.confirm);
    }

private:
    NameRules& rules_;
};

TEST(Dialog, DataExchangeBothWaysAndRulesDecideOk) {
    testing::qt_app();
    ScriptedUi scripted;
    set_ui(&scripted);
    NameRules rules;
    NameDialog dlg(rules);
    Dialog::set_test_hook([](Dialog& d) {
        auto& nd = static_cast<NameDialog&>(d);
        EXPECT_EQ("STANDARD", nd.edit->text());
        EXPECT_TRUE(nd.box->isChecked());
        nd.edit->setText("   ");
        d.on_ok();  // blank: the rules refuse and the dialog stays
        EXPECT_FALSE(d.result() == QDialog::Accepted);
        nd.count->setText("12");
        nd.edit->setText("A name longer than fifteen");
        d.on_ok();  // out of range: the exchange fails first
        nd.count->setText("3");
        nd.box->setChecked(false);
        d.on_ok();
        return d.result();
    });
    EXPECT_EQ(QDialog::Accepted, dlg.exec_modal());
    Dialog::set_test_hook({});
    set_ui(nullptr);
    EXPECT_EQ(1, rules.inits);
    EXPECT_EQ("A name longer t", rules.name);  // cut to the control's limit
    EXPECT_EQ(3, rules.copies);
    EXPECT_FALSE(rules.confirm);
    ASSERT_EQ(2u, scripted.shown.size());
    EXPECT_EQ("Please enter a name.", scripted.shown[0].text);
    EXPECT_EQ("Please enter an integer between 1 and 9.", scripted.shown[1].text);
}

}  // namespace
}  // namespace tv::fw
