// The site's default clinic code and transfer file names: four characters of the clinic code,
// a six-digit serial number and one check digit ("ABCD1234566").
#pragma once
#include <string>
#include <string_view>

namespace tv {

class Ui;

inline constexpr std::size_t kTransferNameLength = 11;
inline constexpr std::size_t kClinicCodeLength = 4;
inline constexpr std::size_t kTransferSerialLength = 6;

// The default clinic code; empty when none is set.
std::string get_default_clinic_code();
// Stores the code as given (no case change); true on success.
bool set_default_clinic_code(const std::string& code);

// The Default Clinic Code dialog's check of a typed code: 0 acceptable (empty, or exactly four
// ASCII letters or digits), 1 wrong length, 2 four characters with a blank or punctuation.
enum ClinicCodeCheck { kClinicCodeOk = 0, kClinicCodeWrongLength = 1, kClinicCodeBadCharacter = 2 };
int check_clinic_code_entry(std::string_view code);
// The message shown for a non-zero result of check_clinic_code_entry ("" for 0).
std::string clinic_code_entry_message(int result);
inline constexpr const char* kClinicCodeDialogCaption = "Default Clinic Code";
inline constexpr const char* kClinicCodeDialogLabel = "Enter Clinic Code:";
// Shown when an accepted code could not be written to the profile.
inline constexpr const char* kClinicCodeNotStoredText = "The Clinic Code could not be stored.";

// The Default Clinic Code dialog without its window. The edit starts with the stored code; the
// code is stored as typed (no case change).
class ClinicCodeDialogRules {
public:
    ClinicCodeDialogRules() : initial_(get_default_clinic_code()) {}
    const std::string& initial_text() const { return initial_; }
    // OK with the edit's text: true when the code was stored and the dialog may close; false
    // when a message (error icon) was shown, and the dialog stays open with the focus on the edit.
    bool ok(const std::string& text, Ui& u);

private:
    std::string initial_;
};

// The check digit '0'..'9' of the first six characters of `serial`: weights 1,2,1,2,1,2, each
// product reduced to its digit sum, then (10 - S mod 10) mod 10. A character that is not a
// decimal digit, or is missing, counts as 0.
char compute_check_digit(std::string_view serial);

// Results of check_transfer_file_name. Any other result is the expected check digit character
// ('0'..'9', i.e. 48..57): the name's check digit is wrong.
enum TransferNameCheck {
    kTransferNameOk = 0,
    kTransferNameWrongLength = 1,
    kTransferNameBadSerial = 2,
    kTransferNameBadClinic = 3,
};
// Checks against the default clinic code (clinic characters are not checked when it is empty).
int check_transfer_file_name(std::string_view name);
// The same against a given clinic code (empty: not checked). Clinic comparison is case-sensitive.
int check_transfer_file_name(std::string_view name, std::string_view clinic_code);

// Message box title and the message for a non-zero result of check_transfer_file_name.
inline constexpr const char* kInvalidTransferNameTitle = "Invalid Transfer Filename";
std::string transfer_name_message(int result);
// Where patient details are shown, the recording id is labelled so.
inline constexpr const char* kTransferNameLabel = "Transfer Filename:";

// The start-up warning when no clinic code is set.
inline constexpr const char* kClinicCodeNotSetWarning =
    "Warning: The Clinic Code has not been set.\n\nYou set the Clinic Code via \"Options | Default Clinic Code\".";

// The report folder's transfer name: line 8 of its PATIENT.TXT (found without regard to case)
// when that line exists and is a valid transfer name (against the default clinic code);
// otherwise "".
std::string read_transfer_name(const std::string& report_folder);
// The same with a given clinic code (empty: clinic characters not checked).
std::string read_transfer_name(const std::string& report_folder, std::string_view clinic_code);

}  // namespace tv
