#include "common/desktop_types.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ascii.h"
#include "common/files.h"
#include "common/runner.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace tv {

namespace {

std::string xml_text(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string lower(std::string text) {
    for (char& c : text) c = platform::ascii_lower(c);
    return text;
}

bool has_control(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// One argument of an Exec line: quoted when it holds a reserved character, '%' doubled; the
// line's backslashes are then escaped once more, as every value of a desktop entry is.
std::string exec_argument(const std::string& arg) {
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    if (arg.empty() || arg.find_first_of(reserved) != std::string::npos) {
        quoted = "\"";
        for (char c : arg) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    } else {
        quoted = arg;
    }
    std::string out;
    for (char c : quoted) {
        if (c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out;
}

std::string data_home() {
    if (const char* d = std::getenv("XDG_DATA_HOME"); d && *d == '/') return d;
    const char* home = std::getenv("HOME");
    if (!home || *home != '/') return {};
    return join_path(join_path(home, ".local"), "share");
}

bool desktop_session() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* v = std::getenv(name); v && *v) return true;
    return false;
}

bool ran(const std::vector<std::string>& argv, std::string* said = nullptr) {
    std::string text;
    const ChildEnd end = run_child_output(argv, text, false);
    if (said) *said = text;
    return end.how == ChildEnd::How::Exited && end.exit_code == 0;
}

// The program an entry's Exec line starts: its first argument, unquoted as exec_argument quotes.
std::string exec_program(const std::string& entry) {
    std::size_t at = entry.find("\nExec=");
    if (at == std::string::npos) return {};
    at += 6;
    const std::string line = entry.substr(at, entry.find('\n', at) - at);
    std::string value;  // the value's own escapes undone first
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            const char c = line[++i];
            value += c == 's' ? ' ' : c == 't' ? '\t' : c;
        } else {
            value += line[i];
        }
    }
    std::string program;
    if (value.empty() || value[0] != '"') return value.substr(0, value.find(' '));
    for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        program += value[i];
    }
    return program;
}

}  // namespace

std::string installation_share(const std::string& program, const std::string& entry_id) {
    const std::string folder = get_path_folder(program);
    if (folder.empty()) return {};
    const std::string share = join_path(get_path_folder(folder), "share");
    return file_exists(join_path(join_path(share, "applications"), entry_id)) ? share : std::string();
}

bool remove_stale_user_entry(const DesktopOpener& opener) {
    const std::string data = data_home();
    if (data.empty() || opener.command.empty()) return false;
    const std::string applications = join_path(data, "applications");
    const std::string entry = join_path(applications, opener.entry_id);
    // A plain file of an entry's size; anything else by that name is not an entry of ours.
    const std::optional<std::string> text = read_outside_text(entry, 64 * 1024);
    if (!text) return false;
    const std::string program = exec_program(*text);
    const bool stale = program.empty() || program == opener.command.front() || !file_exists(program) ||
                       installation_share(program, opener.entry_id).empty();
    if (!stale || !force_delete_file(entry)) return false;
    // The folder's cache would still offer the entry's name for its types.
    if (const std::string update = platform::resolve_program("update-desktop-database"); !update.empty())
        ran({update, applications});
    return true;
}

std::string desktop_mime_package(const DesktopOpener& opener) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    for (const DesktopFileType& t : opener.types) {
        xml += "  <mime-type type=\"" + xml_text(t.mime_type) + "\">\n";
        xml += "    <comment>" + xml_text(t.description) + "</comment>\n";
        xml += "    <glob pattern=\"*" + xml_text(lower(t.extension)) + "\" case-sensitive=\"false\"/>\n";
        xml += "  </mime-type>\n";
    }
    return xml + "</mime-info>\n";
}

std::string desktop_entry(const DesktopOpener& opener) {
    std::string exec;
    for (const std::string& arg : opener.command) exec += exec_argument(arg) + " ";
    std::string types;
    for (const DesktopFileType& t : opener.types) types += t.mime_type + ";";
    return "[Desktop Entry]\nType=Application\nName=" + opener.name + "\nExec=" + exec + "%f\nMimeType=" + types +
           "\nNoDisplay=true\nTerminal=false\n";
}

bool desktop_reads_data_folder(const std::string& share) {
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    const std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    auto bare = [](std::string s) {
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        return s;
    };
    std::size_t from = 0;
    while (from <= list.size()) {
        const std::size_t to = std::min(list.find(':', from), list.size());
        if (bare(list.substr(from, to - from)) == bare(share)) return true;
        from = to + 1;
    }
    return false;
}

DesktopRegistration adopt_installed_opener(const DesktopOpener& opener) {
    if (!desktop_session() || platform::resolve_program("xdg-mime").empty()) return DesktopRegistration::NoDesktop;
    DesktopRegistration result = DesktopRegistration::Current;
    for (const DesktopFileType& t : opener.types) {
        std::string current;
        if (!ran({"xdg-mime", "query", "default", t.mime_type}, &current)) return DesktopRegistration::Failed;
        if (!current.empty()) continue;
        if (!ran({"xdg-mime", "default", opener.entry_id, t.mime_type})) return DesktopRegistration::Failed;
        result = DesktopRegistration::Written;
    }
    return result;
}

DesktopRegistration register_desktop_opener(const DesktopOpener& opener) {
    if (!desktop_session()) return DesktopRegistration::NoDesktop;
    const std::string data = data_home();
    const std::string update_mime = platform::resolve_program("update-mime-database");
    const std::string update_desktop = platform::resolve_program("update-desktop-database");
    if (data.empty() || update_mime.empty() || update_desktop.empty() || platform::resolve_program("xdg-mime").empty())
        return DesktopRegistration::NoDesktop;
    // A line end in a path would end the entry's Exec line and start a key of its own.
    for (const std::string& arg : opener.command)
        if (has_control(arg)) return DesktopRegistration::Failed;
    if (has_control(opener.name) || opener.command.empty()) return DesktopRegistration::Failed;

    const std::string mime = join_path(data, "mime"), packages = join_path(mime, "packages");
    const std::string applications = join_path(data, "applications");
    const std::string package = join_path(packages, opener.package_name);
    const std::string entry = join_path(applications, opener.entry_id);
    const std::string package_text = desktop_mime_package(opener), entry_text = desktop_entry(opener);
    if (platform::read_whole_file(package) == package_text && platform::read_whole_file(entry) == entry_text)
        return DesktopRegistration::Current;

    if (!create_folder_path(packages) || !create_folder_path(applications) ||
        !platform::atomic_write_file(entry, entry_text) || !platform::atomic_write_file(package, package_text))
        return DesktopRegistration::Failed;
    bool ok = ran({update_mime, mime}) && ran({update_desktop, applications});
    for (const DesktopFileType& t : opener.types) {
        std::string current;
        if (!ok || !ran({"xdg-mime", "query", "default", t.mime_type}, &current)) {
            ok = false;
            break;
        }
        if (current.empty()) ok = ran({"xdg-mime", "default", opener.entry_id, t.mime_type});
    }
    // Without the package the next start tries again.
    if (!ok) force_delete_file(package);
    return ok ? DesktopRegistration::Written : DesktopRegistration::Failed;
}

}  // namespace tv
