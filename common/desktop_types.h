// The desktop's side of a file type: what the file manager and the mail program call a file
// (a shared-mime-info package) and which program opens it (a desktop entry), for this user.
#pragma once
#include <string>
#include <vector>

namespace tv {

struct DesktopFileType {
    std::string mime_type;    // "application/x-torvane-transfer"
    std::string description;  // "Quorril Report"
    std::string extension;    // ".TVZ": any case matches
};

struct DesktopOpener {
    std::string entry_id;              // the desktop entry's file name: "torvane-tolbex-mail.desktop"
    std::string name;                  // what the desktop's Open With shows
    std::vector<std::string> command;  // the program and its switches; the file follows
    std::vector<DesktopFileType> types;
    std::string package_name;  // the MIME package's file name: "torvane-reports.xml"
};

enum class DesktopRegistration {
    Current,    // this user's desktop already has the package and the entry as they are
    Written,    // written, and the desktop's caches rebuilt by its own tools
    NoDesktop,  // no desktop session, or its tools are missing: nothing done
    Failed,     // a file could not be written or a tool failed
};

// The package's and the entry's text.
std::string desktop_mime_package(const DesktopOpener& opener);
std::string desktop_entry(const DesktopOpener& opener);

// Makes this user's desktop ($XDG_DATA_HOME, ~/.local/share) know the types and open them with the
// command, when it does not yet: writes the package into mime/packages and the entry into
// applications, runs update-mime-database and update-desktop-database there, and with xdg-mime
// makes the entry the default of each type that has none (a default the user chose stays). Only
// in a desktop session (DISPLAY or WAYLAND_DISPLAY set).
DesktopRegistration register_desktop_opener(const DesktopOpener& opener);

// Whether the desktop reads entries and types from `share` (a prefix's share folder): it is one
// of $XDG_DATA_DIRS, or of /usr/local/share and /usr/share when that is unset.
bool desktop_reads_data_folder(const std::string& share);
// The share folder of the installation `program` belongs to (<prefix>/share for <prefix>/bin/x)
// when that installation holds the desktop entry `entry_id`; empty for a program of a build folder.
std::string installation_share(const std::string& program, const std::string& entry_id);
// Removes this user's own entry of `opener.entry_id`, which shadows the installation's, when the
// program it starts is missing, is of no installation (a build folder), or is the installed
// program (`opener.command`'s first) itself, whose installation's entry serves and goes with it.
// Any other entry, and every other file, stays. True when the entry was removed.
bool remove_stale_user_entry(const DesktopOpener& opener);
// Makes the entry an installation put where the desktop finds it (`opener.entry_id`) the default
// of each of the types that has none, writing no entry or type of this user's: when the
// installation goes, so does the entry, and the desktop passes over a default that names no
// entry. Written when a default was set, Current when each type had one; only in a session.
DesktopRegistration adopt_installed_opener(const DesktopOpener& opener);

}  // namespace tv
