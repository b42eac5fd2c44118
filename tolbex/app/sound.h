// Playing a report's sound. The sound card is reached through `aplay`, run with an argument
// vector (never a shell) so that no file name is ever read as a command; where it is not
// installed, the desktop's own player is opened on the file instead (`xdg-open`, which returns
// at once and cannot tell whether the sound played).
#pragma once
#include <string>

namespace tv {

// The sound file a recording brings from its card, in the report folder.
inline constexpr const char* kPatientSoundName = "PATIENT.WAV";

// Plays the file to its end. A missing file plays nothing (no default sound). False when the
// file is missing, no player could be started, or the player failed; `said` then gets what the
// player said (aplay names the missing sound device), or why nothing played.
bool play_sound_file(const std::string& path, std::string* said = nullptr);

// Plays the file and tells the user, in an error box, when it could not be played.
void play_sound_file_or_tell(const std::string& path);

// The report folder's PATIENT.WAV in whatever case it is spelt; "" when it has none.
std::string find_report_sound(const std::string& report_folder);

}  // namespace tv
