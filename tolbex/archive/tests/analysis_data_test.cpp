#include "tolbex/archive/analysis_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include "testing/decimal_comma_locale.h"
#include "testing/test_root.h"
#include "testing/test_files.h"
#include "tolbex/archive/patient_txt.h"

namespace tv {
namespace {

using platform::testing::TempRoot;

using testing::write_file;

using testing::crlf;

// The field table as the analysis system's letters know it: number, name, type (i, r, t).
const char* const kFieldTable = R"(1 patdet.name t
2 patdet.dob t
3 patdet.age t
4 patdet.sex t
5 patdet.operator t
6 patdet.recording.id t
7 patdet.patient.number t
8 patdet.physician t
9 patdet.insurer t
10 patdet.hospital t
11 patdet.recording.date t
12 patdet.recorder.id t
13 patdet.analysis.date t
14 patdet.comments t
15 QRS i
16 normal i
17 premature.normal i
18 SVT i
19 SVT.longest.length i
20 SVT.longest.when t
21 SVT.fastest.rate i
22 SVT.fastest.when t
23 aberrant i
24 premature.aberrant i
25 couplet i
26 triplet i
27 salvo i
28 salvo.longest.length i
29 salvo.longest.when t
30 VT i
31 VT.longest.length i
32 VT.longest.when t
33 VT.fastest.rate i
34 VT.fastest.when t
35 brady i
36 brady.longest.length i
37 brady.longest.when t
38 brady.slowest.rate i
39 brady.slowest.when t
40 dropped i
41 pause i
42 pause.longest.length r
43 pause.longest.when t
44 HR.fastest.rate i
45 HR.fastest.when t
46 HR.slowest.rate i
47 HR.slowest.when t
48 HR.mean i
49 paced i
50 ST.sNN50 i
51 ST.TI i
52 ST.events i
53 arr.crit.pause r
54 arr.crit.dropped i
55 arr.crit.VT.min.beats i
56 arr.crit.VT.min.rate i
57 arr.crit.salvo.min.beats i
58 arr.crit.brady.min.beats i
59 arr.crit.brady.max.rate i
60 arr.crit.SVT.min.beats i
61 arr.crit.SVT.min.rate i
62 arr.premature.aberrant i
63 arr.premature.normal i
64 ST.analysis.period r
65 ST.crit.dev.thresh i
66 ST.crit.event.ref i
67 ST.crit.min.duration r
68 ST.crit.event.recovery r
69 ST.crit.event.hysteresis i
70 ST.crit.slope.thresh r
71 ST.filter.time.constant i
72 ST.burden.reference i
73 ST.pre.post.HR r
74 ST.slopes i
75 ST.ch1.depressions i
76 ST.ch1.max.dep.value i
77 ST.ch1.max.dep.when t
78 ST.ch1.dep.burden i
79 ST.ch1.elevations i
80 ST.ch1.max.elev.value i
81 ST.ch1.max.elev.when t
82 ST.ch1.elev.burden i
83 ST.ch2.depressions i
84 ST.ch2.max.dep.value i
85 ST.ch2.max.dep.when t
86 ST.ch2.dep.burden i
87 ST.ch2.elevations i
88 ST.ch2.max.elev.value i
89 ST.ch2.max.elev.when t
90 ST.ch2.elev.burden i
91 ST.ch3.depressions i
92 ST.ch3.max.dep.value i
93 ST.ch3.max.dep.when t
94 ST.ch3.dep.burden i
95 ST.ch3.elevations i
96 ST.ch3.max.elev.value i
97 ST.ch3.max.elev.when t
98 ST.ch3.elev.burden i
99 AF.count i
100 AF.duration i
101 recording.length r
)";

// Every field 15..101 in order: integers n*10, reals n+0.25, the "when" texts beside the value
// before them, "ST.slopes" as flags, "AF.duration" 1000.
const char* const kAnalsum = R"(         150
         160
         170
         180
         190    20:20:20
         210    22:22:34
         230
         240
         250
         260
         270
         280    05:29:23
         300
         310    08:32:44
         330    10:34:58
         350
         360    13:37:19
         380    15:39:33
         400
         410
       42.25    19:43:01
         440    21:45:15
         460    23:47:29
         480
         490
         500
         510
         520
       53.25
         540
         550         560
         570
         580         590
         600         610
         620
         630
       64.25
         650
         660
       67.25
       68.25
         690
       70.25
         710
         720
       73.25
Up/Down
         750
         760    05:17:59
         780
         790
         800    09:21:27
         820
         830
         840    13:25:55
         860
         870
         880    17:29:23
         900
         910
         920    21:33:51
         940
         950
         960    01:37:19
         980
         990
        1000
      101.25
)";

