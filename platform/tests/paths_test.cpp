#include "platform/paths.h"

#include <climits>
#include <cstdlib>

#include <gtest/gtest.h>

#include "testing/test_root.h"

namespace tv::platform {
namespace {

TEST(Paths, FollowTheRootOnEveryCall) {
    testing::TempRoot root;
    EXPECT_EQ(machine_dir(), root.path());
    EXPECT_EQ(user_dir(), root / "user");
    EXPECT_EQ(machine_registry_dir(), root / "registry");
    EXPECT_EQ(user_registry_dir(), root / "user/registry");
    EXPECT_EQ(analyser_default_root(), root / "ANALYSER");
    EXPECT_EQ(drives_dir(), root / "drives");
    EXPECT_EQ(windows_socket_dir(), root / "run/windows");
    EXPECT_EQ(event_log_file(), root / "log/eventlog.txt");

    std::string first = ipc_prefix();
    ASSERT_EQ(first.size(), 12u);
    EXPECT_EQ(first.substr(0, 3), "/tv");
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef", 3), 11u);
    EXPECT_EQ(first.back(), '-');
    {
        testing::TempRoot other;
        EXPECT_NE(ipc_prefix(), first);  // two roots never share kernel objects
    }
    EXPECT_EQ(ipc_prefix(), first);
}

TEST(Paths, PrefixIsTheHashOfTheAbsoluteRoot) {
    testing::TempRoot root;
    ::setenv("TORVANE_ROOT", "/srv/tv", 1);
    std::string golden = ipc_prefix();
    ::setenv("TORVANE_ROOT", "/srv/tv/", 1);
    EXPECT_EQ(ipc_prefix(), golden);
    ::setenv("TORVANE_ROOT", "/srv/./tv", 1);
    EXPECT_EQ(ipc_prefix(), golden);
    // FNV-1a 32 of "/srv/tv".
    std::uint32_t h = 2166136261u;
    for (char c : std::string("/srv/tv")) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    char expect[16];
    std::snprintf(expect, sizeof expect, "/tv%08x-", h);
    EXPECT_EQ(golden, expect);
    ::setenv("TORVANE_ROOT", root.path().c_str(), 1);
}

TEST(Paths, KernelObjectNames) {
    testing::TempRoot root;
    std::string p = ipc_prefix();
    EXPECT_EQ(ipc_name("Patient Events"), p + "Patient Events");
    EXPECT_EQ(ipc_name("a/b\\c"), p + "a_b_c");
    EXPECT_EQ(ipc_name(""), "");
    EXPECT_EQ(ipc_name(std::string("a\0b", 3)), "");
    std::string longest(NAME_MAX - (p.size() - 1), 'x');
    EXPECT_EQ(ipc_name(longest), p + longest);
    EXPECT_EQ(ipc_name(longest + "x"), "");
}

}  // namespace
}  // namespace tv::platform
