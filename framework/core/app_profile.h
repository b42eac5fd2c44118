// Transitional: the profile is common/profile.h.
#pragma once
#include <string>

#include "common/profile.h"

namespace tv::fw {

inline std::string profile_get_string(const std::string& section, const std::string& entry, const std::string& def) {
    return get_profile_string(section, entry, def);
}
inline int profile_get_int(const std::string& section, const std::string& entry, int def) {
    return get_profile_int(section, entry, def);
}
inline bool profile_write_string(const std::string& section, const std::string& entry, const std::string& value) {
    return write_profile_string(section, entry, value);
}
inline bool profile_write_int(const std::string& section, const std::string& entry, int value) {
    return write_profile_int(section, entry, value);
}
inline bool profile_delete_value(const std::string& section, const std::string& entry) {
    return delete_profile_value(section, entry);
}

}  // namespace tv::fw