const std::map<int, std::string> kWhenTexts = {{20, "20:20:20"}, {22, "22:22:34"}, {29, "05:29:23"}, {32, "08:32:44"},
                                               {34, "10:34:58"}, {37, "13:37:19"}, {39, "15:39:33"}, {43, "19:43:01"},
                                               {45, "21:45:15"}, {47, "23:47:29"}, {77, "05:17:59"}, {81, "09:21:27"},
                                               {85, "13:25:55"}, {89, "17:29:23"}, {93, "21:33:51"}, {97, "01:37:19"}};

const char* const kPatientV8 =
    "C:\\ANALYSER\\CFR\\PATIENT.TXT\n"
    "Mon Dec 03 14:05:09 2007\n"
    "Doe, Jane\n"
    "25/12/1960\n"
    "46\n"
    "--\n"
    "Dr Op\n"
    "ABCD1234566\n"
    "PN 0042\n"
    "Dr Phys\n"
    "-\n"
    "St Elsewhere\n"
    "03/12/2007\n"
    "R-100\n"
    "R-101\n"
    "04/12/2007\n"
    "First comment line\n"
    "  second line \n";

class AnalysisDataTest : public ::testing::Test {
protected:
    TempRoot root_;
    std::string folder_ = root_ / "R.IMG";
    void SetUp() override { std::filesystem::create_directories(folder_); }
    void write(const std::string& name, const std::string& text) { write_file(folder_ + "/" + name, text); }
};

TEST(AnalysisFields, TableMatchesTheLetterFieldNames) {
    std::istringstream in(kFieldTable);
    int n = 0;
    std::string name, type;
    int rows = 0;
    AnalysisData data;
    while (in >> n >> name >> type) {
        ++rows;
        ASSERT_GE(n, 1);
        ASSERT_LE(n, kAnalysisFieldCount);
        EXPECT_STREQ(analysis_fields[n - 1].name, name.c_str()) << n;
        const int expected = type == "i" ? kFieldInt : type == "r" ? kFieldReal : kFieldText;
        EXPECT_EQ(analysis_fields[n - 1].type, expected) << n;
        EXPECT_EQ(data.get_field_number(name), n);
        EXPECT_EQ(data.get_field_type(n), expected);
        EXPECT_STREQ(AnalysisData::get_field_name(n), name.c_str());
        EXPECT_FALSE(data.is_field_present(n));
    }
    EXPECT_EQ(rows, kAnalysisFieldCount);
    EXPECT_EQ(data.get_field_number("QRS"), 15);
    EXPECT_EQ(data.get_field_number("qrs"), 0);
    EXPECT_EQ(data.get_field_number(""), 0);
    EXPECT_EQ(data.get_field_number("patdet.name "), 0);
    EXPECT_STREQ(AnalysisData::get_field_name(0), "");
    EXPECT_STREQ(AnalysisData::get_field_name(102), "");
}

TEST(AnalysisFields, LineKinds) {
    int same = 0;
    for (int n = kFirstAnalsumField; n <= kAnalysisFieldCount; ++n) same += analsum_line_kind(n) == kAnalsumSameLine;
    EXPECT_EQ(same, 19);
    EXPECT_EQ(analsum_line_kind(74), kAnalsumFlagsLine);
    EXPECT_EQ(analsum_line_kind(56), kAnalsumSameLine);
    EXPECT_EQ(analsum_line_kind(15), kAnalsumNextLine);
    EXPECT_EQ(analsum_line_kind(14), -1);
    EXPECT_EQ(analsum_line_kind(102), -1);
}

