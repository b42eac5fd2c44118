#include "tolbex/signing/ui/signature_bitmap_dialogs.h"

#include <algorithm>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/qt/qt_text.h"
#include "platform/account.h"
#include "tolbex/signing/crypto.h"
#include "tolbex/signing/signature_bitmaps.h"

namespace tv::gui {
namespace {

QPushButton* button(QWidget* parent, const char* text, const char* id) {
    auto* b = new QPushButton(QString::fromLatin1(text), parent);
    b->setObjectName(QString::fromLatin1(id));
    return b;
}

bool has_bmp_extension(const std::string& path) {
    const std::string name = get_path_file_name(path);
    return name.size() > 4 && to_lower_copy(name.substr(name.size() - 4)) == ".bmp";
}

}  // namespace

// --- EditSignatureDlg

EditSignatureDlg::EditSignatureDlg(bool adding, std::vector<std::string> known_names, QWidget* parent)
    : fw::Dialog(parent),
      adding_(adding),
      known_(std::move(known_names)),
      name_(new QLineEdit(this)),
      path_(new QLineEdit(this)) {
    name_->setObjectName(QStringLiteral("1561"));
    path_->setObjectName(QStringLiteral("1562"));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("User logon name"), name_);
    auto* row = new QHBoxLayout;
    row->addWidget(path_);
    QPushButton* browse = button(this, "Browse...", "1563");
    connect(browse, &QPushButton::clicked, this, [this] { on_browse(); });
    row->addWidget(browse);
    form->addRow(QStringLiteral("Signature BMP filename"), row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

std::string EditSignatureDlg::logon_name() const { return from_qstring(name_->text()); }
std::string EditSignatureDlg::bitmap_path() const { return path_from_qstring(path_->text()); }

void EditSignatureDlg::set_values(const std::string& logon_name, const std::string& bitmap_path) {
    name_->setText(to_qstring(logon_name));
    path_->setText(qstring_from_path(bitmap_path));
}

void EditSignatureDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    setWindowTitle(adding_ ? QStringLiteral("Add New User Signature BMP") : QStringLiteral("Edit User Signature BMP"));
    name_->setEnabled(adding_);
    name_->setFocus();
}

void EditSignatureDlg::on_browse() {
    const std::string current = bitmap_path();
    const std::string start = current.empty() ? get_module_folder() : get_path_folder(current);
    std::string chosen;
    QFileDialog dialog(this, QStringLiteral("Choose Signature BMP File"), qstring_from_path(start));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Bitmap files (*.bmp *.BMP)"));
    dialog.setDefaultSuffix(QStringLiteral("BMP"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        chosen = path_from_qstring(dialog.selectedFiles().front());
    if (chosen.empty()) return;
    if (!has_bmp_extension(chosen)) {
        show_error(kNotABmpText);
        return;
    }
    path_->setText(qstring_from_path(chosen));
}

void EditSignatureDlg::on_ok() {
    const std::string name = logon_name(), path = bitmap_path();
    if (!platform::account_full_name(name)) {
        show_error(kInvalidUserText);
        name_->setFocus();
        return;
    }
    if (path.empty()) {
        show_error(kNoBitmapNameText);
        return;
    }
    if (!file_exists(path)) {
        show_error(signing::with_text(kBitmapNotFoundText, path));
        return;
    }
    if (adding_ && std::find(known_.begin(), known_.end(), name) != known_.end()) {
        show_error(kUserHasBitmapText);
        name_->setFocus();
        return;
    }
    // Only a plain BMP can be packed and printed.
    if (!signing::signature_bitmap_readable(path)) {
        show_error(kNotABmpText);
        return;
    }
    fw::Dialog::on_ok();
}

// --- EditSignatureBitmapsDlg

EditSignatureBitmapsDlg::EditSignatureBitmapsDlg(QWidget* parent)
    : fw::Dialog(parent), names_(new QComboBox(this)), preview_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Edit Signature Bitmaps"));
    names_->setObjectName(QStringLiteral("1559"));
    preview_->setObjectName(QStringLiteral("1560"));
    preview_->setFrameShape(QFrame::Box);
    preview_->setFixedSize(256, 64);
    preview_->setScaledContents(true);
    preview_->setStyleSheet(QStringLiteral("background: white"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Logon Name"), names_);
    layout->addLayout(form);
    layout->addWidget(preview_);
    auto* row = new QHBoxLayout;
    QPushButton* add = button(this, "Add", "1556");
    QPushButton* change = button(this, "Change", "1557");
    QPushButton* remove = button(this, "Delete", "1558");
    connect(add, &QPushButton::clicked, this, [this] { on_add(); });
    connect(change, &QPushButton::clicked, this, [this] { on_change(); });
    connect(remove, &QPushButton::clicked, this, [this] { on_delete(); });
    row->addWidget(add);
    row->addWidget(change);
    row->addWidget(remove);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    connect(names_, &QComboBox::activated, this, [this](int index) { select(index); });
}

std::vector<std::string> EditSignatureBitmapsDlg::names() const {
    std::vector<std::string> out;
    for (int i = 0; i < names_->count(); ++i) out.push_back(from_qstring(names_->itemText(i)));
    return out;
}

void EditSignatureBitmapsDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    names_->clear();
    files_.clear();
    for (const signing::SignatureBitmapEntry& e : signing::read_signature_list()) files_[e.logon_name] = e.file_name;
    for (const auto& [name, file] : files_) names_->addItem(to_qstring(name));
    if (names_->count() > 0) select(0);
}

void EditSignatureBitmapsDlg::select(int index) {
    names_->setCurrentIndex(index);
    preview_->clear();
    preview_path_.clear();
    if (index < 0 || index >= names_->count()) return;
    preview_path_ = signing::signature_bitmap_path(files_[from_qstring(names_->itemText(index))]);
    QImage image;
    if (!file_exists(preview_path_)) {
        show_error(signing::with_text(signing::kBitmapOpenFailedText, preview_path_));
    } else if (image.load(QString::fromStdString(preview_path_), "BMP")) {
        preview_->setPixmap(QPixmap::fromImage(image.convertToFormat(QImage::Format_Mono)));
    }
}

void EditSignatureBitmapsDlg::add_or_change(bool adding) {
    EditSignatureDlg edit(adding, names(), this);
    const int current = names_->currentIndex();
    if (!adding) {
        if (current < 0) return;
        const std::string name = from_qstring(names_->itemText(current));
        edit.set_values(name, signing::signature_bitmap_path(files_[name]));
    }
    if (edit.exec_modal() != QDialog::Accepted) return;
    const std::string name = edit.logon_name();
    std::vector<signing::SignatureBitmapEntry> entries;
    for (const auto& [n, f] : files_) entries.push_back({n, f});
    const Result<std::string> stored = signing::store_signature_bitmap(edit.bitmap_path(), name, entries);
    if (!stored) {
        show_error(stored.error().message);
        return;
    }
    files_[name] = *stored;
    if (names_->findText(to_qstring(name), Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        // Kept in order, as the list file is.
        const std::vector<std::string> all = names();
        const int at = static_cast<int>(std::lower_bound(all.begin(), all.end(), name) - all.begin());
        names_->insertItem(at, to_qstring(name));
    }
    select(names_->findText(to_qstring(name), Qt::MatchExactly | Qt::MatchCaseSensitive));
    save();
}

void EditSignatureBitmapsDlg::on_delete() {
    const int current = names_->currentIndex();
    if (current < 0) {
        ui().message_box(kSelectUserToDeleteText, {}, MsgIcon::Information, MsgButtons::Ok);
        return;
    }
    const std::string name = from_qstring(names_->itemText(current));
    if (ui().message_box(signing::with_text(kConfirmDeleteText, name), {}, MsgIcon::Question, MsgButtons::YesNo) !=
        MsgResult::Yes)
        return;
    names_->removeItem(current);
    files_.erase(name);
    select(names_->count() > 0 ? 0 : -1);
    save();
}

void EditSignatureBitmapsDlg::save() {
    std::vector<signing::SignatureBitmapEntry> entries;
    for (const std::string& name : names()) entries.push_back({name, files_[name]});
    if (const Result<void> written = signing::write_signature_list(entries); !written)
        show_error(written.error().message);
}

}  // namespace tv::gui
