#include "tolbex/browser/ui/archive_dialogs_ui.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "common/ui.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/app/tolbex_app.h"

namespace tv::gui {
namespace {

ArchiveFileHook& archive_file_hook() {
    static ArchiveFileHook hook;
    return hook;
}

// Archive names are texts; group folders are paths.
enum class Items { Texts, Paths };

void fill_combo(QComboBox* combo, const std::vector<std::string>& items, int selection, Items kind = Items::Texts) {
    combo->clear();
    for (const auto& item : items) combo->addItem(kind == Items::Paths ? qstring_from_path(item) : to_qstring(item));
    if (selection >= 0 && selection < combo->count()) combo->setCurrentIndex(selection);
}

QDialogButtonBox* add_ok_cancel(QDialog* dialog, QVBoxLayout* layout) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return buttons;
}

}  // namespace

void set_archive_file_hook(ArchiveFileHook hook) { archive_file_hook() = std::move(hook); }

std::string choose_archive_file(QWidget* parent, bool open_mode) {
    for (;;) {
        std::string path;
        if (archive_file_hook()) {
            path = archive_file_hook()(open_mode);
        } else {
            QFileDialog dialog(parent ? parent : fw::active_or_main_window());
            dialog.setAcceptMode(open_mode ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
            dialog.setFileMode(open_mode ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
            dialog.setNameFilter(QStringLiteral("Archive Directory File (ARCHDIR.DAT archdir.dat)"));
            dialog.setDefaultSuffix(QStringLiteral("DAT"));
            dialog.selectFile(QStringLiteral("ARCHDIR.DAT"));
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
            path = path_from_qstring(dialog.selectedFiles().front());
        }
        if (path.empty()) return {};
        if (accept_archive_file(path, ui())) return path;
    }
}

const ArchiveConfigList& current_archive_config() {
    if (CTolbexApp* app = CTolbexApp::current()) return app->archive_config();
    static const ArchiveConfigList empty;
    return empty;
}

// --- ArchiveListDlg

ArchiveListDlg::ArchiveListDlg(const ArchiveConfigList& config, QWidget* parent)
    : fw::Dialog(parent), rules_(config), combo_(new QComboBox(this)) {
    setWindowTitle(QStringLiteral("Open Archive from a list"));
    combo_->setObjectName(QStringLiteral("1026"));
    // Wide enough for the longest path listed (up to the screen), and never a stub.
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo_->setMinimumWidth(combo_->fontMetrics().averageCharWidth() * 48);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Select the Archive to open:"), this));
    layout->addWidget(combo_);
    add_ok_cancel(this, layout);
}

ArchiveListDlg::~ArchiveListDlg() = default;

void ArchiveListDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    fill_combo(combo_, rules_.folders(), rules_.initial_selection(), Items::Paths);
    adjustSize();
}

void ArchiveListDlg::on_ok() {
    rules_.ok(path_from_qstring(combo_->currentText()));
    fw::Dialog::on_ok();
}

// --- NewArchiveDlg

NewArchiveDlg::NewArchiveDlg(const ArchiveConfigList& config, const std::vector<std::string>& open_group_folders,
                             QWidget* parent)
    : fw::Dialog(parent),
      rules_(config, open_group_folders),
      folder_(new QComboBox(this)),
      archive_(new QComboBox(this)) {
    setWindowTitle(QStringLiteral("Creating a New Archive"));
    folder_->setObjectName(QStringLiteral("1024"));
    archive_->setObjectName(QStringLiteral("1025"));
    archive_->setEditable(true);
    archive_->setInsertPolicy(QComboBox::NoInsert);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    form->addRow(QStringLiteral("Folder:"), folder_);
    form->addRow(QStringLiteral("New Archive:"), archive_);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("The drop-down list above shows the existing archives.\nType a new "
                                                "archive name that is different from any in the list."),
                                 this));
    add_ok_cancel(this, layout);
    connect(folder_, &QComboBox::currentIndexChanged, this, [this](int) { fill_archives(); });
}

NewArchiveDlg::~NewArchiveDlg() = default;

void NewArchiveDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    const QSignalBlocker block(folder_);
    fill_combo(folder_, rules_.folders(), rules_.folders().empty() ? -1 : 0, Items::Paths);
    fill_archives();
}

void NewArchiveDlg::fill_archives() {
    fw::WaitCursor wait;
    const std::string folder = path_from_qstring(folder_->currentText());
    const std::vector<std::string> names = folder.empty() ? std::vector<std::string>{} : rules_.archive_names(folder);
    fill_combo(archive_, names, names.empty() ? -1 : 0);
}

void NewArchiveDlg::on_ok() {
    if (!rules_.ok(path_from_qstring(folder_->currentText()), from_qstring(archive_->currentText()), ui())) {
        archive_->setFocus();
        return;
    }
    fw::Dialog::on_ok();
}

// --- DeleteArchiveDlg

DeleteArchiveDlg::DeleteArchiveDlg(const BrowserListCore& doc, QWidget* parent)
    : fw::Dialog(parent), rules_(doc), combo_(new QComboBox(this)) {
    setWindowTitle(QStringLiteral("Delete Archive"));
    combo_->setObjectName(QStringLiteral("1021"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(combo_);
    layout->addWidget(new QLabel(QStringLiteral("Select the archive to delete.\nWarning! This will irrevocably delete "
                                                "the archive and all the reports in it."),
                                 this));
    add_ok_cancel(this, layout);
}

DeleteArchiveDlg::~DeleteArchiveDlg() = default;

void DeleteArchiveDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    fill_combo(combo_, rules_.names(), rules_.initial_selection());
}

void DeleteArchiveDlg::on_ok() {
    if (!rules_.ok(combo_->currentIndex())) {
        reject();
        return;
    }
    fw::Dialog::on_ok();
}

}  // namespace tv::gui