int except_code(const std::function<void()>& f) {
    try {
        f();
    } catch (const AnalysisData::ExceptField& e) {
        return e.code();
    }
    return -1;
}

TEST(AnalysisFields, ExceptFieldCodes) {
    AnalysisData d;
    EXPECT_EQ(except_code([&] { d.get_int(14); }), 1);
    EXPECT_EQ(except_code([&] { d.get_int(0); }), 0);
    EXPECT_EQ(except_code([&] { d.get_int(102); }), 0);
    EXPECT_EQ(except_code([&] { d.get_double(15); }), 1);
    EXPECT_EQ(except_code([&] { d.get_string(42); }), 1);
    EXPECT_EQ(except_code([&] { d.get_string(-5); }), 0);
    EXPECT_EQ(except_code([&] { d.is_field_present(0); }), 0);
    EXPECT_EQ(except_code([&] { d.get_field_type(102); }), 0);
    EXPECT_EQ(except_code([&] { d.format_field(0, ""); }), 0);
    EXPECT_EQ(except_code([&] { d.set_int(1, 5); }), 1);
    // Fields never read give their empty values.
    EXPECT_EQ(d.get_int(15), 0);
    EXPECT_EQ(d.get_double(101), 0.0);
    EXPECT_EQ(d.get_string(1), "");
}

TEST_F(AnalysisDataTest, ReadsAVersion8Folder) {
    write("VERSION.TXT", "V8.006\r\n");
    write("PATIENT.TXT", crlf(kPatientV8));
    write("ANALSUM.TXT", crlf(kAnalsum));
    AnalysisData d(folder_);
    EXPECT_DOUBLE_EQ(d.version(), 8.006);

    const std::map<int, std::string> patient = {{1, "Doe, Jane"},
                                                {2, "25/12/1960"},
                                                {3, "46"},
                                                {4, ""},
                                                {5, "Dr Op"},
                                                {6, "ABCD1234566"},
                                                {7, "PN 0042"},
                                                {8, "Dr Phys"},
                                                {9, ""},
                                                {10, "St Elsewhere"},
                                                {11, "03/12/2007"},
                                                {12, "R-101"},  // the second copy of the recorder id is stored last
                                                {13, "04/12/2007"},
                                                {14, "First comment line\n  second line "}};
    for (auto& [n, text] : patient) {
        EXPECT_EQ(d.get_string(n), text) << n;
        EXPECT_EQ(d.is_field_present(n), !text.empty()) << n;
    }

    for (int n = kFirstAnalsumField; n <= kAnalysisFieldCount; ++n) {
        EXPECT_TRUE(d.is_field_present(n)) << n;
        switch (d.get_field_type(n)) {
            case kFieldInt: {
                const int expected = n == 74 ? 3 : n == 100 ? 1000 / 128 : n * 10;
                EXPECT_EQ(d.get_int(n), expected) << n;
                break;
            }
            case kFieldReal: EXPECT_DOUBLE_EQ(d.get_double(n), n + 0.25) << n; break;
            default: EXPECT_EQ(d.get_string(n), kWhenTexts.at(n)) << n; break;
        }
    }
    EXPECT_EQ(d.get_int(d.get_field_number("AF.duration")), 7);
    EXPECT_EQ(d.format_field(d.get_field_number("HR.mean"), ""), "480");
    EXPECT_EQ(d.format_field(d.get_field_number("pause.longest.length"), "%.2f s"), "42.25 s");
}

TEST(AnalysisFields, FormattedNumbersKeepThePointUnderADecimalCommaLocale) {
    testing_root::DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << testing_root::DecimalCommaLocale::kMissing;
    AnalysisData d;
    d.set_double(101, 42.25);
    EXPECT_EQ(d.format_field(101, "%.2f s"), "42.25 s");
    EXPECT_EQ(d.format_field(101, ""), "42.250000");
    EXPECT_EQ(d.format_field(101, "%g"), "42.25");
}

