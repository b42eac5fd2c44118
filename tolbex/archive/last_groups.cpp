#include "tolbex/archive/last_groups.h"

#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/fs.h"

namespace tv {
namespace {

// One that cannot be looked at now is still opened, to say why: never dropped as gone.
bool is_existing_file(const std::string& path) {
    if (path.empty()) return false;
    const EntryKind kind = probe_entry(path).kind;
    return kind == EntryKind::Regular || kind == EntryKind::Unknown;
}

}  // namespace

std::vector<std::string> archive_groups_to_reopen(const std::string& first_configured_group) {
    std::vector<std::string> paths;
    for (int n = 0;; ++n) {
        const std::string path = get_profile_string(kArchivesSection, format_string(kArchiveNValueFormat, n), "");
        if (path.empty()) break;
        if (is_existing_file(path)) paths.push_back(path);
    }
    if (!first_configured_group.empty()) {
        std::string index = join_path(first_configured_group, "ARCHDIR.DAT");
        if (auto found = platform::find_name_ci(first_configured_group, "ARCHDIR.DAT")) index = *found;
        if (is_existing_file(index)) paths.push_back(index);
    }
    const std::string def = get_profile_string(kArchivesSection, kDefaultArchiveValue, "");
    if (is_existing_file(def)) paths.push_back(def);
    return paths;
}

StartupArrangement startup_arrangement(int open_documents) {
    if (open_documents >= 4) return StartupArrangement::Cascade;
    if (open_documents >= 2) return StartupArrangement::TileHorizontally;
    return StartupArrangement::None;
}

bool save_archive_group_list(bool browse, const std::vector<std::string>& open_group_paths,
                             const std::function<bool()>& save_all_modified) {
    // The remembered groups go only once closing is certain: a cancelled save keeps them.
    if (save_all_modified && !save_all_modified()) return false;
    if (!browse) return true;
    for (int n = 0;; ++n) {
        const std::string entry = format_string(kArchiveNValueFormat, n);
        if (get_profile_string(kArchivesSection, entry, "").empty()) break;
        delete_profile_value(kArchivesSection, entry);
    }
    // A value that cannot be written costs the next start one group; closing goes on.
    int n = 0;
    for (const auto& path : open_group_paths)
        write_profile_string(kArchivesSection, format_string(kArchiveNValueFormat, n++), path);
    return true;
}

}  // namespace tv
