// The rules of vond's windows: the card dialog (prepares a card for a new recording), the read
// dialog (reads patient details and ECG) and the progress dialogs. The Qt classes in vond/ui/
// only move values between controls and these classes, so tests drive them without a window.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vond/card_disk.h"

namespace tv::vond {

// Letters offered by the card dialog's drive list: the default drive always; C never otherwise;
// other mapped drives that are removable or fixed, have a label and hold 1 byte to 400 MB.
std::vector<char> card_drive_letters(char default_drive);

// fir.dat: 32 lines, each line's leading number keeps its low 8 bits; missing lines repeat the
// last value (0 for an empty file). False when the file cannot be opened.
bool load_fir_table(const std::string& path, std::array<std::uint16_t, 32>& table);

class CardDialogRules {
public:
    CardDialogRules(CardDisk& disk, std::string output_folder)
        : disk_(disk), output_folder_(std::move(output_folder)) {}

    std::string name, id, cnavop;
    bool fir = false;
    // "E:", "?" for none; ">2" appended when several cards were found.
    std::string drive = "?";
    char default_drive = '?';
    bool close_after_init = false, automatic = true, hide_fir = true, read_only_patient = false;
    // The letter chosen in the drive list (not automatic); 0 when the list is empty.
    char selected_letter = 0;

    // True when the card is ready for a new recording. Not automatic: the outcome is reported
    // and `closed_program()` tells whether the program is to end now.
    bool initialise_card();
    bool closed_program() const { return closed_; }
    const std::array<std::uint16_t, 32>& fir_table() const { return fir_table_; }

private:
    CardDisk& disk_;
    std::string output_folder_;
    std::array<std::uint16_t, 32> fir_table_{};
    bool closed_ = false;
};

class ReadDialogRules {
public:
    ReadDialogRules(CardDisk& disk, std::string output_folder)
        : disk_(disk), output_folder_(std::move(output_folder)) {}

    bool automatic = true;
    RecordingInfo info;
    // Plays a sound file without waiting: the window's to give; without one nothing is played.
    std::function<void(const std::string& wav)> play_sound;

    // Fills `info` from the card and writes PATSUMM.DAT into the output folder.
    bool read_patient_details();
    // Reads the ECG in `format` (3 copies the card's files instead). Not automatic: a progress
    // dialog runs and the outcome is reported.
    bool read_ecg(int format);
    // "Read Patient" / "Read ECG Data": finds the card first (message 131 without one).
    bool read_patient_button(char default_drive);
    // In the stand-alone modes (8, 11) a card with a speech recording offers to play it first.
    bool read_ecg_button(char default_drive, int mode);
    // The card had a patient sound recording (after "Read ECG Data").
    bool has_sound() const { return has_sound_; }
    const std::string& output_folder() const { return output_folder_; }

private:
    bool select_card(char default_drive);
    CardDisk& disk_;
    std::string output_folder_;
    bool has_sound_ = false;
};

// The main frame exists only to own the message loop: hidden for the runs that answer through
// their exit code alone, minimised for the others.
enum class FrameState { Hidden, Minimised };
FrameState frame_state(int mode);

// A progress dialog's bar. The reading dialog counts in 16 bits, the conditioning dialog in 32
// (a card has millions of sectors); a range or position beyond what the bar holds is clamped,
// never wrapped.
class ProgressRules {
public:
    explicit ProgressRules(bool conditioning) : conditioning_(conditioning) {}
    bool conditioning() const { return conditioning_; }
    std::string title() const;
    std::string text() const;
    void set_range(std::uint32_t max);
    void set_position(std::uint32_t pos);
    int maximum() const { return maximum_; }
    int position() const { return position_; }

private:
    bool conditioning_;
    int maximum_ = 100;
    int position_ = 0;
};

// Choosing the card drive when the search finds several cards, or none and the user asked to
// select the drive. The list holds the cards found, or (none found) the drives a new card can sit
// in, with the default drive selected when listed.
struct DriveEntry {
    char letter = 0;
    std::string folder, label;
    std::uint64_t capacity = 0;
};

class DrivePromptRules {
public:
    enum class Outcome { Open, Chosen, SearchAgain, Cancelled };
    DrivePromptRules(char default_drive, bool offer_when_none);

    // Runs the card search and refills the list; the outcome is open again.
    void search();
    // True when the search settled nothing the user could decide.
    bool needs_prompt() const;
    bool several() const { return cards_ > 1; }
    const std::vector<DriveEntry>& entries() const { return entries_; }
    std::string text() const;
    static std::string entry_text(const DriveEntry& e);
    int selected = -1;

    // "OK": the selected drive, which must still be there (message 131 otherwise, and the prompt
    // stays open). False keeps the prompt open.
    bool choose();
    void search_again() { outcome_ = Outcome::SearchAgain; }
    void cancel() { outcome_ = Outcome::Cancelled; }
    Outcome outcome() const { return outcome_; }
    // The drive found or chosen: a card that was not settled carries `several`; none is '?'.
    CardSearch result() const;

private:
    char default_drive_;
    bool offer_when_none_;
    std::size_t cards_ = 0;
    CardSearch found_;
    std::vector<DriveEntry> entries_;
    Outcome outcome_ = Outcome::Open;
    CardSearch chosen_;
};

// The card drive search that lets the user choose: several cards are settled by the user (or
// stay marked several when the user cancels); with `offer_when_none`, a missing card can be
// chosen among the drives that may hold one.
CardSearch search_card_drive_asking(char default_drive, bool offer_when_none);

// The windows themselves; a windowed build installs them. Without them (the core library alone)
// a mode that must show a window ends with kExitNoCard, as if the user had declined.
class VondWindows {
public:
    virtual ~VondWindows() = default;
    // False when no window can be shown here (no display): such runs end as without windows.
    virtual bool available() const = 0;
    // The command line was accepted: the frame's show state follows the mode. The frame itself is
    // made with the first window the run shows.
    virtual void start(int mode) { (void)mode; }
    // A window has been shown in this run (the toolkit is up).
    virtual bool active() const { return false; }
    // The run is over: the frame closes.
    virtual void finish() {}
    // Modal card dialog: 1 after "Exit", -1 when a successful initialisation closed the program.
    virtual int show_card_dialog(CardDialogRules& rules) = 0;
    virtual int show_read_dialog(ReadDialogRules& rules, int mode, char default_drive) = 0;
    // Modal drive prompt; its outcome is left in `rules`.
    virtual void choose_drive(DrivePromptRules& rules) = 0;
    // Modeless progress: `conditioning` selects the conditioning dialog, else the ECG-reading one.
    virtual std::unique_ptr<Progress> open_progress(bool conditioning) = 0;
};
VondWindows* windows();
void set_windows(VondWindows* w);
// The conditioning progress, shown only while a window run is going on; null otherwise.
std::unique_ptr<Progress> open_conditioning_progress();

}  // namespace tv::vond
