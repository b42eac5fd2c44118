#include "common/profile.h"

#include <cstdint>

#include "common/registry.h"

namespace tv {
namespace {
constexpr const char* kProfileKey = "Software\\Torvane Medical\\Calvera";
}  // namespace

std::string profile_section_key(const std::string& section) { return std::string(kProfileKey) + "\\" + section; }

std::string get_profile_string(const std::string& section, const std::string& entry, const std::string& def) {
    return reg_get_string(HKEY_CURRENT_USER, profile_section_key(section), entry, def);
}

int get_profile_int(const std::string& section, const std::string& entry, int def) {
    auto value = platform::registry().get(HKEY_CURRENT_USER, profile_section_key(section), entry);
    if (!value || value->type != platform::RegType::Dword) return def;
    return static_cast<int>(value->dword);
}

bool write_profile_string(const std::string& section, const std::string& entry, const std::string& value) {
    return reg_set_string(HKEY_CURRENT_USER, profile_section_key(section), entry, value);
}

bool write_profile_int(const std::string& section, const std::string& entry, int value) {
    return reg_set_dword(HKEY_CURRENT_USER, profile_section_key(section), entry, static_cast<std::uint32_t>(value));
}

bool delete_profile_value(const std::string& section, const std::string& entry) {
    return platform::registry().delete_value(HKEY_CURRENT_USER, profile_section_key(section), entry);
}

}  // namespace tv