TEST_F(AnalysisDataTest, ReadsAnOlderFolder) {
    // No VERSION.TXT means version 0 and the short layout.
    write("patient.txt",
          "x\ny\nDoe, Jane\n25/12/1960\nF\nREC-9\nDr Phys\nAOK\n03/12/2007\nR-100\n04/12/2007\ncomment\n");
    write("analsum.txt", "");
    AnalysisData d(folder_);
    EXPECT_DOUBLE_EQ(d.version(), 0.0);
    EXPECT_EQ(d.get_string(1), "Doe, Jane");
    EXPECT_EQ(d.get_string(2), "25/12/1960");
    EXPECT_EQ(d.get_string(3), "");
    EXPECT_FALSE(d.is_field_present(3));
    EXPECT_EQ(d.get_string(4), "F");
    EXPECT_EQ(d.get_string(6), "REC-9");
    EXPECT_EQ(d.get_string(8), "Dr Phys");
    EXPECT_EQ(d.get_string(9), "AOK");
    EXPECT_EQ(d.get_string(11), "03/12/2007");
    EXPECT_EQ(d.get_string(12), "R-100");
    EXPECT_EQ(d.get_string(13), "04/12/2007");
    EXPECT_EQ(d.get_string(14), "comment");
    for (int n : {5, 7, 10}) EXPECT_FALSE(d.is_field_present(n)) << n;
    for (int n = kFirstAnalsumField; n <= kAnalysisFieldCount; ++n) EXPECT_FALSE(d.is_field_present(n));

    // Version 7.9 is still the short layout; 8.0 the long one.
    write("VERSION.TXT", "V7.9");
    EXPECT_EQ(AnalysisData(folder_).get_string(4), "F");
    write("VERSION.TXT", "V8.0");
    EXPECT_EQ(AnalysisData(folder_).get_string(4), "REC-9");
}

TEST_F(AnalysisDataTest, ShortPatientFileEndsTheData) {
    write("VERSION.TXT", "V8.006");
    write("PATIENT.TXT", "a\nb\nDoe\n--\n");
    write("ANALSUM.TXT", "");
    AnalysisData d(folder_);
    EXPECT_EQ(d.get_string(1), "Doe");
    EXPECT_TRUE(d.is_field_present(1));
    for (int n = 2; n <= kCommentsField; ++n) EXPECT_FALSE(d.is_field_present(n)) << n;
    write("PATIENT.TXT", "only one line");
    AnalysisData e(folder_);
    for (int n = 1; n <= kCommentsField; ++n) EXPECT_FALSE(e.is_field_present(n)) << n;
}

TEST_F(AnalysisDataTest, CommentsAreCut) {
    write("VERSION.TXT", "V8.006");
    std::string text = "a\nb\n";
    for (int i = 0; i < 14; ++i) text += "-\n";
    write("PATIENT.TXT", text + std::string(10000, 'c') + "\n");
    write("ANALSUM.TXT", "");
    AnalysisData d(folder_);
    EXPECT_EQ(d.get_string(14), std::string(kPatientCommentsMax, 'c'));
    // Formatting keeps the whole text.
    EXPECT_EQ(d.format_field(14, "").size(), kPatientCommentsMax);
    EXPECT_EQ(d.format_field(14, "[%s]").size(), kPatientCommentsMax + 2);

    write("PATIENT.TXT", text + "one\r\n\r\n");
    EXPECT_EQ(AnalysisData(folder_).get_string(14), "one\n");
    write("PATIENT.TXT", text);
    EXPECT_FALSE(AnalysisData(folder_).is_field_present(14));
}

