// Drives. A "drive" is the file system that holds a path. Card drives, whose letters are data
// (a recorder card reader), come from the drive map: <drives_dir>/<L>.drive, a text file
//   folder=/media/card
//   label=OSTRABEL
//   kind=removable          (floppy | removable | fixed | remote | cdrom)
//   capacity=1048576000     (bytes; optional)
// kept beside the card's folder, never inside it. Written with CR LF, read with LF too; the folder
// must be absolute (an entry without one is ignored) and no text may hold a line break. A
// capacity that is no number counts as 0, an unknown kind as Unknown. Letters are A-Z in
// either case.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tv::platform {

enum class DriveKind { Unknown, Floppy, Removable, Fixed, Remote, CdRom };

struct MappedDrive {
    char letter = 0;  // 'A'..'Z'
    std::string folder;
    std::string label;
    DriveKind kind = DriveKind::Removable;
    std::uint64_t capacity = 0;  // 0: the file system's own size
};

std::vector<MappedDrive> mapped_drives();
std::optional<MappedDrive> mapped_drive(char letter);
// Writes or removes a drive map entry (tests, tools).
bool map_drive(const MappedDrive& drive);
bool unmap_drive(char letter);  // true when the letter is not mapped afterwards
// The mapped drive whose folder holds `path` (the innermost one), if any.
std::optional<MappedDrive> mapped_drive_of(const std::string& path);
// "X:" or "X:/..." with X mapped: the folder-based path; any other path unchanged.
std::string expand_drive_path(const std::string& path);

struct VolumeInfo {
    std::uint64_t free_bytes = 0;  // available to the caller
    std::uint64_t total_bytes = 0;
    DriveKind kind = DriveKind::Unknown;
    std::string label;  // empty unless a mapped drive gives one
};

// The volume holding `path` (which must exist; "X:" paths are expanded). Kind Remote for NFS and
// SMB/CIFS, else Fixed. A mapped drive's kind, label and capacity win (free is then at most the
// capacity).
std::optional<VolumeInfo> volume_of(const std::string& path);

}  // namespace tv::platform
