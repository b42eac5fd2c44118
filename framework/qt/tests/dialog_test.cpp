#include <QCheckBox>
#include <QComboBox>
#include <QVBoxLayout>
#include <QLineEdit>

#include <gtest/gtest.h>

#include "common/ui.h"
#include "framework/qt/dialog.h"
#include "framework/qt/tests/qt_test_app.h"
#include "framework/qt/window_helpers.h"

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

// A dialog that fills its box of paths when it is shown.
class PathsDialog : public Dialog {
public:
    explicit PathsDialog(std::vector<QString> items) : Dialog(nullptr), items_(std::move(items)) {
        box = new QComboBox(this);
        field = new QLineEdit(this);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(box);
        layout->addWidget(field);
    }
    QComboBox* box;
    QLineEdit* field;

protected:
    void on_init_dialog() override {
        Dialog::on_init_dialog();
        for (const QString& item : items_) box->addItem(item);
        fit_items_whole(box);
        fit_field_to_text(field);
        field->setText(items_.front());
    }

private:
    std::vector<QString> items_;
};

TEST(Dialog, LongTextsShowWholeOrElidedInTheMiddleWithTheirTooltip) {
    testing::qt_app();
    const QString path = QStringLiteral("/srv/archive/ANALYSE/CARDIOLOGY");
    const QString endless = QStringLiteral("/srv/") + QString(400, QChar('d')) + QStringLiteral("/GROUP-END");
    PathsDialog dlg({path, endless});
    dlg.show();
    const int cap = long_text_width_cap(dlg.box);
    // Filled after the size was taken, the dialog still grows to show the first path whole.
    EXPECT_EQ(dlg.box->itemText(0), path);
    EXPECT_GT(dlg.box->width(), dlg.box->fontMetrics().horizontalAdvance(path));
    EXPECT_GT(dlg.field->width(), dlg.field->fontMetrics().horizontalAdvance(path));
    EXPECT_EQ(dlg.field->toolTip(), path);
    // One longer than half the screen: both of its ends shown, the whole in its tooltip.
    const QString shown = dlg.box->itemText(1);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/srv/")) && shown.endsWith(QStringLiteral("/GROUP-END")))
        << shown.toStdString();
    EXPECT_LE(dlg.box->fontMetrics().horizontalAdvance(shown), cap);
    EXPECT_EQ(dlg.box->itemData(1, Qt::ToolTipRole).toString(), endless);
    EXPECT_EQ(dlg.box->toolTip(), path);
    dlg.box->setCurrentIndex(1);
    EXPECT_EQ(dlg.box->toolTip(), endless);
    dlg.hide();
}

}  // namespace
}  // namespace tv::fw
