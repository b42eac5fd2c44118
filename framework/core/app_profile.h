// The framework's profile: per-user settings in HKCU under "<profile key>\<section>", one value
// per entry (strings and DWORDs), the same layout the applications use. Reads fall back to their
// default on any failure; writes report failure by their result. No Qt.
#pragma once
#include <string>

namespace tv::fw {

// The profile key is "Software\Torvane Medical\Calvera".
std::string profile_get_string(const std::string& section, const std::string& entry, const std::string& def);
int profile_get_int(const std::string& section, const std::string& entry, int def);
bool profile_write_string(const std::string& section, const std::string& entry, const std::string& value);
bool profile_write_int(const std::string& section, const std::string& entry, int value);
bool profile_delete_value(const std::string& section, const std::string& entry);

}  // namespace tv::fw
