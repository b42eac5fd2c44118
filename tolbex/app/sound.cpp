#include "tolbex/app/sound.h"

#include "common/files.h"
#include "common/runner.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace tv {

namespace {

bool run(const std::vector<std::string>& argv) { return run_child(argv, false).code() == 0; }

}  // namespace

bool play_sound_file(const std::string& path) {
    if (path.empty() || !file_exists(path)) return false;
    // "--" keeps a file name that begins with '-' from being taken as an option.
    if (!platform::resolve_program("aplay").empty()) return run({"aplay", "-q", "--", path});
    if (!platform::resolve_program("xdg-open").empty()) return run({"xdg-open", path});
    return false;
}

std::string find_report_sound(const std::string& report_folder) {
    if (report_folder.empty()) return {};
    const std::string path = platform::resolve_path_ci(join_path(report_folder, kPatientSoundName));
    return file_exists(path) ? path : std::string();
}

}  // namespace tv
