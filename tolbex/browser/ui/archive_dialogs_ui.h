// The archive dialogs as windows: the ARCHDIR.DAT file dialog, "Open Archive from a list",
// "Creating a New Archive", "Delete Archive" and the folder picker. Their rules (lists, checks,
// messages) live in tolbex/browser/archive_dialogs.h; these classes only move texts between the
// controls and the rules. Tests drive them through fw::Dialog's test hook and the chooser hooks.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/qt/dialog.h"
#include "framework/qt/folder_dialog.h"
#include "tolbex/browser/archive_dialogs.h"

class QComboBox;
class QLabel;
class QWidget;

namespace tv {
class ArchiveConfigList;
class BrowserListCore;
}  // namespace tv

namespace tv::gui {

// --- the ARCHDIR.DAT file dialog ---
// A test's stand-in for the system file dialog: the path the "user" picked, "" for Cancel.
using ArchiveFileHook = std::function<std::string(bool open_mode)>;
void set_archive_file_hook(ArchiveFileHook hook);  // empty restores the real dialog
// Asks for an ARCHDIR.DAT (any case); any other name is refused with a message and asked again.
// "" when the user cancelled.
std::string choose_archive_file(QWidget* parent, bool open_mode);

// The configuration of the running application, or an empty one.
const ArchiveConfigList& current_archive_config();

// "Open Archive from a list".
class ArchiveListDlg : public fw::Dialog {
public:
    explicit ArchiveListDlg(const ArchiveConfigList& config, QWidget* parent = nullptr);
    ~ArchiveListDlg() override;
    QComboBox* folder_box() const { return combo_; }
    void on_init_dialog() override;
    void on_ok() override;
    std::string get_archdir_path() const { return rules_.get_archdir_path(); }

private:
    ArchiveListDialogRules rules_;
    QComboBox* combo_;
};

// "Creating a New Archive".
class NewArchiveDlg : public fw::Dialog {
public:
    NewArchiveDlg(const ArchiveConfigList& config, const std::vector<std::string>& open_group_folders,
                  QWidget* parent = nullptr);
    ~NewArchiveDlg() override;
    QComboBox* folder_box() const { return folder_; }
    QComboBox* archive_box() const { return archive_; }
    void on_init_dialog() override;
    void on_ok() override;
    const std::string& get_group_folder() const { return rules_.get_group_folder(); }
    const std::string& get_archive_name() const { return rules_.get_archive_name(); }

private:
    void fill_archives();
    NewArchiveDialogRules rules_;
    QComboBox* folder_;
    QComboBox* archive_;
};

// "Delete Archive". OK with nothing to choose ends the dialog as Cancel does.
class DeleteArchiveDlg : public fw::Dialog {
public:
    explicit DeleteArchiveDlg(const BrowserListCore& doc, QWidget* parent = nullptr);
    ~DeleteArchiveDlg() override;
    QComboBox* archive_box() const { return combo_; }
    void on_init_dialog() override;
    void on_ok() override;
    bool has_choices() const { return !rules_.names().empty(); }
    std::int32_t get_archive_index() const { return rules_.get_archive_index(); }

private:
    DeleteArchiveDialogRules rules_;
    QComboBox* combo_;
};

}  // namespace tv::gui
