#include "tolbex/browser/timi_days.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "tolbex/browser/tests/timi_day_reports.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using testing_root::TimiDay;

class TimiDaysTest : public testing_root::RootTest {
protected:
    // Writes the days and selects them in the given order.
    std::vector<TimiDaySource> select(const std::vector<TimiDay>& days) {
        group = t / "G";
        testing_root::make_timi_group(group, days);
        std::vector<TimiDaySource> out;
        for (const TimiDay& d : days) out.push_back({d.description, folder(d.folder)});
        return out;
    }
    std::string folder(const std::string& name) const { return (group / "STANDARD" / name).string(); }
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        for (const auto& s : scripted.shown) out.push_back(s.text);
        scripted.shown.clear();
        return out;
    }
    fs::path group;
};

TimiDay day(int n, const std::string& date, const std::string& patient = "P1", const std::string& recorder = "R1") {
    TimiDay d;
    d.folder = "D" + std::to_string(n) + ".FUL";
    d.description = "Day " + std::to_string(n);
    d.day_file = "TIMI" + patient + "_" + std::to_string(n) + ".TXT";
    d.recording_date = date;
    d.patient = patient;
    d.recorder = recorder;
    d.events = "events";
    return d;
}

TEST_F(TimiDaysTest, RefusalsNameTheFirstReportOutOfTheSeries) {
    struct Case {
        const char* name;
        std::vector<TimiDay> days;
        bool arrhythmia;
        std::string message;  // "" when accepted; "%F" stands for the refused report's folder
    };
    TimiDay no_events = day(2, "2004-03-02 10:00");
    no_events.events.clear();
    TimiDay no_patient = day(2, "2004-03-02 10:00");
    no_patient.patient_txt = false;
    TimiDay blank_patient = day(2, "2004-03-02 10:00", "--");
    TimiDay no_day_file = day(2, "2004-03-02 10:00");
    no_day_file.day_file = "TIMIP1_2.DAT";
    TimiDay folder_named_like_events = day(1, "2004-03-01 10:00");
    folder_named_like_events.events.clear();
    const std::vector<Case> cases = {
        {"days 1, 2 and 4",
         {day(1, "2004-03-01 10:00"), day(2, "2004-03-02 10:00"), day(4, "2004-03-04 10:00")},
         false,
         "The report for day 3 was not selected.\nPlease ensure that you have selected a report for each day."},
        {"no day 1",
         {day(2, "2004-03-02 10:00")},
         false,
         "The report for day 1 was not selected.\nPlease ensure that you have selected a report for each day."},
        {"dates two days apart",
         {day(1, "2004-03-01 10:00"), day(2, "2004-03-03 10:00")},
         false,
         "Recording date is incorrect for report \"Day 2\"\n(\"%F\")"},
        {"same date twice",
         {day(1, "2004-03-01 10:00"), day(2, "2004-03-01 23:00")},
         false,
         "Recording date is incorrect for report \"Day 2\"\n(\"%F\")"},
        {"two patients",
         {day(1, "2004-03-01 10:00"), day(2, "2004-03-02 10:00", "P2")},
         false,
         "The selected reports are not all from the same patient number."},
        {"two recorders",
         {day(1, "2004-03-01 10:00"), day(2, "2004-03-02 10:00", "P1", "R2")},
         false,
         "The selected reports are not all from the same recorder."},
        {"recording without events",
         {day(1, "2004-03-01 10:00"), no_events},
         true,
         "Please select the \"With recording\" reports for TIMI Arrhythmia analysis."},
        {"no PATIENT.TXT",
         {day(1, "2004-03-01 10:00"), no_patient},
         false,
         "Missing Patient Details (in \"PATIENT.TXT\")\nfor report \"Day 2\"\n(\"%F\")"},
        {"no patient number",
         {day(1, "2004-03-01 10:00"), blank_patient},
         false,
         "Missing Patient Details (in \"PATIENT.TXT\")\nfor report \"Day 2\"\n(\"%F\")"},
        {"no day file",
         {day(1, "2004-03-01 10:00"), no_day_file},
         false,
         "Cannot find TIMI file for report \"Day 2\"\n(\"%F\")"},
        {"leap day and a new month",
         {day(3, "2004-03-01 10:00"), day(1, "2004-02-28 23:59"), day(2, "2004-02-29 00:01")},
         true,
         ""},
        {"events not asked for", {day(1, "2004-03-01 10:00"), no_events}, false, ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(t / "G");
        const std::vector<TimiDaySource> selected = select(c.days);
        std::vector<TimiDayReport> days;
        const bool ok = collect_timi_days(selected, c.arrhythmia, days) && check_timi_days(days);
        EXPECT_EQ(ok, c.message.empty()) << c.name;
        std::string expected = c.message;
        if (const auto at = expected.find("%F"); at != std::string::npos)
            expected.replace(at, 2, folder(c.days.back().folder));
        const auto shown = messages();
        EXPECT_EQ(shown, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{expected}) << c.name;
    }
    // An arrhevnt.dat that is a folder holds no events.
    fs::remove_all(t / "G");
    const auto selected = select({folder_named_like_events});
    fs::create_directories(fs::path(folder("D1.FUL")) / "ARRHEVNT.DAT");
    std::vector<TimiDayReport> days;
    EXPECT_FALSE(collect_timi_days(selected, true, days));
    EXPECT_EQ(messages().size(), 1u);
    EXPECT_FALSE(collect_timi_days({}, false, days));
    EXPECT_TRUE(messages().empty());
}

TEST_F(TimiDaysTest, ListsCarryTheFilesAsSpeltOnDiskInDayOrder) {
    // Day 1's patient number is lower case in PATIENT.TXT, its file upper case; day 2's file and
    // event file are lower case.
    TimiDay d1 = day(1, "2004-03-01 10:00", "p7");
    d1.day_file = "TIMIP7_1.TXT";
    d1.events_name = "ARRHEVNT.DAT";
    TimiDay d2 = day(2, "2004-03-02 10:00", "p7");
    d2.day_file = "timip7_2.txt";
    // A folder of that name is no day file, and a longer name does not match.
    const auto selected = select({d2, d1});
    fs::create_directories(fs::path(folder("D2.FUL")) / "TIMIP7_0.TXT");
    testing_root::write_file(fs::path(folder("D2.FUL")) / "TIMIP7_12.TXT", "");
    std::vector<TimiDayReport> days;
    ASSERT_TRUE(collect_timi_days(selected, true, days));
    ASSERT_TRUE(check_timi_days(days));
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0].description, "Day 1");
    EXPECT_EQ(days[0].day_file_name, "TIMIP7_1.TXT");
    EXPECT_EQ(days[1].day_file_name, "TIMIP7_2.TXT");
    EXPECT_EQ(timi_series_id(days[0].day_file_name), "P7");
    EXPECT_EQ(timi_day_list_text(days),
              folder("D1.FUL") + "/TIMIP7_1.TXT\r\n" + folder("D2.FUL") + "/timip7_2.txt\r\n");
    EXPECT_EQ(timi_arrhythmia_list_text(days),
              folder("D1.FUL") + "/ARRHEVNT.DAT\r\n" + folder("D2.FUL") + "/arrhevnt.dat\r\n");
    EXPECT_TRUE(messages().empty());
}

TEST_F(TimiDaysTest, ListFileIsNewAndAlone) {
    const std::string a = write_timi_list_file(kTimiDayListExtension, "x\r\n");
    const std::string b = write_timi_list_file(kTimiDayListExtension, "y\r\n");
    ASSERT_FALSE(a.empty());
    ASSERT_NE(a, b);
    EXPECT_EQ(fs::path(a).extension(), ".TIMI");
    EXPECT_EQ(fs::path(a).parent_path(), fs::path(root.tmp()));
    EXPECT_EQ(testing_root::read_all(a), "x\r\n");
    // Only the two lists: the names that made them unique are gone.
    EXPECT_EQ(std::distance(fs::directory_iterator(root.tmp()), fs::directory_iterator()), 2);

    // An unwritable temporary folder is told and leaves nothing.
    fs::permissions(root.tmp(), fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(root.tmp().c_str(), W_OK) != 0) {
        EXPECT_EQ(write_timi_list_file(kTimiArrhythmiaListExtension, "z"), "");
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text.rfind("The TIMI list file cannot be written.\n", 0), 0u);
    }
    fs::permissions(root.tmp(), fs::perms::owner_all);
}

}  // namespace
}  // namespace tv
