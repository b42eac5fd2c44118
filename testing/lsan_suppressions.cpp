// fontconfig keeps its cache until the process ends; LeakSanitizer would report it at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
