// The archive groups of the last run, kept in the profile's section "Archives" ("Archive 0",
// "Archive 1", ..., "Default Archive"), and how the main frame arranges them when reopened.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace tv {

// The ARCHDIR.DAT paths to reopen at start-up, in order: every "Archive n" up to the first empty
// one, then `first_configured_group`'s ARCHDIR.DAT, then "Default Archive"; only files that
// exist (vanished groups are skipped silently). Opening a path already open gives the open
// document, so repeats are harmless.
std::vector<std::string> archive_groups_to_reopen(const std::string& first_configured_group);

// How the main frame arranges its windows after reopening: 4 documents or more cascade, 2 or 3
// tile horizontally.
enum class StartupArrangement { None, TileHorizontally, Cascade };
StartupArrangement startup_arrangement(int open_documents);

// On close: asks `save_all_modified` first; only when it agrees are the old "Archive n" values
// removed and `open_group_paths` written as "Archive 0", "Archive 1", ... (only with browsing on;
// with it off the old values stay). Returns false when closing must not go on.
bool save_archive_group_list(bool browse, const std::vector<std::string>& open_group_paths,
                             const std::function<bool()>& save_all_modified);

}  // namespace tv
