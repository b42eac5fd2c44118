#include "tolbex/archive/clinic_code.h"

#include "common/profile.h"
#include "common/profile_names.h"
#include "common/ui.h"
#include "common/values.h"
#include "tolbex/archive/patient_txt.h"

namespace tv {

std::string get_default_clinic_code() { return get_profile_string(kPelwinSection, kClinicCodeValue, ""); }

bool set_default_clinic_code(const std::string& code) {
    return write_profile_string(kPelwinSection, kClinicCodeValue, code);
}

int check_clinic_code_entry(std::string_view code) {
    if (code.empty()) return kClinicCodeOk;
    if (code.size() != kClinicCodeLength) return kClinicCodeWrongLength;
    for (char c : code)
        if (!is_alnum(c)) return kClinicCodeBadCharacter;
    return kClinicCodeOk;
}

std::string clinic_code_entry_message(int result) {
    switch (result) {
        case kClinicCodeOk: return "";
        case kClinicCodeWrongLength: return "The Clinic Code must be either blank or exactly 4 characters long.";
        default: return "The Clinic Code not must contain spaces or punctuation.";
    }
}

bool ClinicCodeDialogRules::ok(const std::string& text, Ui& u) {
    const int check = check_clinic_code_entry(text);
    if (check != kClinicCodeOk) {
        u.message_box(clinic_code_entry_message(check), "", MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    // A code that did not reach the profile must not look accepted.
    if (!set_default_clinic_code(text)) {
        u.message_box(kClinicCodeNotStoredText, "", MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    return true;
}

char compute_check_digit(std::string_view serial) {
    int sum = 0;
    for (std::size_t i = 0; i < kTransferSerialLength; ++i) {
        const int digit = i < serial.size() && is_digit(serial[i]) ? serial[i] - '0' : 0;
        int product = digit * (i % 2 == 0 ? 1 : 2);
        while (product > 9) product = product / 10 + product % 10;
        sum += product;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

int check_transfer_file_name(std::string_view name) {
    return check_transfer_file_name(name, get_default_clinic_code());
}

int check_transfer_file_name(std::string_view name, std::string_view clinic_code) {
    if (name.size() != kTransferNameLength) return kTransferNameWrongLength;
    const std::string_view serial = name.substr(kClinicCodeLength, kTransferSerialLength);
    for (char c : serial)
        if (!is_digit(c)) return kTransferNameBadSerial;
    if (!clinic_code.empty() && name.substr(0, kClinicCodeLength) != clinic_code) return kTransferNameBadClinic;
    const char expected = compute_check_digit(serial);
    if (name[kTransferNameLength - 1] == expected) return kTransferNameOk;
    return expected;
}

std::string transfer_name_message(int result) {
    switch (result) {
        case kTransferNameOk: return "";
        case kTransferNameWrongLength: return "The Transfer Filename must be 11 characters long.";
        case kTransferNameBadSerial: return "The Transfer Filename's serial number must contain only digits.";
        case kTransferNameBadClinic: return "The Transfer Filename's clinic code is not valid.";
        default: return "The Transfer Filename's check digit is not valid.";
    }
}

std::string read_transfer_name(const std::string& report_folder) {
    return read_transfer_name(report_folder, get_default_clinic_code());
}

std::string read_transfer_name(const std::string& report_folder, std::string_view clinic_code) {
    const std::string path = find_report_file(report_folder, kPatientTxtName);
    if (path.empty()) return "";
    auto line = read_text_file_line(path, kPatientTxtRecordingIdLine);
    if (!line || check_transfer_file_name(*line, clinic_code) != kTransferNameOk) return "";
    return *line;
}

}  // namespace tv
