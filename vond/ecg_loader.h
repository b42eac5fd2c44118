// Recordings of the ECG management system: a folder (or card) holding an "*.LDSC" descriptor is
// read by that system's own loader program, never by vond. vond finds the loader, starts it with an
// argument vector (no shell, so paths may hold blanks and quotes) and turns its exit code into its
// own. The same descriptor names the patient that mode 14 writes onto a card.
#pragma once
#include <string>
#include <vector>

namespace tv::vond {

// The loader's file name and the sub-folder of vond's own folder it is installed in.
inline constexpr const char* kLoaderName = "QuorrilStandardECGLoader.exe";
inline constexpr const char* kLoaderFolder = "QuorrilStandardECGLoader";

// The loader beside vond (names matched without regard to case, ".exe" optional); empty when no
// file is there. A file that is there but cannot run is still returned: starting it fails later.
std::string find_loader(const std::string& own_folder);
// Whether any entry of the folder matches "*.LDSC" (files and folders alike).
bool has_descriptor(const std::string& folder);
// The first descriptor file of the folder in name order; empty when there is none.
std::string find_descriptor(const std::string& folder);

// Loader exit code to vond's: 0..3 channels give kExitNoRecording and the channel counts' codes;
// anything else (also a loader that could not start or was killed) kExitUnreadable.
int loader_exit_code(int loader_code);
// Starts the loader with `argv` (argv[0] the loader), waits for it and returns vond's exit code.
int run_loader(const std::vector<std::string>& argv);

// Patient details of a descriptor ("Patient Details": PatientName, PatientId), each cleaned for a
// card text field: control characters made blanks, blanks trimmed, at most 159 bytes. False when the
// file is missing, too large to be a descriptor or unreadable.
struct DescriptorPatient {
    std::string name, id;
};
bool read_descriptor_patient(const std::string& path, DescriptorPatient& out);
std::string clean_card_text(const std::string& text);

}  // namespace tv::vond
