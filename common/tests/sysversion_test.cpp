#include "common/sysversion.h"

#include <gtest/gtest.h>

TEST(SysVersion, TheEmulatedSystemIsNt51) {
    const tv::SystemVersion& v = tv::get_system_version();
    EXPECT_EQ(v.platform, 2);
    EXPECT_EQ(v.major, 5);
    EXPECT_EQ(v.minor, 1);
    EXPECT_EQ(&v, &tv::get_system_version());  // one record per process

    EXPECT_TRUE(tv::is_windows_nt());
    EXPECT_TRUE(tv::is_windows_2000_or_later());
    EXPECT_TRUE(tv::is_windows_xp());
    EXPECT_FALSE(tv::is_windows_2000());  // 5.0 exactly
    EXPECT_FALSE(tv::is_windows_95());
    EXPECT_FALSE(tv::is_windows_98_or_me());
    EXPECT_FALSE(tv::is_windows_9x());
    EXPECT_FALSE(tv::is_os_version_below_4());
}
