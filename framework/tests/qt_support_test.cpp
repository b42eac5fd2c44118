// fontconfig keeps a cache for the life of the process, which LeakSanitizer reports at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
