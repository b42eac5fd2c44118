// The application profile: per-user settings in HKCU under
// "Software\Torvane Medical\Calvera\<section>", one value per entry. Reads fall back to their
// default on any failure; writes report failure by their result.
#pragma once
#include <string>

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

}  // namespace tv
