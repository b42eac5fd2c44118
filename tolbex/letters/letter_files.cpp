#include "tolbex/letters/letter_files.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

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

namespace {

// What `xdg-mime query <what> <arg>` prints; nullopt when it did not run and exit 0.
std::optional<std::string> query_mime(const char* what, const std::string& arg) {
    std::string said;
    const ChildEnd end = run_child_output({"xdg-mime", "query", what, arg}, said, false);
    if (end.how != ChildEnd::How::Exited || end.exit_code != 0) return std::nullopt;
    return said;
}

}  // namespace

OpenResult open_document(const std::string& path) {
    if (const auto type = query_mime("filetype", path); type && !type->empty()) {
        // A type with parameters ("application/msword; charset=binary") is asked for without them.
        const std::string bare = type->substr(0, type->find(';'));
        if (const auto program = query_mime("default", bare); program && program->empty()) return OpenResult::NoProgram;
    }
    return start_child_detached({"xdg-open", path}) ? OpenResult::Started : OpenResult::NotStarted;
}

}  // namespace tv::letters
