#include "common/sysversion.h"

namespace tv {

namespace {

// The system whose behaviour the programs reproduce.
constexpr SystemVersion kEmulated{2, 5, 1};

}  // namespace

const SystemVersion& get_system_version() {
    static const SystemVersion version = kEmulated;
    return version;
}

bool is_windows_95() {
    const SystemVersion& v = get_system_version();
    return v.platform == 1 && v.minor == 0;
}

bool is_windows_98_or_me() {
    const SystemVersion& v = get_system_version();
    return v.platform == 1 && v.minor != 0;
}

bool is_windows_nt() { return get_system_version().platform == 2; }

bool is_windows_9x() { return get_system_version().platform == 1; }

bool is_windows_2000_or_later() {
    const SystemVersion& v = get_system_version();
    return v.platform == 2 && v.major >= 5;
}

bool is_windows_xp() {
    const SystemVersion& v = get_system_version();
    return v.platform == 2 && v.major == 5 && v.minor == 1;
}

bool is_windows_2000() {
    const SystemVersion& v = get_system_version();
    return v.platform == 2 && v.major == 5 && v.minor == 0;
}

bool is_os_version_below_4() { return (get_system_version().major & 0xFF) < 4; }

}  // namespace tv
