#include "tolbex/archive/archive_config.h"

#include <climits>

#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/report_archive.h"

namespace tv {

namespace {

struct ParsedLine {
    int fields = 0;
    std::int32_t kind = 0;
    std::string path, name;
};

// The scan " %d \"%[^\"]\" \"%[^\"]\"": leading white space, a number, a quoted path, an
// optional quoted name. A scan set must take at least one character; a missing closing quote
// still counts the field before it.
ParsedLine scan_line(std::string_view line) {
    ParsedLine out;
    std::size_t i = 0;
    auto skip_space = [&] {
        while (i < line.size() && is_space_char(line[i])) ++i;
    };
    const ParsedInteger kind = parse_integer(line);
    if (!kind.ok()) return out;  // no number, or not one this format can hold
    i = kind.end;
    out.kind = static_cast<std::int32_t>(kind.value);
    out.fields = 1;
    auto quoted = [&](std::string& field) {
        if (i >= line.size() || line[i] != '"') return false;
        const std::size_t start = ++i;
        while (i < line.size() && line[i] != '"') ++i;
        if (i == start) return false;
        field.assign(line.substr(start, i - start));
        if (i < line.size()) ++i;  // the closing quote
        return true;
    };
    skip_space();
    if (!quoted(out.path)) return out;
    out.fields = 2;
    skip_space();
    if (quoted(out.name)) out.fields = 3;
    return out;
}

bool has_control(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

bool ArchiveConfigList::load(const std::string& file_path) {
    file_path_ = file_path;
    entries_.clear();
    load_error_.clear();
    platform::UniqueFile file = archive_io::open_index_for_reading(file_path, nullptr, true);
    std::FILE* f = file.get();
    if (!f) return false;
    bool result = true;
    std::string line;
    int number = 0;
    while (read_nonblank_line(f, line)) {
        ++number;
        const ParsedLine p = scan_line(line);
        const bool readable =
            p.fields >= 2 && line.size() <= kMaxLine && p.path.size() <= kMaxField && p.name.size() <= kMaxField;
        if (!readable || entries_.size() >= static_cast<std::size_t>(kMaxEntries)) {
            // Rewriting now would drop this line and every one after it.
            load_error_ = format_string("%s: entry %d cannot be read", file_path.c_str(), number);
            result = false;
            break;
        }
        entries_.push_back({p.path, p.name, p.kind});
    }
    if (std::ferror(f) && load_error_.empty()) {
        load_error_ = file_path + ": read error";
        result = false;
    }
    return result;
}

std::string ArchiveConfigList::format() const {
    std::string text;
    for (const auto& e : entries_) {
        text += std::to_string(e.kind);
        text += " \"";
        text += e.path;
        text += '"';
        if (!e.name.empty()) {
            text += " \"";
            text += e.name;
            text += '"';
        }
        text += "\r\n";
    }
    return text;
}

int ArchiveConfigList::save() {
    if (file_path_.empty() || !load_error_.empty()) return 1;
    const std::int64_t old_size = get_file_size_64(file_path_);
    const std::string folder = get_path_folder(file_path_);
    if (!archive_io::enough_space_for(folder == file_path_ ? "." : folder, old_size + kIndexSpareBytes)) return 1;
    return platform::atomic_write_file(file_path_, format()) ? 0 : 1;
}

bool ArchiveConfigList::refuse_if_unsafe(const std::string& group_folder) {
    std::string reason;
    if (!load_error_.empty())
        reason = "The archive configuration cannot be changed, because its file holds an entry that cannot be read (" +
                 load_error_ + ").";
    else if (group_folder.empty() || group_folder.size() > kMaxField || group_folder.find('"') != std::string::npos ||
             has_control(group_folder))
        reason = "The archive configuration cannot hold this folder: " + group_folder;
    if (reason.empty()) return false;
    refusal_ = std::move(reason);
    return true;
}

Error ArchiveConfigList::refusal() const { return fail(kArchiveConfigRefused, refusal_); }

int ArchiveConfigList::change(const std::string& group_folder, bool adding) {
    // Another program may have changed the file since it was read: the change is made to the
    // file as it is now, and the list is what the file then holds.
    const std::string folder = get_path_folder(file_path_);
    const std::string lock_folder = file_path_.empty() || folder == file_path_ ? std::string(".") : folder;
    const ArchiveIndexLock lock(lock_folder);
    // Without its folder there is nothing to share, and the save below says it failed.
    if (!lock.held() && folder_exists(lock_folder)) {
        refusal_ = lock.busy_error().message;
        return kConfigRefused;
    }
    if (!file_path_.empty()) load(file_path_);
    if (adding) {
        if (refuse_if_unsafe(group_folder)) return kConfigRefused;
        if (entries_.size() >= static_cast<std::size_t>(kMaxEntries)) return kConfigFull;
        if (contains(group_folder)) return kConfigExists;
        entries_.push_back({group_folder, std::string(), classify_drive(group_folder)});
    } else {
        if (!load_error_.empty()) {
            refuse_if_unsafe(group_folder);
            return kConfigRefused;
        }
        if (!contains(group_folder)) return kConfigExists;
        std::erase_if(entries_, [&](const ArchiveConfigEntry& e) { return platform::iequals(e.path, group_folder); });
    }
    return save() == 0 ? kConfigOk : kConfigSaveFailed;
}

int ArchiveConfigList::add(const std::string& group_folder) { return change(group_folder, true); }

int ArchiveConfigList::remove(const std::string& group_folder) { return change(group_folder, false); }

bool ArchiveConfigList::contains(const std::string& group_folder) const {
    for (const auto& e : entries_)
        if (platform::iequals(e.path, group_folder)) return true;
    return false;
}

const std::string& ArchiveConfigList::get_path(std::int32_t index) const {
    static const std::string empty;
    if (index < 0 || index >= get_count()) return empty;
    return entries_[static_cast<std::size_t>(index)].path;
}

const std::string& ArchiveConfigList::get_name(std::int32_t index) const {
    static const std::string empty;
    if (index < 0 || index >= get_count()) return empty;
    return entries_[static_cast<std::size_t>(index)].name;
}

}  // namespace tv
