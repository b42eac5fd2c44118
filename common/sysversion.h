// Tests of the system version, which choose between code paths written for different Windows
// families. The programs run on an emulated "NT 5.1" system; the record is read once per process.
#pragma once
#include <cstdint>

namespace tv {

struct SystemVersion {
    int platform = 0;  // 1: the 95/98/Me family, 2: the NT family
    int major = 0;
    int minor = 0;
};

// The process-wide record, read on first use and kept.
const SystemVersion& get_system_version();

bool is_windows_95();
bool is_windows_98_or_me();
bool is_windows_nt();
bool is_windows_9x();
bool is_windows_2000_or_later();
bool is_windows_xp();
bool is_windows_2000();  // NT 5.0 exactly
bool is_os_version_below_4();

}  // namespace tv
