// A tape into a compressed ECG file: the intake sequence from the Tape Options dialog through the
// reader and its loading dialog to the CEF written straight from the mappings (header from the
// tape data, one channel file per channel, the patient events) and handed to its destination.
// Every intake works in a fresh private folder of its own that goes when it ends; the mappings
// go with it. The dialogs and the destinations are injected steps.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/tape_mappings.h"
#include "formats/cef.h"
#include "tolbex/intake/intake.h"
#include "tolbex/tape/tape_reader.h"

namespace tv {

class TapeMappings;

// Destinations of an intake.
inline constexpr int kTapeToArchive = static_cast<int>(IntakeDestination::Archive);
inline constexpr int kTapeToFolder = static_cast<int>(IntakeDestination::Folder);
inline constexpr int kTapeToMail = static_cast<int>(IntakeDestination::Mail);

// The recording's start as a sample position since midnight, from the time code and the offset
// at which it was read; 0 without a time code.
std::int32_t cef_start_sample(const TapeDataBlock& tape);

inline constexpr const char* kPatientEventsWriteText = "Couldn't write the patient events file.";
// PATEVENT.DAT: one line per event, its position in whole seconds; no file without events.
bool write_patient_events(const TapeMappings& mappings, const std::string& path);

inline constexpr const char* kMappingsFailedText =
    "Couldn't open the memory-mapped files used to access the ECG from the replay deck.";
inline constexpr const char* kPatientDetailsWriteText = "Couldn't write patient details file.";
inline constexpr const char* kEcgDiskFullText =
    "The disk filled up while writing the ECG data to temporary files. (It may no longer be full, because temporary "
    "files were deleted after it filled up.)";
inline constexpr const char* kEcgWriteFailedText = "There was an error while writing the ECG data to temporary files.";
inline constexpr const char* kTempFolderFailedText = "Couldn't create temporary folder: \"%s\"";

// Writes the CEF at `output_path` from the mappings, with `work_folder` (empty, private) for the
// channel files, PATIENT.TXT and PATEVENT.DAT. Shows its own messages; false on failure, and the
// output is then deleted.
bool write_tape_cef(const TapeMappings& mappings, const TapeOptions& options, const PatientDetails& details,
                    const std::string& work_folder, const std::string& output_path, CefProgress* progress);

// The steps of an intake that belong to windows or to other parts of the program.
struct TapeIntakeSteps {
    // Tape Options dialog; false when it did not end with OK.
    std::function<bool(TapeOptions& options, bool for_mail)> choose_options;
    // Loading dialog over the running reader; true when it ended with OK (the reader has ended).
    std::function<bool(TapeLoadSession& session)> run_loading;
    // Patient Details, prefilled with the recorder ID and recording date of the tape and the level;
    // "Compress Recording" checked and not changeable. Nothing when cancelled.
    std::function<std::optional<PatientDetails>(const PatientDetails& prefilled, bool for_mail)> ask_patient_details;
    // Delivers the finished CEF (store in an archive, save in a folder, mail); the file is deleted
    // after it returns.
    std::function<bool(const std::string& cef_path, const PatientDetails& details, int destination)> deliver;
    // Wait-dialog texts while the CEF is written (optional).
    std::function<std::unique_ptr<CefProgress>()> make_progress;
    // The analysis system's main window is open (default: a window titled "Quorril").
    std::function<bool()> analysis_system_running;
    std::string reader_program;  // default: KELMOTH.EXE beside the running program
};

enum class TapeIntakeResult { stopped, failed, delivered };

// The whole sequence for destination 0, 1 or 2. `stopped`: refused or cancelled with nothing
// done; `failed`: a message was shown; `delivered`: the deliver step succeeded.
TapeIntakeResult create_cef_from_tape(int destination, const TapeIntakeSteps& steps);

}  // namespace tv
