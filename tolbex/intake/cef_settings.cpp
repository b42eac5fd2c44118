#include "tolbex/intake/cef_settings.h"

#include "common/profile.h"
#include "common/profile_names.h"

namespace tv {

namespace {
const char* bitred_value(bool mail) { return mail ? "CEF BitRed Mail" : "CEF BitRed"; }
constexpr const char* kWantCompValue = "CEF Want Comp";
}  // namespace

int get_cef_bitred(bool mail) {
    const int v = get_profile_int(kSettingsSection, bitred_value(mail), 4);
    return v < 0 || v > 4 ? 4 : v;
}

bool set_cef_bitred(bool mail, int value) { return write_profile_int(kSettingsSection, bitred_value(mail), value); }

bool get_cef_want_comp() { return get_profile_int(kSettingsSection, kWantCompValue, 0) != 0; }

bool set_cef_want_comp(bool value) { return write_profile_int(kSettingsSection, kWantCompValue, value ? 1 : 0); }

std::string get_cef_store_folder() { return get_profile_string(kSettingsSection, kCefStoreValue, ""); }

}  // namespace tv
