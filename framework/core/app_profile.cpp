#include "framework/core/app_profile.h"

#include "common/registry.h"

namespace tv::fw {
namespace {
constexpr const char* kProfileKey = "Software\\Torvane Medical\\Calvera";
std::string section_key(const std::string& section) { return std::string(kProfileKey) + "\\" + section; }
}  // namespace

std::string profile_get_string(const std::string& section, const std::string& entry, const std::string& def) {
    return reg_get_string(HKEY_CURRENT_USER, section_key(section), entry, def);
}

int profile_get_int(const std::string& section, const std::string& entry, int def) {
    auto v = platform::registry().get(platform::RegRoot::CurrentUser, section_key(section), entry);
    if (!v || v->type != platform::RegType::Dword) return def;
    return static_cast<int>(v->dword);
}

bool profile_write_string(const std::string& section, const std::string& entry, const std::string& value) {
    return reg_set_string(HKEY_CURRENT_USER, section_key(section), entry, value);
}

bool profile_write_int(const std::string& section, const std::string& entry, int value) {
    return reg_set_dword(HKEY_CURRENT_USER, section_key(section), entry, static_cast<std::uint32_t>(value));
}

bool profile_delete_value(const std::string& section, const std::string& entry) {
    return platform::registry().delete_value(platform::RegRoot::CurrentUser, section_key(section), entry);
}

}  // namespace tv::fw
