#include "tolbex/archive/clinic_code.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/profile.h"
#include "common/ui.h"
#include "platform/paths.h"
#include "testing/test_root.h"
#include "testing/test_files.h"

namespace tv {
namespace {

using platform::testing::TempRoot;

using testing::write_file;

// A version 8 PATIENT.TXT whose line 8 is `recording_id`, cut after `lines` lines.
std::string patient_txt(const std::string& recording_id, int lines = 17) {
    const std::string all[] = {"C:\\ANALYSER\\CFR\\PATIENT.TXT",
                               "Mon Dec 03 14:05:09 2007",
                               "Doe, Jane",
                               "25/12/1960",
                               "46",
                               "F",
                               "op",
                               recording_id,
                               "PN-77",
                               "Dr Who",
                               "Ins",
                               "Hosp",
                               "03/12/2007",
                               "R123",
                               "R123",
                               "04/12/2007",
                               "comment"};
    std::string text;
    for (int i = 0; i < lines; ++i) text += all[i] + "\r\n";
    return text;
}

TEST(CheckDigit, GoldenSerials) {
    EXPECT_EQ(compute_check_digit("123456"), '6');  // 1,4,3,8,5,12->3: S=24
    EXPECT_EQ(compute_check_digit("999999"), '6');  // 9,18->9,...: S=54
    EXPECT_EQ(compute_check_digit("000000"), '0');
    EXPECT_EQ(compute_check_digit("000001"), '8');  // 2
    EXPECT_EQ(compute_check_digit("100000"), '9');
    EXPECT_EQ(compute_check_digit("050000"), '9');  // 10->1
    // Only the first six characters count; missing or non-digit ones count as 0.
    EXPECT_EQ(compute_check_digit("1234569999"), '6');
    EXPECT_EQ(compute_check_digit("1"), '9');
    EXPECT_EQ(compute_check_digit(""), '0');
    EXPECT_EQ(compute_check_digit("a\xFF"
                                  "0000"),
              '0');
}

TEST(TransferName, ChecksInOrder) {
    EXPECT_EQ(check_transfer_file_name("ABCD1234566", "ABCD"), kTransferNameOk);
    EXPECT_EQ(check_transfer_file_name("ABCD1234566", "WXYZ"), kTransferNameBadClinic);
    EXPECT_EQ(check_transfer_file_name("ABCD1234566", ""), kTransferNameOk);
    EXPECT_EQ(check_transfer_file_name("ABCD1234567", ""), '6');
    EXPECT_EQ(check_transfer_file_name("ABCD1234567", "ABCD"), '6');
    EXPECT_EQ(check_transfer_file_name("ABCD12a4566", ""), kTransferNameBadSerial);
    EXPECT_EQ(check_transfer_file_name("ABCD123456", ""), kTransferNameWrongLength);
    EXPECT_EQ(check_transfer_file_name("", ""), kTransferNameWrongLength);
    EXPECT_EQ(check_transfer_file_name("ABCD12345660", ""), kTransferNameWrongLength);
    // Length comes before the serial, the serial before the clinic.
    EXPECT_EQ(check_transfer_file_name("WXYZ12 4566", "ABCD"), kTransferNameBadSerial);
    // The clinic comparison is case-sensitive.
    EXPECT_EQ(check_transfer_file_name("abcd1234566", "ABCD"), kTransferNameBadClinic);
    EXPECT_EQ(check_transfer_file_name("WXYZ0000000", ""), kTransferNameOk);
    EXPECT_EQ(check_transfer_file_name("WXYZ000000X", ""), '0');
    EXPECT_EQ(check_transfer_file_name(std::string_view("ABCD\0"
                                                        "234566",
                                                        11),
                                       ""),
              kTransferNameBadSerial);
}

TEST(TransferName, Messages) {
    EXPECT_EQ(transfer_name_message(1), "The Transfer Filename must be 11 characters long.");
    EXPECT_EQ(transfer_name_message(2), "The Transfer Filename's serial number must contain only digits.");
    EXPECT_EQ(transfer_name_message(3), "The Transfer Filename's clinic code is not valid.");
    EXPECT_EQ(transfer_name_message('6'), "The Transfer Filename's check digit is not valid.");
    EXPECT_EQ(transfer_name_message(0), "");
    EXPECT_STREQ(kInvalidTransferNameTitle, "Invalid Transfer Filename");
}

TEST(ClinicCode, DialogEntryRules) {
    EXPECT_EQ(check_clinic_code_entry(""), kClinicCodeOk);
    EXPECT_EQ(check_clinic_code_entry("ab12"), kClinicCodeOk);
    EXPECT_EQ(check_clinic_code_entry("ABCD"), kClinicCodeOk);
    EXPECT_EQ(check_clinic_code_entry("ABC"), kClinicCodeWrongLength);
    EXPECT_EQ(check_clinic_code_entry("ABCDE"), kClinicCodeWrongLength);
    EXPECT_EQ(check_clinic_code_entry("    "), kClinicCodeBadCharacter);
    EXPECT_EQ(check_clinic_code_entry("AB-1"), kClinicCodeBadCharacter);
    EXPECT_EQ(check_clinic_code_entry("AB\xC9"
                                      "1"),
              kClinicCodeBadCharacter);
    EXPECT_EQ(clinic_code_entry_message(kClinicCodeWrongLength),
              "The Clinic Code must be either blank or exactly 4 characters long.");
    EXPECT_EQ(clinic_code_entry_message(kClinicCodeBadCharacter),
              "The Clinic Code not must contain spaces or punctuation.");
}

TEST(ClinicCode, DefaultCodeInTheProfileDrivesTheCheck) {
    TempRoot root;
    EXPECT_EQ(get_default_clinic_code(), "");
    EXPECT_EQ(check_transfer_file_name("WXYZ1234566"), kTransferNameOk);

    ASSERT_TRUE(set_default_clinic_code("ABCD"));
    EXPECT_EQ(get_profile_string("Pelwin", "Clinic", ""), "ABCD");
    EXPECT_EQ(check_transfer_file_name("ABCD1234566"), kTransferNameOk);
    EXPECT_EQ(check_transfer_file_name("WXYZ1234566"), kTransferNameBadClinic);

    // Stored as typed: a lower-case code rejects upper-case names.
    ASSERT_TRUE(set_default_clinic_code("ab12"));
    EXPECT_EQ(get_default_clinic_code(), "ab12");
    EXPECT_EQ(check_transfer_file_name("AB121234566"), kTransferNameBadClinic);

    ASSERT_TRUE(set_default_clinic_code(""));
    EXPECT_EQ(check_transfer_file_name("AB121234566"), kTransferNameOk);
}

TEST(ClinicCode, DialogOkStoresOnlyAnAcceptableCode) {
    TempRoot root;
    ASSERT_TRUE(set_default_clinic_code("WXYZ"));
    const std::string kLength = "The Clinic Code must be either blank or exactly 4 characters long.";
    const std::string kPunctuation = "The Clinic Code not must contain spaces or punctuation.";
    struct Case {
        const char* typed;
        bool closes;
        std::string message;  // "" when none is shown
        const char* stored;   // the profile's code afterwards
    };
    const Case cases[] = {
        {"ab12", true, "", "ab12"},       // kept as typed
        {"ABC", false, kLength, "ab12"},  // the dialog stays open, nothing stored
        {"ABCDE", false, kLength, "ab12"},
        {"AB 1", false, kPunctuation, "ab12"},
        {"AB-1", false, kPunctuation, "ab12"},
        {"", true, "", ""},  // blank clears the code
        {"DEMO", true, "", "DEMO"},
    };
    for (const Case& c : cases) {
        ClinicCodeDialogRules rules;
        ScriptedUi u;
        EXPECT_EQ(rules.ok(c.typed, u), c.closes) << c.typed;
        if (c.message.empty()) {
            EXPECT_TRUE(u.shown.empty()) << c.typed;
        } else {
            ASSERT_EQ(u.shown.size(), 1u) << c.typed;
            EXPECT_EQ(u.shown[0].text, c.message);
            EXPECT_EQ(u.shown[0].icon, MsgIcon::Error);
        }
        EXPECT_EQ(get_default_clinic_code(), c.stored) << c.typed;
    }
    // The edit starts with the stored code.
    EXPECT_EQ(ClinicCodeDialogRules().initial_text(), "DEMO");
}

TEST(ClinicCode, DialogSaysSoWhenTheCodeCannotBeStored) {
    TempRoot root;
    // A profile cut short mid-line refuses every write.
    const std::string hive = platform::user_registry_dir() + "/HKCU.reg";
    std::filesystem::create_directories(platform::user_registry_dir());
    write_file(hive, "TORVANE REGISTRY 1\r\n\r\n[Software");
    ClinicCodeDialogRules rules;
    ScriptedUi u;
    EXPECT_FALSE(rules.ok("ABCD", u));
    ASSERT_EQ(u.shown.size(), 1u);
    EXPECT_EQ(u.shown[0].text, kClinicCodeNotStoredText);
    EXPECT_EQ(u.shown[0].icon, MsgIcon::Error);
}

TEST(ReadTransferName, LineEightOfThePatientFile) {
    TempRoot root;
    const std::string folder = root / "R.IMG";
    std::filesystem::create_directories(folder);
    EXPECT_EQ(read_transfer_name(folder, ""), "");  // no PATIENT.TXT

    write_file(folder + "/PATIENT.TXT", patient_txt("ABCD1234566"));
    EXPECT_EQ(read_transfer_name(folder, ""), "ABCD1234566");
    EXPECT_EQ(read_transfer_name(folder, "ABCD"), "ABCD1234566");
    EXPECT_EQ(read_transfer_name(folder, "WXYZ"), "");

    // Through the profile's code.
    EXPECT_EQ(read_transfer_name(folder), "ABCD1234566");
    ASSERT_TRUE(set_default_clinic_code("WXYZ"));
    EXPECT_EQ(read_transfer_name(folder), "");

    // Only eight lines are needed; seven are not enough.
    write_file(folder + "/PATIENT.TXT", patient_txt("ABCD1234566", 8));
    EXPECT_EQ(read_transfer_name(folder, ""), "ABCD1234566");
    write_file(folder + "/PATIENT.TXT", patient_txt("ABCD1234566", 7));
    EXPECT_EQ(read_transfer_name(folder, ""), "");

    write_file(folder + "/PATIENT.TXT", patient_txt("ABCD1234567"));
    EXPECT_EQ(read_transfer_name(folder, ""), "");
    write_file(folder + "/PATIENT.TXT", patient_txt("--"));
    EXPECT_EQ(read_transfer_name(folder, ""), "");
}

TEST(ReadTransferName, LowerCaseFileNameAndLfLines) {
    TempRoot root;
    const std::string folder = root / "R.FUL";
    std::filesystem::create_directories(folder);
    std::string text = patient_txt("WXYZ0000000");
    std::string lf;
    for (char c : text)
        if (c != '\r') lf.push_back(c);
    write_file(folder + "/patient.txt", lf);
    EXPECT_EQ(read_transfer_name(folder, ""), "WXYZ0000000");
}

}  // namespace
}  // namespace tv
