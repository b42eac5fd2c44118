// The environment every test program runs in, set before main so that the child processes a test
// starts have it too: times in UTC, and only the fonts the tests bring (fonts/, mapped from the faces
// the program asks for), so that pages count and draw alike whatever fonts or settings a machine
// or its user has, and nothing of the user's desktop.
#include <cstdlib>

namespace {

[[maybe_unused]] const bool kTestEnvironment = [] {
    ::setenv("TZ", "UTC", 1);
    ::setenv("FONTCONFIG_FILE", TV_TEST_FONTCONFIG, 1);
    // The desktop of the account running the tests stays as it is: a program started in a desktop
    // session registers its file types there, and below a device nothing can be made. Tests of
    // that registration name a folder of their own.
    ::setenv("XDG_DATA_HOME", "/dev/null/torvane-tests", 1);
    return true;
}();

}  // namespace
