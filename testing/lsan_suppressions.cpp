// What outside libraries keep until the process ends, which LeakSanitizer would report at exit:
// fontconfig's cache, and what libdbus holds for the accessibility bus of a window on a display.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\nleak:libdbus\n"; }