TEST_F(AnalysisDataTest, AnalsumLineKindsAndShortLines) {
    write("PATIENT.TXT", "");
    // Fields 15..20: a short line gives what it has; missing columns are empty.
    write("ANALSUM.TXT",
          "     1234   12:34:56\n"  // 15 (the value stops at the blank), the rest is not read
          "  12\n"                  // 16
          "\n"                      // 17: empty
          "   x\n"                  // 18: not a number
          "     1234   12:34:56\n"  // 19 and 20
          "        77\n");          // 21; 22 has no columns 13-24; then the file ends
    AnalysisData d(folder_);
    EXPECT_EQ(d.get_int(15), 1234);
    EXPECT_EQ(d.get_int(16), 12);
    EXPECT_FALSE(d.is_field_present(17));
    EXPECT_FALSE(d.is_field_present(18));
    EXPECT_EQ(d.get_int(18), 0);
    EXPECT_EQ(d.get_int(19), 1234);
    EXPECT_EQ(d.get_string(20), "12:34:56");
    EXPECT_EQ(d.get_int(21), 77);
    EXPECT_FALSE(d.is_field_present(22));
    for (int n = 23; n <= kAnalysisFieldCount; ++n) EXPECT_FALSE(d.is_field_present(n)) << n;
}

// The ANALSUM.TXT lines up to and including "ST.slopes", with `slopes` as its line.
std::string analsum_up_to_slopes(const std::string& slopes) {
    std::string text = kAnalsum;
    const std::size_t at = text.find("Up/Down\n");
    return text.substr(0, at) + slopes + "\n" + text.substr(at + 8);
}

TEST_F(AnalysisDataTest, SlopeFlags) {
    write("PATIENT.TXT", "");
    for (auto [line, value] : std::vector<std::pair<std::string, int>>{
             {"Up/Down", 3}, {"LEVEL", 4}, {"up level down", 7}, {"none", 0}, {"  \t", -1}, {"", -1}}) {
        write("ANALSUM.TXT", analsum_up_to_slopes(line));
        AnalysisData d(folder_);
        EXPECT_EQ(d.is_field_present(74), value >= 0) << line;
        EXPECT_EQ(d.get_int(74), value >= 0 ? value : 0) << line;
        EXPECT_EQ(d.get_int(75), 750) << line;  // the empty line was still consumed
    }
}

TEST_F(AnalysisDataTest, AfDurationIsDividedTowardZero) {
    write("PATIENT.TXT", "");
    std::string text = kAnalsum;
    text.replace(text.find("        1000"), 12, "       -1000");
    write("ANALSUM.TXT", text);
    EXPECT_EQ(AnalysisData(folder_).get_int(100), -7);
    text.replace(text.find("       -1000"), 12, "         127");
    write("ANALSUM.TXT", text);
    EXPECT_EQ(AnalysisData(folder_).get_int(100), 0);
    EXPECT_TRUE(AnalysisData(folder_).is_field_present(100));
}

TEST_F(AnalysisDataTest, PresentFlagsBelongToEachReport) {
    write("PATIENT.TXT", crlf(kPatientV8));
    write("VERSION.TXT", "V8.006");
    write("ANALSUM.TXT", kAnalsum);
    AnalysisData full(folder_);
    EXPECT_TRUE(full.is_field_present(101));

    const std::string other = root_ / "S.IMG";
    std::filesystem::create_directories(other);
    write_file(other + "/PATIENT.TXT", "");
    write_file(other + "/ANALSUM.TXT", "         150\n");
    AnalysisData part(other);
    EXPECT_TRUE(part.is_field_present(15));
    EXPECT_FALSE(part.is_field_present(16));
    EXPECT_FALSE(part.is_field_present(101));
    EXPECT_FALSE(part.is_field_present(1));
    EXPECT_TRUE(full.is_field_present(101));  // the first report keeps its own

    // Loading again forgets what the object held.
    full.load(other);
    EXPECT_FALSE(full.is_field_present(101));
    EXPECT_EQ(full.get_int(16), 0);
}

TEST_F(AnalysisDataTest, MissingFilesThrowFileError) {
    EXPECT_THROW(AnalysisData{folder_}, AnalysisData::FileError);
    write("PATIENT.TXT", "");
    try {
        AnalysisData d(folder_);
        FAIL() << "no error for a missing ANALSUM.TXT";
    } catch (const AnalysisData::FileError& e) {
        EXPECT_NE(e.path().find("ANALSUM.TXT"), std::string::npos);
    }
    write("AnalSum.txt", "");
    EXPECT_NO_THROW(AnalysisData{folder_});
    // A folder in place of the file cannot be read.
    std::filesystem::remove(folder_ + "/PATIENT.TXT");
    std::filesystem::create_directories(folder_ + "/PATIENT.TXT");
    EXPECT_THROW(AnalysisData{folder_}, AnalysisData::FileError);
}

