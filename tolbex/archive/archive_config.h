// The archive configuration: the user's list of archive groups, kept in DEVICE.DAT, one line per
// group: kind "path" "name" (the name may be absent).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace tv {

inline constexpr const char* kArchiveConfigFileName = "DEVICE.DAT";

struct ArchiveConfigEntry {
    std::string path;       // the group folder (the folder holding ARCHDIR.DAT)
    std::string name;       // display name; may be empty
    std::int32_t kind = 1;  // drive kind when added: 0 floppy, 1 fixed/other, 2 removable/CD, 3 network
};

// Results of add / remove / save.
inline constexpr int kConfigOk = 0;
inline constexpr int kConfigExists = 1;      // add: already listed; remove: not listed / list empty
inline constexpr int kConfigSaveFailed = 2;  // the list changed in memory, the file could not be written
inline constexpr int kConfigFull = 3;        // add: 128 entries already
// add / remove: nothing changed and nothing written, because the last load met a line it could
// not read (rewriting would drop it) or the path cannot be written into the file. refusal()
// says why, for the caller to show.
inline constexpr int kConfigRefused = 4;

class ArchiveConfigList {
public:
    static constexpr int kMaxEntries = 128;
    static constexpr std::size_t kMaxLine = 255;
    static constexpr std::size_t kMaxField = 127;

    ArchiveConfigList() = default;

    // Reads the file. Blank lines are skipped. A line that does not parse (or holds a path or
    // name longer than 127 bytes, or an entry beyond 128) gives false: the entries before it
    // stay, and add/remove refuse to rewrite the file until a load succeeds. A missing or
    // unreadable file gives false with an empty list (add may then create the file).
    bool load(const std::string& file_path);
    // Writes the whole list to the path of the last load, CR LF, atomically, after the
    // free-space check. 0 on success, 1 on any failure (no message); 1 also when the last load
    // left lines unread, which the rewrite would drop.
    int save();
    // Add or remove one group as a locked read-modify-write of the file (see ArchiveIndexLock):
    // the file is read afresh, changed and written; the list is then what the file holds.
    // kConfigRefused also when the lock cannot be had (refusal() says so).
    int add(const std::string& group_folder);
    int remove(const std::string& group_folder);
    bool contains(const std::string& group_folder) const;

    std::int32_t get_count() const { return static_cast<std::int32_t>(entries_.size()); }
    const std::string& get_path(std::int32_t index) const;
    const std::string& get_name(std::int32_t index) const;
    const std::string& get_file_path() const { return file_path_; }
    // Why the last load left lines unread; empty when it read the whole file (or the file was
    // missing).
    const std::string& get_load_error() const { return load_error_; }
    // Why the last add or remove gave kConfigRefused (kArchiveConfigRefused).
    Error refusal() const;

    // The file's text for the list (CR LF lines).
    std::string format() const;

private:
    int change(const std::string& group_folder, bool adding);
    bool refuse_if_unsafe(const std::string& group_folder);

    std::string file_path_;
    std::string load_error_;
    std::string refusal_;
    std::vector<ArchiveConfigEntry> entries_;
};

}  // namespace tv
