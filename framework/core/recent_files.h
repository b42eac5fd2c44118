// The recently-used file list, kept in the profile (common/profile.h): section "Recent File List",
// entries "File1".."File<n>", most recent first. No Qt.
#pragma once
#include <string>
#include <vector>

#include "common/profile_names.h"

namespace tv::fw {

class RecentFileList {
public:
    explicit RecentFileList(int size = 4, std::string section = kRecentFileListSection,
                            std::string entry_format = "File%d");
    // Puts the path first; an entry for the same path (same file) moves up instead of doubling.
    void add(const std::string& path);
    void remove(std::size_t index);
    // Drops the entry that names the same file; false when there was none.
    bool remove_path(const std::string& path);
    const std::vector<std::string>& items() const { return items_; }
    int size() const { return size_; }
    void read_list();         // from the profile; blanks skipped
    bool write_list() const;  // the whole list; entries past its end removed
private:
    int size_;
    std::string section_, entry_format_;
    std::vector<std::string> items_;
};

// The menu text of entry `index` (0 = most recent): "&1 " .. "&9 ", "1&0 ".., then the path,
// shortened in the middle to about `max_length` characters (root, "...", last components; never
// less than the file name); '&' in the path is doubled so it shows as itself.
std::string recent_file_menu_text(std::size_t index, const std::string& path, std::size_t max_length = 50);

// True when the two paths name the same file: equal after normalising, or the same (st_dev, st_ino).
bool same_file_path(const std::string& a, const std::string& b);

}  // namespace tv::fw
