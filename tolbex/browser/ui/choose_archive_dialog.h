// "Choose Destination Archive": the group folder and the archive a report goes to, with Locate...
// (find an ARCHDIR.DAT) and Create... (make a new group). The lists and what OK does live in
// ChooseArchiveDialogRules; this window shows them.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "framework/qt/dialog.h"
#include "tolbex/browser/archive_dialogs.h"

class QComboBox;
class QPushButton;

namespace tv::gui {

class ChooseArchiveDlg : public fw::Dialog {
public:
    // `device_dat_path` empty: the running application's DEVICE.DAT.
    explicit ChooseArchiveDlg(bool mail_mode, QWidget* parent = nullptr, const std::string& device_dat_path = {});
    ~ChooseArchiveDlg() override;

    void set_caption(const std::string& caption);
    // Create...: makes a new archive group and gives its folder ("" when none was made). The
    // default asks for a folder and runs the application's create-group command.
    using CreateGroupFn = std::function<std::string()>;
    void set_create_group(CreateGroupFn fn) { create_group_ = std::move(fn); }

    QComboBox* folder_box() const { return folder_; }
    QComboBox* archive_box() const { return archive_; }
    QPushButton* ok_button() const { return ok_; }
    const ChooseArchiveDialogRules& rules() const { return rules_; }

    void on_init_dialog() override;
    void on_ok() override;
    void on_locate();
    void on_create();

    const std::string& get_archive_path() const { return rules_.get_archive_path(); }
    std::int32_t get_archive_index() const { return rules_.get_archive_index(); }
    const std::string& get_group_folder() const { return rules_.get_group_folder(); }

private:
    void show_rules();
    void update_ok();

    ChooseArchiveDialogRules rules_;
    QComboBox* folder_;
    QComboBox* archive_;
    QPushButton* ok_;
    CreateGroupFn create_group_;
};

}  // namespace tv::gui
