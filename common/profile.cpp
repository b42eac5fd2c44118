#include "common/profile.h"

#include <cstdint>

#include "common/profile_names.h"
#include "common/registry.h"

namespace tv {
namespace {
const ProgramProfile& main_profile() {
    static const ProgramProfile profile(kMainProgramProfileKey);
    return profile;
}
}  // namespace

std::string ProgramProfile::get_string(const std::string& section, const std::string& entry,
                                       const std::string& def) const {
    return reg_get_string(HKEY_CURRENT_USER, section_key(section), entry, def);
}

int ProgramProfile::get_int(const std::string& section, const std::string& entry, int def) const {
    auto value = platform::registry().get(HKEY_CURRENT_USER, section_key(section), entry);
    if (!value || value->type != platform::RegType::Dword) return def;
    return static_cast<int>(value->dword);
}

bool ProgramProfile::write_string(const std::string& section, const std::string& entry,
                                  const std::string& value) const {
    return reg_set_string(HKEY_CURRENT_USER, section_key(section), entry, value);
}

bool ProgramProfile::write_int(const std::string& section, const std::string& entry, int value) const {
    return reg_set_dword(HKEY_CURRENT_USER, section_key(section), entry, static_cast<std::uint32_t>(value));
}

bool ProgramProfile::delete_value(const std::string& section, const std::string& entry) const {
    return platform::registry().delete_value(HKEY_CURRENT_USER, section_key(section), entry);
}

std::string profile_section_key(const std::string& section) { return main_profile().section_key(section); }

std::string get_profile_string(const std::string& section, const std::string& entry, const std::string& def) {
    return main_profile().get_string(section, entry, def);
}

int get_profile_int(const std::string& section, const std::string& entry, int def) {
    return main_profile().get_int(section, entry, def);
}

bool write_profile_string(const std::string& section, const std::string& entry, const std::string& value) {
    return main_profile().write_string(section, entry, value);
}

bool write_profile_int(const std::string& section, const std::string& entry, int value) {
    return main_profile().write_int(section, entry, value);
}

bool delete_profile_value(const std::string& section, const std::string& entry) {
    return main_profile().delete_value(section, entry);
}

}  // namespace tv
