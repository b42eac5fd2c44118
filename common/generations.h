// Replacing a shared file while keeping its earlier versions as generations (NAME.SAV, the
// newest, then NAME.1.SAV and NAME.2.SAV, where NAME is the file's name up to its last '.').
//
// The file is never absent, not even for a moment: the old one is kept as NAME.SAV by a hard
// link (a copy where the file system has no links), and the new one is then renamed over the
// original. A process killed at any step leaves the old file or the new one in place.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/handles.h"

namespace tv {

// New content for `name` in `folder` (found in any case), written to a hidden sibling and put in
// place by commit(). The sibling takes the mode and group of the file it replaces (every account
// that could write the old file can write the new one); a new file gets 0666 less the umask.
// A replacement never committed leaves no sibling behind. Every step is relative to the folder
// as it was opened when the replacement began: given its descriptor (`folder` then only names it
// in messages), a folder swapped for a link meanwhile leads nowhere else.
class GenerationReplace {
public:
    GenerationReplace(const std::string& folder, std::string_view name);
    GenerationReplace(int folder_fd, const std::string& folder, std::string_view name);
    ~GenerationReplace();
    GenerationReplace(const GenerationReplace&) = delete;
    GenerationReplace& operator=(const GenerationReplace&) = delete;

    // False when the sibling could not be made.
    bool ready() const { return static_cast<bool>(fd_); }
    // The sibling's descriptor, for writing the content.
    int fd() const { return fd_.get(); }
    // Flushes the sibling, keeps the generations (with `generations`) and renames the sibling
    // over the file, then flushes the folder. False, with the file as it was, when the content
    // may not have reached the disk or the rename failed; the generations may then have moved.
    // With `keep_open` the descriptor stays open (it then writes the file in place).
    bool commit(bool generations, platform::UniqueFd* keep_open = nullptr);
    // The path the file has (or will have).
    const std::string& target() const { return target_; }

private:
    void begin();

    std::string folder_, name_, target_name_, target_, temp_;
    platform::UniqueFd dir_, fd_;
};

// The whole replacement in one call: `content` for `name` in the folder open as `folder_fd`, as
// GenerationReplace does. Without content the file itself becomes the newest generation (with
// `generations`) or is removed, and no new file is made. False, with the file as it was, when
// the new file cannot be written.
bool replace_with_generations_at(int folder_fd, std::string_view name, const std::optional<std::string>& content,
                                 bool generations);

// Moves the generations up (NAME.2.SAV dropped, .1.SAV -> .2.SAV, .SAV -> .1.SAV) and keeps the
// file as NAME.SAV without moving it. A missing file or generation is skipped; false when the
// file exists and could be neither linked nor copied.
bool keep_generation_at(int folder_fd, std::string_view name);

}  // namespace tv
