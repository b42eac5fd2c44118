#include "tolbex/browser/ui/choose_archive_dialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/browser/app_commands.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/browser/ui/archive_dialogs_ui.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"

namespace tv::gui {
namespace {

std::string device_dat_or_default(const std::string& path) {
    if (!path.empty()) return path;
    if (CTolbexApp* app = CTolbexApp::current()) return app->device_dat_path();
    return {};
}

std::string default_create_group() {
    CTolbexApp* app = CTolbexApp::current();
    if (!app) return {};
    const std::string folder = fw::browse_for_folder("Select or create a folder for the new archive group:", "");
    if (folder.empty()) return {};
    return create_archive_group(
        folder, app->archive_config(), [](const std::string& path) { return open_archive_group(path) != nullptr; },
        ui());
}

}  // namespace

ChooseArchiveDlg::ChooseArchiveDlg(bool mail_mode, QWidget* parent, const std::string& device_dat_path)
    : fw::Dialog(parent),
      rules_(mail_mode, device_dat_or_default(device_dat_path), open_group_folders()),
      folder_(new QComboBox(this)),
      archive_(new QComboBox(this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)),
      create_group_(default_create_group) {
    folder_->setObjectName(QStringLiteral("1023"));
    archive_->setObjectName(QStringLiteral("1022"));
    archive_->setEditable(true);
    archive_->setInsertPolicy(QComboBox::NoInsert);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Choose Destination Archive:"), this));
    auto* form = new QFormLayout();
    form->addRow(QStringLiteral("Folder:"), folder_);
    form->addRow(QStringLiteral("Archive:"), archive_);
    layout->addLayout(form);
    layout->addWidget(
        new QLabel(QStringLiteral(
                       "Select a folder/archive from the list above, or you can:\n* Create a new archive by typing a "
                       "new archive name above.\n* Create a new archive group by clicking on \"Create\".\n* Locate "
                       "an existing archive group by clicking on \"Locate\"."),
                   this));
    auto* row = new QHBoxLayout();
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* locate = new QPushButton(QStringLiteral("Locate..."), this);
    auto* create = new QPushButton(QStringLiteral("Create..."), this);
    ok_->setDefault(true);
    row->addWidget(ok_);
    row->addWidget(cancel);
    row->addWidget(locate);
    row->addWidget(create);
    layout->addLayout(row);
    connect(ok_, &QPushButton::clicked, this, [this] { accept(); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(locate, &QPushButton::clicked, this, [this] { on_locate(); });
    connect(create, &QPushButton::clicked, this, [this] { on_create(); });
    connect(folder_, &QComboBox::activated, this, [this](int index) {
        fw::WaitCursor wait;
        rules_.select_folder(index, 0);
        show_rules();
    });
    connect(archive_, &QComboBox::editTextChanged, this, [this](const QString&) { update_ok(); });
}

ChooseArchiveDlg::~ChooseArchiveDlg() = default;

void ChooseArchiveDlg::set_caption(const std::string& caption) {
    rules_.set_caption(caption);
    setWindowTitle(to_qstring(caption));
}

void ChooseArchiveDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    setWindowTitle(to_qstring(rules_.caption()));
    show_rules();
}

void ChooseArchiveDlg::show_rules() {
    const QSignalBlocker block_folder(folder_);
    const QSignalBlocker block_archive(archive_);
    folder_->clear();
    for (const auto& f : rules_.folders()) folder_->addItem(qstring_from_path(f));
    if (rules_.folder_selection() >= 0) folder_->setCurrentIndex(rules_.folder_selection());
    fw::fit_items_whole(folder_);
    archive_->clear();
    for (const auto& n : rules_.archive_names()) archive_->addItem(to_qstring(n));
    if (rules_.archive_selection() >= 0) archive_->setCurrentIndex(rules_.archive_selection());
    archive_->setEnabled(rules_.archive_list_enabled());
    update_ok();
}

void ChooseArchiveDlg::update_ok() { ok_->setEnabled(rules_.ok_enabled(from_qstring(archive_->currentText()))); }

void ChooseArchiveDlg::on_locate() {
    const std::string path = choose_archive_file(this, true);
    if (!path.empty()) {
        rules_.locate(path);
        show_rules();
    }
    raise();
    activateWindow();
}

void ChooseArchiveDlg::on_create() {
    const std::string folder = create_group_ ? create_group_() : std::string();
    if (!folder.empty()) {
        rules_.add_group_folder(folder);
        show_rules();
    }
    raise();
    activateWindow();
}

void ChooseArchiveDlg::on_ok() {
    if (!ok_->isEnabled()) return;
    if (!rules_.ok(from_qstring(archive_->currentText()), ui())) return;
    fw::Dialog::on_ok();
}

}  // namespace tv::gui
