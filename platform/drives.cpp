#include "platform/drives.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/ascii.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/codepage.h"

namespace tv::platform {
namespace {

std::optional<char> normal_letter(char c) {
    if (is_alpha(c)) return ascii_upper(c);
    return std::nullopt;
}

std::string map_file(char letter) { return drives_dir() + "/" + letter + ".drive"; }

const char* kind_word(DriveKind k) {
    switch (k) {
        case DriveKind::Floppy: return "floppy";
        case DriveKind::Removable: return "removable";
        case DriveKind::Fixed: return "fixed";
        case DriveKind::Remote: return "remote";
        case DriveKind::CdRom: return "cdrom";
        case DriveKind::Unknown: break;
    }
    return "unknown";
}

DriveKind kind_of_word(std::string_view w) {
    for (DriveKind k : {DriveKind::Floppy, DriveKind::Removable, DriveKind::Fixed, DriveKind::Remote, DriveKind::CdRom})
        if (iequals(w, kind_word(k))) return k;
    return DriveKind::Unknown;
}

bool has_line_break(const std::string& s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

// Symbolic links and "..": compare where the paths really lead, as far as they exist.
std::string canonical_or_lexical(const std::string& p) {
    std::error_code ec;
    auto c = std::filesystem::weakly_canonical(p, ec);
    std::string s = ec ? std::filesystem::path(p).lexically_normal().string() : c.string();
    return strip_trailing_slashes(s);
}

bool within(const std::string& path, const std::string& folder) {
    if (folder == "/") return !path.empty() && path.front() == '/';
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

}  // namespace

std::optional<MappedDrive> mapped_drive(char letter) {
    auto l = normal_letter(letter);
    if (!l) return std::nullopt;
    auto text = read_whole_file(map_file(*l));
    if (!text) return std::nullopt;
    MappedDrive d;
    d.letter = *l;
    for (std::string_view line : split_lines(*text)) {
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "folder") {
            d.folder = std::string(value);
        } else if (key == "label") {
            d.label = std::string(value);
        } else if (key == "kind") {
            d.kind = kind_of_word(value);
        } else if (key == "capacity") {
            std::uint64_t v = 0;
            bool ok = !value.empty() && value.size() <= 20;
            for (char c : value) {
                if (c < '0' || c > '9' || v > (UINT64_MAX - (c - '0')) / 10) {
                    ok = false;
                    break;
                }
                v = v * 10 + static_cast<std::uint64_t>(c - '0');
            }
            d.capacity = ok ? v : 0;  // a capacity that is no number: the file system's own size
        }
    }
    // Only an absolute folder can stand for a drive; anything else would depend on the
    // current folder.
    if (d.folder.empty() || d.folder.front() != '/' || d.folder.find('\0') != std::string::npos) return std::nullopt;
    d.folder = strip_trailing_slashes(d.folder);
    return d;
}

std::vector<MappedDrive> mapped_drives() {
    std::vector<MappedDrive> out;
    for (char c = 'A'; c <= 'Z'; ++c)
        if (auto d = mapped_drive(c)) out.push_back(std::move(*d));
    return out;
}

bool map_drive(const MappedDrive& drive) {
    auto l = normal_letter(drive.letter);
    if (!l || drive.folder.empty() || drive.folder.front() != '/' || has_line_break(drive.folder) ||
        has_line_break(drive.label))
        return false;
    std::string dir = drives_dir();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return false;
    std::string text =
        "folder=" + drive.folder + "\r\nlabel=" + drive.label + "\r\nkind=" + kind_word(drive.kind) + "\r\n";
    if (drive.capacity) text += "capacity=" + std::to_string(drive.capacity) + "\r\n";
    return atomic_write_file(map_file(*l), text);
}

bool unmap_drive(char letter) {
    auto l = normal_letter(letter);
    if (!l) return false;
    return ::unlink(map_file(*l).c_str()) == 0 || errno == ENOENT;
}

std::optional<MappedDrive> mapped_drive_of(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::string p = canonical_or_lexical(expand_drive_path(path));
    std::optional<MappedDrive> best;
    for (auto& d : mapped_drives()) {
        std::string folder = canonical_or_lexical(d.folder);
        // Nested maps: the innermost folder holds the path.
        if (within(p, folder) && (!best || folder.size() > canonical_or_lexical(best->folder).size())) best = d;
    }
    return best;
}

std::string expand_drive_path(const std::string& path) {
    if (path.size() < 2 || path[1] != ':' || (path.size() > 2 && path[2] != '/')) return path;
    auto l = normal_letter(path[0]);
    if (!l) return path;
    auto d = mapped_drive(*l);
    if (!d) return path;
    if (path.size() == 2) return d->folder;
    return (d->folder == "/" ? std::string() : d->folder) + path.substr(2);
}

std::optional<VolumeInfo> volume_of(const std::string& path) {
    std::string p = expand_drive_path(path);
    struct statvfs vs;
    if (::statvfs(p.c_str(), &vs) != 0) return std::nullopt;
    VolumeInfo v;
    v.free_bytes = static_cast<std::uint64_t>(vs.f_bavail) * vs.f_frsize;
    v.total_bytes = static_cast<std::uint64_t>(vs.f_blocks) * vs.f_frsize;
    v.kind = DriveKind::Fixed;
    struct statfs fs;
    if (::statfs(p.c_str(), &fs) == 0) {
        switch (static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul) {
            case 0x6969ul:      // NFS
            case 0x517Bul:      // SMB
            case 0xFF534D42ul:  // CIFS
            case 0xFE534D42ul:  // SMB2
                v.kind = DriveKind::Remote;
                break;
            default: break;
        }
    }
    if (auto d = mapped_drive_of(p)) {
        v.kind = d->kind;
        v.label = d->label;
        if (d->capacity) {
            v.total_bytes = d->capacity;
            if (v.free_bytes > v.total_bytes) v.free_bytes = v.total_bytes;
        }
    }
    return v;
}

}  // namespace tv::platform
