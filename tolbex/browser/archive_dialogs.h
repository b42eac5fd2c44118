// The rules of the archive dialogs, without windows: what each list shows, what OK does and
// which messages it gives. The dialog windows fill their controls from these classes and hand
// the user's choices back to them.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

class ArchiveConfigList;
class BrowserListCore;
struct IndexStamp;
class Ui;

// Display names of new archives are cut to this length.
inline constexpr std::size_t kArchiveNameMax = 15;

inline constexpr const char* kBlankArchiveNameText = "You cannot enter a blank archive name.";
inline constexpr const char* kReservedArchiveNameText = "You cannot create an archive with that name.";
inline constexpr const char* kArchiveExistsText =
    "An archive with that name already exists; please type a different name.\n\nThe drop-down list of existing "
    "names is there so that you can see which archives already exist.\nDo not choose an item from this list - "
    "type in a new name.";
inline constexpr const char* kWrongArchiveFileText = "You must select a file named ARCHDIR.DAT";
inline constexpr const char* kWrongArchiveFileCaption = "Incorrect Filename";
inline constexpr const char* kFolderCreateFailedText =
    "Failed to create the \"%s\" folder - the destination disk may be full,\na file with the same name may "
    "already exist, or you may not have write access to it.";
inline constexpr const char* kFolderCreateFailedCaption = "Failed to create folder";

// The archive file dialog accepts a file only when its name is ARCHDIR.DAT (any case);
// otherwise it shows the message and stays open (false).
bool accept_archive_file(const std::string& path, Ui& u);

// Adds a new archive to a group: a fresh uniquely named folder is created first; only then are
// its folder name and display name (cut to 15 characters) appended to ARCHDIR.DAT. Any failure
// is shown and leaves ARCHDIR.DAT as it was (a folder made for it is removed again).
// `folder_name` receives the new folder's name, `index_stamp` the stamp of the ARCHDIR.DAT written.
bool create_archive_in_group(const std::string& group_folder, std::string_view display_name, std::string* folder_name,
                             IndexStamp* index_stamp = nullptr);

// Display names of the archives of a group folder's ARCHDIR.DAT (indexes not read).
std::vector<std::string> group_archive_names(const std::string& group_folder);

// "Open Archive from a list": the configured group folders.
class ArchiveListDialogRules {
public:
    explicit ArchiveListDialogRules(const ArchiveConfigList& config);
    const std::vector<std::string>& folders() const { return folders_; }
    int initial_selection() const { return folders_.empty() ? -1 : 0; }
    // OK with the combo's text.
    void ok(const std::string& combo_text) { chosen_ = combo_text; }
    // The chosen folder's ARCHDIR.DAT; empty when none was chosen.
    std::string get_archdir_path() const;

private:
    std::vector<std::string> folders_;
    std::string chosen_;
};

// "Creating a New Archive".
class NewArchiveDialogRules {
public:
    // Configured folders, then the folders of open group documents not configured.
    NewArchiveDialogRules(const ArchiveConfigList& config, const std::vector<std::string>& open_group_folders);
    const std::vector<std::string>& folders() const { return folders_; }
    // The archive list for a folder (refilled whenever the folder changes).
    std::vector<std::string> archive_names(const std::string& folder) const { return group_archive_names(folder); }
    // True closes the dialog; false showed a message and keeps it open.
    bool ok(const std::string& folder, const std::string& name, Ui& u);
    const std::string& get_group_folder() const { return folder_; }
    const std::string& get_archive_name() const { return name_; }

private:
    std::vector<std::string> folders_;
    std::string folder_, name_;
};

// "Delete Archive": the archives of a document that may go (never "STANDARD" or
// "Deleted Reports").
class DeleteArchiveDialogRules {
public:
    explicit DeleteArchiveDialogRules(const BrowserListCore& doc);
    const std::vector<std::string>& names() const { return names_; }
    int initial_selection() const { return names_.empty() ? -1 : 0; }
    // OK with the selected line. False when nothing can be chosen: the dialog then ends as
    // Cancel would.
    bool ok(int selected_line);
    std::int32_t get_archive_index() const { return chosen_; }

private:
    std::vector<std::string> names_;
    std::vector<std::int32_t> indexes_;
    std::int32_t chosen_ = -1;
};

// "Choose Destination Archive".
class ChooseArchiveDialogRules {
public:
    // Lists the remembered mail folder (mail mode), the groups of DEVICE.DAT at
    // `device_dat_path`, the profile's "Archive n" and "Default Archive" groups and the open
    // groups, each once; selects the first folder.
    ChooseArchiveDialogRules(bool mail_mode, const std::string& device_dat_path,
                             const std::vector<std::string>& open_group_folders);

    void set_caption(std::string caption) { caption_ = std::move(caption); }
    const std::string& caption() const { return caption_; }

    const std::vector<std::string>& folders() const { return folders_; }
    int folder_selection() const { return folder_selection_; }
    const std::vector<std::string>& archive_names() const { return archive_names_; }
    int archive_selection() const { return archive_selection_; }
    // The archive combo is usable when the group has archives; OK also needs a typed name.
    bool archive_list_enabled() const { return !archive_names_.empty(); }
    bool ok_enabled(const std::string& archive_text) const;

    // Selects a folder and refills its archive list, preselecting `archive_index` when valid.
    void select_folder(int index, int archive_index = 0);
    // Locate... / Create...: a group folder found by the user. A folder not yet listed goes to
    // the top; either way it is selected and its archive list filled from index 0.
    void add_group_folder(const std::string& group_folder);
    // Locate... with the ARCHDIR.DAT chosen in the archive file dialog.
    void locate(const std::string& archdir_path);

    // OK with the archive combo's text. True closes the dialog; false keeps it open (a message
    // was shown or the user cancelled the creation question).
    bool ok(const std::string& archive_text, Ui& u);
    const std::string& get_archive_path() const { return archive_path_; }
    std::int32_t get_archive_index() const { return archive_index_; }
    const std::string& get_group_folder() const { return group_folder_; }

private:
    void add_folder(const std::string& folder);

    bool mail_mode_;
    std::string caption_;
    std::vector<std::string> folders_;
    std::vector<std::string> archive_names_;
    int folder_selection_ = -1;
    int archive_selection_ = -1;
    std::int32_t archive_index_ = -1;
    std::string group_folder_, archive_path_;
};

}  // namespace tv
