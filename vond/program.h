// The card interface program: its command line, its modes and its exit code.
#pragma once
#include <string>
#include <vector>

#include "vond/card_disk.h"
#include "vond/exit_codes.h"

namespace tv::vond {

// Modes selected by the command line.
enum Mode {
    kModeNone = 0,
    kWriteCnav = 1,
    kWritePath = 2,
    kWriteStand = 3,
    kWriteScan = 4,
    kWriteMerivale = 5,
    kReadPatCnav = 6,
    kReadPatPath = 7,
    kReadPatStand = 8,
    kReadPatScan = 9,
    kReadEcgHide = 10,
    kReadEcgStand = 11,
    kChangePat = 12,
    kWav = 13,
    kSetPat = 14,
    kReadPatStatus = 15
};

struct CommandLine {
    bool valid = true;
    int mode = kModeNone;
    int output_format = kFormatNone;
    std::string output_folder, input_folder, set_patient, procedure_id;
    bool fir = false, confirmed = false, skip24 = false, scramble = false;
    int skip = -1, duration = -1, calibration = -1, resolution = 12;
    bool resolution_given = false;
};

// Reads the arguments (the program name excluded). Later switches win; anything unknown or out
// of range makes the line invalid.
CommandLine parse_command_line(const std::vector<std::string>& args);

// Runs the whole program and returns its exit code.
int run_vond(const std::vector<std::string>& args);

// PATSUMM.DAT: name, id, recording start, recorder id, "1", channels, length, details time,
// second time.
bool write_patient_summary(const std::string& folder, const RecordingInfo& info);
// First two lines of patsumm.dat; false when it cannot be opened.
bool read_patient_summary(const std::string& folder, std::string& name, std::string& id);
// The recording ID of cnavop.dat: its first line, at most 79 characters; "" without one.
std::string read_recording_id(const std::string& folder);

// Input found in "/ipdir=": a recording folder or a compressed ECG file. `refused` when the
// name is a link, is neither folder nor file, or cannot be examined.
struct FoundInput {
    bool found = false;
    bool compressed = false;
    bool refused = false;
    std::string path;
    int channels = 0;
};
FoundInput find_input(const std::string& path);
bool is_compressed_ecg_file(const std::string& path, int* channels);
// Unpacks a compressed ECG file into a new temporary folder (with a trailing '/'); empty on
// failure (the message has been shown then).
std::string unpack_input(const std::string& cef, bool whole);

}  // namespace tv::vond
