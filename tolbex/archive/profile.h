// The application profile: per-user settings in HKCU under
// "Software\Torvane Medical\Calvera\<section>", one value per entry. Reads fall back to their
// default on any failure; writes report failure by their result.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace tv {

// The registry key that holds the profile's sections.
inline constexpr const char* kProfileKey = "Software\\Torvane Medical\\Calvera";

// "Software\Torvane Medical\Calvera\<section>".
std::string profile_section_key(const std::string& section);

// The entry's string value; `def` when it is missing or not a string.
std::string get_profile_string(const std::string& section, const std::string& entry, const std::string& def);
// The entry's DWORD value read as a signed int; `def` when it is missing or not a DWORD.
int get_profile_int(const std::string& section, const std::string& entry, int def);
// Creates the section when missing and writes the value; true on success.
bool write_profile_string(const std::string& section, const std::string& entry, const std::string& value);
// Stored as a DWORD (a negative value as its two's complement).
bool write_profile_int(const std::string& section, const std::string& entry, int value);
// Removes the entry; true when it existed and is gone.
bool delete_profile_value(const std::string& section, const std::string& entry);

// --- archive groups of the last run (section "Archives": "Archive 0", "Archive 1", ...,
// "Default Archive") ---

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
