#include "tolbex/app/sound.h"

#include "common/files.h"
#include "common/runner.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace tv {

namespace {

// The player's own lines ("aplay: ..."), without the sound library's chatter before them; all of
// it when it has none.
std::string own_lines(const std::string& output, const std::string& program) {
    const std::string prefix = program + ":";
    std::string own;
    for (std::size_t at = 0; at < output.size();) {
        std::size_t end = output.find('\n', at);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(at, end - at);
        if (line.rfind(prefix, 0) == 0) own += (own.empty() ? "" : "\n") + line;
        at = end + 1;
    }
    return own.empty() ? output : own;
}

bool run(const std::vector<std::string>& argv, std::string* said) {
    std::string output;
    const ChildEnd end = run_child_output(argv, output, false);
    if (end.code() == 0) return true;
    if (said) {
        *said = own_lines(output, argv[0]);
        if (said->empty())
            *said = end.how == ChildEnd::How::NotStarted
                        ? "\"" + argv[0] + "\" could not be started."
                        : "\"" + argv[0] + "\" ended with code " + std::to_string(end.code()) + ".";
    }
    return false;
}

}  // namespace

bool play_sound_file(const std::string& path, std::string* said) {
    if (path.empty() || !file_exists(path)) {
        if (said) *said = "The sound file is missing.";
        return false;
    }
    // "--" keeps a file name that begins with '-' from being taken as an option.
    if (!platform::resolve_program("aplay").empty()) return run({"aplay", "-q", "--", path}, said);
    if (!platform::resolve_program("xdg-open").empty()) return run({"xdg-open", path}, said);
    if (said) *said = "No sound player is installed (aplay, from the package alsa-utils).";
    return false;
}

void play_sound_file_or_tell(const std::string& path) {
    std::string said;
    if (play_sound_file(path, &said)) return;
    ui().message_box("The sound could not be played.\n\n" + said, "Cannot Play Sound", MsgIcon::Error, MsgButtons::Ok);
}

std::string find_report_sound(const std::string& report_folder) {
    if (report_folder.empty()) return {};
    const std::string path = platform::resolve_path_ci(join_path(report_folder, kPatientSoundName));
    return file_exists(path) ? path : std::string();
}

}  // namespace tv
