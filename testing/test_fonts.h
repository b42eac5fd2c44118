// The fonts a test program draws and prints in: those under testing/fonts and none of the machine's,
// mapped from the faces the program asks for, so that pages and pictures come out alike on every
// machine. CTest sets the same for every test; this covers a test program run by hand.
#pragma once
#include <cstdlib>

namespace tv::testing {

// Points fontconfig at the tests' configuration unless FONTCONFIG_FILE already names one. Takes
// effect only before the first font lookup, so call it before the application object is made.
inline void use_test_fonts() { ::setenv("FONTCONFIG_FILE", TV_TEST_FONTCONFIG, 0); }

}  // namespace tv::testing
