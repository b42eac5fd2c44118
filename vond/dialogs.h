// The rules of vond's windows: the card dialog (prepares a card for a new recording), the read
// dialog (reads patient details and ECG) and the progress dialogs. The Qt classes in vond/ui/
// only move values between controls and these classes, so tests drive them without a window.
#pragma once
#include <array>
#include <cstdint>
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
    CardDialogRules(CardDisk& disk, std::string output_folder) : disk_(disk), output_folder_(std::move(output_folder)) {}

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
    ReadDialogRules(CardDisk& disk, std::string output_folder) : disk_(disk), output_folder_(std::move(output_folder)) {}

    bool automatic = true;
    RecordingInfo info;

    // Fills `info` from the card and writes PATSUMM.DAT into the output folder.
    bool read_patient_details();
    // Reads the ECG in `format` (3 copies the card's files instead). Not automatic: a progress
    // dialog runs and the outcome is reported.
    bool read_ecg(int format);
    // "Read Patient" / "Read ECG Data": finds the card first (message 131 without one).
    bool read_patient_button(char default_drive);
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

// The windows themselves; a windowed build installs them. Without them (the core library alone)
// a mode that must show a window ends with 102, as if the user had declined.
class VondWindows {
public:
    virtual ~VondWindows() = default;
    // False when no window can be shown here (no display): such runs end as without windows.
    virtual bool available() const = 0;
    // Modal card dialog: 1 after "Exit", -1 when a successful initialisation closed the program.
    virtual int show_card_dialog(CardDialogRules& rules) = 0;
    virtual int show_read_dialog(ReadDialogRules& rules, int mode, char default_drive) = 0;
    // Modeless progress: `conditioning` selects the conditioning dialog, else the ECG-reading one.
    virtual std::unique_ptr<Progress> open_progress(bool conditioning) = 0;
};
VondWindows* windows();
void set_windows(VondWindows* w);

}  // namespace tv::vond
