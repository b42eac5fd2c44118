#include "tolbex/archive/patient_txt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "testing/test_root.h"
#include "testing/test_files.h"

namespace tv {
namespace {

using platform::testing::TempRoot;

using testing::write_file;

using testing::join_lines;

// A version 8 PATIENT.TXT as the analysis system writes it.
std::vector<std::string> v8_lines() {
    return {"C:\\ANALYSER\\CFR\\PATIENT.TXT",
            "Mon Dec 03 14:05:09 2007",
            "M\xFCller, J\xFCrgen",  // Windows-1252 bytes stay as they are
            "25/12/1960",
            "46",
            "M",
            "Dr Op",
            "ABCD1234566",
            "PN 0042",
            "Dr Phys",
            "AOK",
            "St Elsewhere",
            "13/12/2007 14:05:09",  // days above 12 read the same in every locale
            "R-100",
            "R-100",
            "14/12/2007",
            "First comment line",
            "second line"};
}

PatientDate date(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    PatientDate p;
    p.status = PatientDate::Status::Valid;
    p.year = y, p.month = m, p.day = d, p.hour = h, p.minute = mi, p.second = s;
    return p;
}

}  // namespace

void PrintTo(const PatientDate& d, std::ostream* os) {
    if (!d.is_valid()) {
        *os << "null";
        return;
    }
    *os << d.year << '-' << d.month << '-' << d.day << ' ' << d.hour << ':' << d.minute << ':' << d.second;
}

namespace {

class PatientTxtTest : public ::testing::Test {
protected:
    TempRoot root_;
    std::string folder_ = root_ / "R.IMG";
    void SetUp() override { std::filesystem::create_directories(folder_); }
    std::string path() const { return folder_ + "/PATIENT.TXT"; }
};

TEST_F(PatientTxtTest, ReadsTheVersion8Record) {
    write_file(path(), join_lines(v8_lines()));
    PatientTxt p;
    ASSERT_TRUE(p.read(path()));
    EXPECT_TRUE(p.m_loaded);
    EXPECT_EQ(p.m_name, "M\xFCller, J\xFCrgen");
    EXPECT_EQ(p.m_dob, date(1960, 12, 25));
    EXPECT_EQ(p.m_age, 46);
    EXPECT_EQ(p.m_sex, "M");
    EXPECT_EQ(p.m_operator, "Dr Op");
    EXPECT_EQ(p.m_recording_id, "ABCD1234566");
    EXPECT_EQ(p.m_patient_number, "PN 0042");
    EXPECT_EQ(p.m_physician, "Dr Phys");
    EXPECT_EQ(p.m_insurer, "AOK");
    EXPECT_EQ(p.m_hospital, "St Elsewhere");
    EXPECT_EQ(p.m_recording_date, date(2007, 12, 13, 14, 5, 9));
    EXPECT_EQ(p.m_recorder_id, "R-100");
    EXPECT_EQ(p.m_analysis_date, date(2007, 12, 14));

    // LF line ends, trailing blanks, and a lower-case name found through the folder.
    std::filesystem::remove(path());
    auto lines = v8_lines();
    lines[2] += "  \t";
    write_file(folder_ + "/patient.txt", join_lines(lines, "\n"));
    PatientTxt q;
    ASSERT_TRUE(q.read_folder(folder_));
    EXPECT_EQ(q.m_name, "M\xFCller, J\xFCrgen");
    EXPECT_EQ(q.m_recording_id, "ABCD1234566");
    ASSERT_TRUE(q.read(path()));  // the upper-case spelling finds it too
}

TEST_F(PatientTxtTest, DashesAreEmptyAndBlankDatesAreNull) {
    auto lines = v8_lines();
    lines[3] = "--";  // dob
    lines[4] = "-";   // age
    lines[5] = "--";  // sex
    lines[12] = "   ";
    lines[15] = "-";
    lines[7] = "---";  // only one or two dashes mean empty
    write_file(path(), join_lines(lines));
    PatientTxt p;
    ASSERT_TRUE(p.read(path()));
    EXPECT_FALSE(p.m_dob.is_valid());
    EXPECT_FALSE(p.m_recording_date.is_valid());
    EXPECT_FALSE(p.m_analysis_date.is_valid());
    EXPECT_EQ(p.m_age, -1);
    EXPECT_EQ(p.m_sex, "");
    EXPECT_EQ(p.m_recording_id, "---");
}

TEST_F(PatientTxtTest, AgeIsReadAsADecimalNumber) {
    auto lines = v8_lines();
    for (auto [text, age] : std::vector<std::pair<std::string, int>>{
             {" 42 years", 42}, {"abc", 0}, {"+7", 7}, {"99999999999", 2147483647}, {"-3", -3}}) {
        lines[4] = text;
        write_file(path(), join_lines(lines));
        PatientTxt p;
        ASSERT_TRUE(p.read(path())) << text;
        EXPECT_EQ(p.m_age, age) << text;
    }
}

TEST_F(PatientTxtTest, FailuresLeaveAnEmptyRecord) {
    PatientTxt p;
    EXPECT_FALSE(p.read(path()));  // missing
    EXPECT_FALSE(p.read_folder(folder_));
    EXPECT_FALSE(p.m_loaded);

    auto lines = v8_lines();
    lines.resize(15);  // one line short
    write_file(path(), join_lines(lines));
    p.m_name = "stale";
    EXPECT_FALSE(p.read(path()));
    EXPECT_EQ(p.m_name, "");
    EXPECT_EQ(p.m_recording_id, "");
    EXPECT_EQ(p.m_age, -1);
    EXPECT_FALSE(p.m_loaded);

    lines = v8_lines();
    lines.resize(16);  // exactly 16 lines is enough
    write_file(path(), join_lines(lines));
    EXPECT_TRUE(p.read(path()));

    for (int bad : {3, 12, 15}) {
        lines = v8_lines();
        lines[bad] = "not a date";
        write_file(path(), join_lines(lines));
        EXPECT_FALSE(p.read(path())) << bad;
        EXPECT_EQ(p.m_name, "") << bad;
        EXPECT_FALSE(p.m_loaded) << bad;
    }

    // A folder where the file should be.
    std::filesystem::create_directories(folder_ + "/x/PATIENT.TXT");
    EXPECT_FALSE(p.read(folder_ + "/x/PATIENT.TXT"));
}

TEST_F(PatientTxtTest, HostileFilesNeverCrash) {
    auto lines = v8_lines();
    lines[2] = std::string("Jane\0Doe", 8);
    lines[4] = std::string(3 * kReportTextLineMax, '9');
    lines[6] = std::string(200, '\xFF');
    write_file(path(), join_lines(lines));
    PatientTxt p;
    ASSERT_TRUE(p.read(path()));
    EXPECT_EQ(p.m_name, "Jane");  // cut at the NUL
    EXPECT_EQ(p.m_age, 2147483647);
    EXPECT_EQ(p.m_operator, std::string(200, '\xFF'));
    EXPECT_EQ(p.m_recording_id, "ABCD1234566");  // the long line did not spill into later ones

    std::string noise;
    for (int i = 0; i < 5000; ++i) noise.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    write_file(path(), noise);
    (void)p.read(path());
    write_file(path(), std::string(1 << 20, '\0'));
    EXPECT_FALSE(p.read(path()));
    write_file(path(), "");
    EXPECT_FALSE(p.read(path()));
}

TEST(PatientDateParse, NumericOrdersAndTimes) {
    EXPECT_EQ(parse_patient_date("12/03/1960", 1), date(1960, 3, 12));
    EXPECT_EQ(parse_patient_date("12/03/1960", 0), date(1960, 12, 3));
    EXPECT_EQ(parse_patient_date("1960/03/12", 0), date(1960, 3, 12));
    EXPECT_EQ(parse_patient_date("60.03.12", 2), date(1960, 3, 12));
    EXPECT_EQ(parse_patient_date("12.03.60", 1), date(1960, 3, 12));
    EXPECT_EQ(parse_patient_date("12-03-07", 1), date(2007, 3, 12));
    EXPECT_EQ(parse_patient_date("12-03-29", 1), date(2029, 3, 12));
    EXPECT_EQ(parse_patient_date("12-03-30", 1), date(1930, 3, 12));
    // The locale's order cannot be meant: the other one is taken.
    EXPECT_EQ(parse_patient_date("25/12/1960", 0), date(1960, 12, 25));
    EXPECT_EQ(parse_patient_date("12/25/1960", 1), date(1960, 12, 25));
    EXPECT_EQ(parse_patient_date("03/12/2007 14:05:09", 1), date(2007, 12, 3, 14, 5, 9));
    EXPECT_EQ(parse_patient_date("03/12/2007 2:05 PM", 1), date(2007, 12, 3, 14, 5, 0));
    EXPECT_EQ(parse_patient_date("03/12/2007 12:05 am", 1), date(2007, 12, 3, 0, 5, 0));
    EXPECT_EQ(parse_patient_date("14:05", 1), date(1899, 12, 30, 14, 5, 0));
    EXPECT_EQ(parse_patient_date("29/02/2000", 1), date(2000, 2, 29));
}

TEST(PatientDateParse, MonthNames) {
    EXPECT_EQ(parse_patient_date("12 March 1960", 0), date(1960, 3, 12));
    EXPECT_EQ(parse_patient_date("Mar 12, 1960", 1), date(1960, 3, 12));
    EXPECT_EQ(parse_patient_date("1960 mar 12", 1), date(1960, 3, 12));
    EXPECT_EQ(parse_patient_date("3 Dec 07", 1), date(2007, 12, 3));
}

TEST(PatientDateParse, Rejects) {
    for (const char* bad : {"", "   ", "not a date", "31/02/2000", "29/02/1900", "12/13/14/15", "12/1960", "0/0/0",
                            "25:00", "12:60", "12/03/1960 25:00", "12/03/19601", "Foo 12 1960", "12//", "13 PM",
                            "12/03/1960 13:00 PM", "\xE9/03/1960", "12/03/0050", "1:2:3:4"}) {
        EXPECT_FALSE(parse_patient_date(bad, 1).has_value()) << bad;
    }
}

TEST(VersionTxt, NumberAfterTheFirstCharacter) {
    EXPECT_DOUBLE_EQ(parse_version_text("V8.006"), 8.006);
    EXPECT_DOUBLE_EQ(parse_version_text("  V 7.5"), 7.5);
    EXPECT_DOUBLE_EQ(parse_version_text("8.006"), 0.006);
    EXPECT_DOUBLE_EQ(parse_version_text("V"), 0.0);
    EXPECT_DOUBLE_EQ(parse_version_text(""), 0.0);
    EXPECT_DOUBLE_EQ(parse_version_text("Vabc"), 0.0);
    EXPECT_DOUBLE_EQ(parse_version_text("Vinf"), 0.0);
    EXPECT_DOUBLE_EQ(parse_version_text("V1e999"), 0.0);

    TempRoot root;
    EXPECT_DOUBLE_EQ(read_report_version(root.path()), 0.0);
    write_file(root / "version.txt", "V8.006\r\n");
    EXPECT_DOUBLE_EQ(read_report_version(root.path()), 8.006);
    write_file(root / "version.txt", std::string("\0V8", 3));
    EXPECT_DOUBLE_EQ(read_report_version(root.path()), 0.0);
}

TEST(ReportFolderFiles, RecordingIdAndConfirmation) {
    TempRoot root;
    const std::string folder = root / "R.IMG";
    std::filesystem::create_directories(folder);
    EXPECT_FALSE(read_recording_id(folder).has_value());

    // Line 8 is found even when the rest of the file would not read as a record.
    auto lines = v8_lines();
    lines[3] = "garbage date";
    lines.resize(9);
    write_file(folder + "/Patient.Txt", join_lines(lines));
    PatientTxt p;
    EXPECT_FALSE(p.read_folder(folder));
    EXPECT_EQ(read_recording_id(folder), std::optional<std::string>("ABCD1234566"));
    lines[7] = "--";
    write_file(folder + "/Patient.Txt", join_lines(lines));
    EXPECT_EQ(read_recording_id(folder), std::optional<std::string>(""));
    lines.resize(7);
    write_file(folder + "/Patient.Txt", join_lines(lines));
    EXPECT_FALSE(read_recording_id(folder).has_value());

    EXPECT_FALSE(has_confirm_txt(folder));
    EXPECT_FALSE(read_confirming_user(folder).has_value());
    write_file(folder + "/confirm.txt", "dr.smith\r\nrest\r\n");
    EXPECT_TRUE(has_confirm_txt(folder));
    EXPECT_EQ(read_confirming_user(folder), std::optional<std::string>("dr.smith"));

    EXPECT_EQ(read_text_file_line(folder + "/confirm.txt", 2), std::optional<std::string>("rest"));
    EXPECT_FALSE(read_text_file_line(folder + "/confirm.txt", 3).has_value());
    EXPECT_FALSE(read_text_file_line(folder + "/confirm.txt", 0).has_value());
}

TEST(ReportTextReader, RestOfFileAsText) {
    TempRoot root;
    const std::string path = root / "c.txt";
    write_file(path, "a\r\nb\r\r\nc\rd\r\n");
    ReportTextReader r(path);
    std::string line;
    ASSERT_TRUE(r.next_line(line));
    EXPECT_EQ(line, "a");
    EXPECT_EQ(r.read_rest(100), "b\r\nc\rd\n");
    EXPECT_FALSE(r.next_line(line));
    EXPECT_FALSE(r.failed());

    write_file(path, std::string(20000, 'x'));
    ReportTextReader big(path);
    EXPECT_EQ(big.read_rest(kPatientCommentsMax).size(), kPatientCommentsMax);
}

}  // namespace
}  // namespace tv
