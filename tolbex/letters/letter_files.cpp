#include "tolbex/letters/letter_files.h"

#include <algorithm>
#include <cstdlib>

#include "common/files.h"
#include "common/runner.h"
#include "platform/process.h"

namespace tv::letters {

std::vector<std::string> list_letters(const std::string& report_folder) {
    std::vector<std::string> letters;
    for (FileFinder f(join_path(report_folder, "*.doc"), kFindFiles); !f.at_end(); f.next())
        if (!f.is_folder()) letters.push_back(f.get_path());
    std::sort(letters.begin(), letters.end());
    return letters;
}

bool desktop_present() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* v = std::getenv(name); v && *v) return true;
    return false;
}

bool open_document(const std::string& path) { return start_child_detached({"xdg-open", path}); }

}  // namespace tv::letters
