// The environment every test program runs in, set before main so that the child processes a test
// starts have it too: times in UTC, and only the fonts the tests bring (fonts/, mapped from the faces
// the program asks for), so that pages count and draw alike whatever fonts or settings a machine
// or its user has, and nothing of the user's desktop. A sanitizer build's tests run with the
// sanitizers' options scripts/test gives unless the caller gives others, so that ctest run by hand
// behaves the same.
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define TV_TEST_ADDRESS_SANITIZER 1
extern "C" const char* __asan_default_options() { return "detect_leaks=1:abort_on_error=1"; }
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }
#endif

namespace {

[[maybe_unused]] const bool kTestEnvironment = [] {
    ::setenv("TZ", "UTC", 1);
    ::setenv("FONTCONFIG_FILE", TV_TEST_FONTCONFIG, 1);
    // The desktop of the account running the tests stays as it is: a program started in a desktop
    // session registers its file types there, and below a device nothing can be made. Tests of
    // that registration name a folder of their own.
    ::setenv("XDG_DATA_HOME", "/dev/null/torvane-tests", 1);
#ifdef TV_TEST_ADDRESS_SANITIZER
    // The programs a test starts take them from the environment.
    ::setenv("ASAN_OPTIONS", __asan_default_options(), 0);
    ::setenv("UBSAN_OPTIONS", __ubsan_default_options(), 0);
#endif
    return true;
}();

}  // namespace
