// The replay-deck reader KELMOTH as tolbex's child: the tape options that choose its command line,
// the process itself, the loading dialog's polling of the mappings while it runs, and the
// judgement of its exit code with the message for each. No Qt: the dialogs in ui/ are thin.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/runner.h"
#include "kelmoth/exit_codes.h"
#include "platform/process.h"

namespace tv {

class TapeMappings;

// The result of the Tape Options dialog.
struct TapeOptions {
    int type_index = 0;  // 0..5, the row of kTapeTypes
    int bit_reduction = 4;
    bool ignore_time_track = false;
    bool skip_24_hours = false;
    bool use_ddssr = true;
    bool half_gain = false;
    bool use_pacing = true;
};

struct TapeType {
    const char* list_text;
    int reader_type;  // KELMOTH's /type
    int channels;
    bool pacing_allowed;
};
inline constexpr int kTapeTypeCount = 6;
inline constexpr TapeType kTapeTypes[kTapeTypeCount] = {
    {"Wendle 2", 1, 2, true},    {"Wendle 3", 2, 3, true},    {"Wendle D60", 3, 2, true},
    {"Dunmarra 2", 5, 2, false}, {"Dunmarra 3", 6, 3, false}, {"Industry Standard 1mm", 9, 2, false},
};
// The stored index, with one outside the table read as 0 (the tables have no row for it).
int clamp_tape_type_index(int index);
int tape_channel_count(int type_index);

// Profile "Settings" "CEF Tape Type": the last type chosen (0 when missing or out of range).
int get_cef_tape_type();
bool set_cef_tape_type(int index);

inline constexpr const char* kTapeReaderProgram = "KELMOTH.EXE";
// "/type T /pace P /flutter F /gain G" [/disablespeedcontrol] [/skip24], one token each.
std::vector<std::string> tape_reader_arguments(const TapeOptions& options);
// KELMOTH.EXE in the running program's own folder.
std::string default_tape_reader_path();

// Sample arithmetic at 128 per second.
inline constexpr std::int32_t kSamplesPerMinute = 7680;
inline constexpr std::int32_t kSamplesPerDay = 11059200;
inline constexpr std::int32_t kEnoughTapeSamples = 76800;       // 10 minutes
inline constexpr std::int32_t kLoadingRangeSamples = 11520000;  // 25 hours, the progress bar's range

// "%02d:%02d:%02d" below one day, else "(%d) %02d:%02d:%02d" (days, then the time within the day).
std::string tape_duration_text(std::int64_t samples);
// "IDLE", "LOADING", "CASSETTE OUT", "ERROR", "FINISHED", else "UNKNOWN".
std::string deck_state_text(std::int32_t state);

// What the reader's exit code (kelmoth/exit_codes.h) says.
std::string tape_reader_message(int exit_code);
// Shows it (error icon).
void show_tape_reader_error(int exit_code);

inline constexpr const char* kDeckBusyText =
    "The replay deck is being used by another tape loading. Please wait until it has finished, then try again.";
inline constexpr const char* kCannotRunReaderText = "Couldn't run the \"KELMOTH.EXE\" program.";
inline constexpr const char* kReaderNotShutDownText = "The KELMOTH.EXE program did not shut down properly.";
inline constexpr const char* kNotEnoughEcgText =
    "The amount of ECG that was loaded is insufficient to create a compressed report.";
inline constexpr const char* kLoadingCaption = "Loading From Tape...";
inline constexpr const char* kLoadingText = "Please wait while the recording is loaded from tape.";
inline constexpr const char* kPressStopText =
    "Please press the stop button on the tape deck to cancel the operation.\nThis dialog will then disappear, and you "
    "can click cancel on the next dialog box that appears.";
// Offered by a Cancel once the stop-button notice has been out for a while: a reader that hangs
// must not hold the program for ever.
inline constexpr const char* kEndReaderQuestion =
    "The tape has not stopped loading.\n\nDo you want to end the KELMOTH.EXE program now?\nThe ECG loaded so far "
    "will be discarded.";
inline constexpr int kEndReaderOfferMs = 30000;

// The reader process: started with an argument vector through the runner (holding its guard, so
// the intake commands stay disabled and the program does not close while it runs), polled without
// blocking, and ended by force only when the intake gives it up. The destructor ends a reader
// still running.
class TapeReader {
public:
    TapeReader() = default;
    ~TapeReader();
    TapeReader(const TapeReader&) = delete;
    TapeReader& operator=(const TapeReader&) = delete;

    // False when it could not be started.
    bool start(const std::string& program, const std::vector<std::string>& arguments);
    // True once it has ended; `exit_code` is then its code (-1 its own exit(-1), -2 none: killed,
    // or its status could not be read).
    bool poll(int& exit_code);
    bool running() const { return child_.running(); }
    // Sets "KELMOTH SHUTDOWN REQ" so that the reader tells the deck to stop and ends with its code;
    // SIGTERM when it has not ended after `request_ms`, SIGKILL after `grace_ms` more. Reaps it;
    // its code is -2 only when it had to be killed.
    void terminate(int request_ms = 15000, int grace_ms = 2000);

private:
    ChildProgram child_;
    int exit_code_ = platform::kExitUnknown;
};

// The loading dialog's rules: one update at once, then one every 500 ms.
class TapeLoadSession {
public:
    TapeLoadSession(TapeMappings& mappings, TapeReader& reader) : mappings_(mappings), reader_(reader) {}

    enum class Tick { running, ended };
    // Reads the reader's state: `ended` once it has exited (the dialog then ends with OK). Then the
    // progress, amount and status from the mappings.
    Tick tick();
    std::int32_t progress() const { return progress_; }
    const std::string& amount_text() const { return amount_; }
    const std::string& status_text() const { return status_; }
    int exit_code() const { return exit_code_; }

    // Cancel: shows the stop-button notice and keeps the dialog open. Once the notice has been out
    // for end_offer_ms, a Cancel asks whether to end the reader; Yes ends it and gives true (the
    // dialog then ends as cancelled).
    bool cancel(std::int64_t now_ms);
    void set_end_offer_ms(int ms) { end_offer_ms_ = ms; }

private:
    TapeMappings& mappings_;
    TapeReader& reader_;
    std::int32_t progress_ = 0;
    std::string amount_ = tape_duration_text(0), status_ = "IDLE";
    int exit_code_ = platform::kExitUnknown;
    std::int64_t first_notice_ms_ = -1;
    int end_offer_ms_ = kEndReaderOfferMs;
};

// After the loading dialog ended with OK: true when enough ECG was loaded to go on. Shows the
// exit code's message (error icon), or the warning of a code that still gives a recording.
bool judge_tape_reader_exit(int exit_code, std::int32_t samples_loaded);

}  // namespace tv