TEST_F(AnalysisDataTest, HostileFilesNeverCrash) {
    write("VERSION.TXT", std::string(1 << 20, 'V'));
    std::string patient = "a\nb\n" + std::string(300000, 'n') + "\n" + std::string("x\0y\n", 4) + "\xE9\xFF\x80\n";
    write("PATIENT.TXT", patient);
    std::string analsum = std::string("  12\0 34   56\n", 14) + std::string(500000, '9') + "\n" +
                          "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\n" + "99999999999\n" + "  +-5\n" +
                          "   +7\n" + "1e5\n";
    write("ANALSUM.TXT", analsum);
    AnalysisData d(folder_);
    EXPECT_EQ(d.version(), 0.0);
    EXPECT_EQ(d.get_string(1).size(), kReportTextLineMax);
    EXPECT_EQ(d.get_string(2), "x");
    EXPECT_EQ(d.get_string(4), "\xE9\xFF\x80");
    EXPECT_EQ(d.get_int(15), 12);
    EXPECT_FALSE(d.is_field_present(16));  // twelve nines do not fit
    EXPECT_FALSE(d.is_field_present(17));
    EXPECT_FALSE(d.is_field_present(18));  // too big
    EXPECT_FALSE(d.is_field_present(19));
    EXPECT_EQ(d.get_int(21), 7);
    EXPECT_EQ(d.get_int(23), 1);  // " %d" stops at the 'e'

    std::string noise;
    for (int i = 0; i < 20000; ++i) noise.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    write("PATIENT.TXT", noise);
    write("ANALSUM.TXT", noise);
    write("VERSION.TXT", noise);
    EXPECT_NO_THROW(AnalysisData{folder_});
}

TEST(AnalysisFormat, FormatsSuitTheType) {
    AnalysisData d;
    d.set_int(15, -1);
    d.set_double(42, 2.35);
    d.set_string(1, "Doe");
    EXPECT_EQ(d.format_field(15, ""), "-1");
    EXPECT_EQ(d.format_field(15, "%05d beats"), "-0001 beats");
    EXPECT_EQ(d.format_field(15, "%x"), "ffffffff");
    EXPECT_EQ(d.format_field(15, "%u"), "4294967295");
    EXPECT_EQ(d.format_field(15, "%ld"), "-1");
    EXPECT_EQ(d.format_field(15, "100%% %d"), "100% -1");
    EXPECT_EQ(d.format_field(42, ""), "2.350000");
    EXPECT_EQ(d.format_field(42, "%.1f"), "2.4");
    EXPECT_EQ(d.format_field(42, "%Lg"), "2.35");
    EXPECT_EQ(d.format_field(1, ""), "Doe");
    EXPECT_EQ(d.format_field(1, "%-5s|"), "Doe  |");
    EXPECT_EQ(d.format_field(1, "%.2s"), "Do");
    EXPECT_TRUE(d.is_field_present(15));

    for (auto [n, fmt] : std::vector<std::pair<int, std::string>>{{15, "%s"},
                                                                  {15, "%f"},
                                                                  {42, "%d"},
                                                                  {1, "%d"},
                                                                  {15, "%n"},
                                                                  {15, "%d %d"},
                                                                  {15, "%*d"},
                                                                  {15, "%.*d"},
                                                                  {15, "no conversion"},
                                                                  {15, "%"},
                                                                  {15, "%5000d"},
                                                                  {1, "%.9999s"},
                                                                  {15, "%p"},
                                                                  {15, std::string("%d\0", 3)}}) {
        EXPECT_EQ(except_code([&] { d.format_field(n, fmt); }), 1) << fmt;
    }
}

}  // namespace
}  // namespace tv
