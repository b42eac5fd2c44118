#include "tolbex/timi/timi_arrhythmia.h"

#include <gtest/gtest.h>

#include "common/files.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/timi/tests/timi_test_support.h"

namespace tv {
namespace {

using namespace timi_test;

constexpr std::int32_t kNone = kTimiMissingInt;

// An arrhevnt.dat in memory: 14 arrays of 59,000 values.
struct EventFile {
    std::vector<std::int32_t> v = std::vector<std::int32_t>(14 * 59000, 0);
    std::int32_t& at(int field, int entry) { return v[field * 59000 + entry]; }
    // Entry `e`: link, type, start, end, length, peak rate, peak time, flags.
    void entry(int e, int link, int type, int start, int end, int length = 0, int peak = kNone, int peak_time = kNone,
               int flags = 0) {
        at(0, e) = link;
        at(4, e) = type;
        at(6, e) = start;
        at(7, e) = end;
        at(8, e) = length;
        at(9, e) = peak;
        at(10, e) = peak_time;
        at(11, e) = flags;
    }
    std::string bytes() const {
        std::string out;
        out.reserve(v.size() * 4);
        for (std::int32_t x : v) {
            const auto u = static_cast<std::uint32_t>(x);
            for (int i = 0; i < 4; ++i) out += static_cast<char>((u >> (8 * i)) & 0xFF);
        }
        return out;
    }
};

class TimiArrhythmiaTest : public TimiTest {
protected:
    // The acceptance example's two event files; returns the arrhythmia list.
    std::string event_list() {
        EventFile day0;
        day0.at(0, 0) = 1;
        day0.entry(1, 2, 1, 12800, 13056, 3);               // pause
        day0.entry(2, 3, 7, 0, 0);                          // not an accepted type
        day0.entry(3, 4, 1, 100, 200, 1, kNone, kNone, 8);  // skipped by its flag
        day0.entry(4, 5, 148, 11008000, 11059328, 999);     // AF past the 24-hour mark
        day0.entry(5, 6, 1, 11059300, 11059400, 2);         // starts after 24 hours: the walk ends
        day0.entry(6, 7, 2, 0, 128, 5);
        day0.at(0, 7) = -1;
        EventFile day1;
        day1.at(0, 0) = 1;
        day1.entry(1, 2, 2, 0, 1280, 12, 150, 640);  // VT > 100bpm
        day1.at(0, 2) = -1;
        write_file(t / "d1" / "ARRHEVNT.DAT", day0.bytes());
        write_file(t / "d2" / "arrhevnt.dat", day1.bytes());
        const std::string list = (t / "list.ARRH").string();
        write_file(list, (t / "d1" / "arrhevnt.dat").string() + "\r\n" + (t / "d2" / "arrhevnt.dat").string() + "\r\n");
        return list;
    }
};

std::string expected_summary(const std::string& path) {
    std::string out = "Quorril TIMI arrhythmia summary file\r\nFilename: " + path +
                      "\r\n\r\nPatient ID #: P1\r\nTape (recording) ID #: R1\r\nStart time: 10:00:00 01/03/2004\r\n"
                      "Analyzed Duration: 0 hrs 3 mins\r\nMin HR (bpm): 55\r\nMax HR (bpm): 80\r\nMean HR (bpm): 77\r\n"
                      "\r\nArrhythmia Events\r\n\r\n"
                      "Day,Bigem,Coup,Trip,VT <100,VT >100,Single VE,Prem Single VE,SVE,Dropped beat,Brady,Pause,SVT,"
                      "AFsec\r\n\r\n"
                      "1,0,0,0,0,0,0,0,0,0,0,1,0,0\r\n"
                      "2,0,0,0,0,1,0,0,0,0,0,0,0,400\r\n";
    for (int r = 3; r <= 8; ++r) out += std::to_string(r) + ",0,0,0,0,0,0,0,0,0,0,0,0,0\r\n";
    out +=
        "\r\nSerious arrhythmia events\r\n\r\n"
        "Event,Start Time,End Time,Length (beats or samples),Peak Rate (bpm),Peak Rate Time\r\n\r\n"
        "pause, (1)10:01:40,(1)10:01:42,3,,\r\n"
        "VT > 100bpm, (2)10:00:00,(2)10:00:10,12,150,(2)10:00:05\r\n";
    return out;
}

TEST_F(TimiArrhythmiaTest, GoldenSummaryOfTheAcceptanceExample) {
    TimiArrhData job;
    const std::string days = two_day_list();
    ASSERT_TRUE(job.calc_timi_arrh_data(ArrhythmiaListPath(event_list()), TimiDayListPath(days)));
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_EQ(job.start_second(), 36000);
    EXPECT_EQ(job.all_events().size(), 3u);
    EXPECT_EQ(job.day_counts()[1][12], 51200);
    const std::string path = (t / "TIMI_ARRH.TXT").string();
    ASSERT_TRUE(job.write_timi_arrh_summary(path));
    EXPECT_EQ(read_file(path), expected_summary(path));
}

TEST_F(TimiArrhythmiaTest, SavingStoresAReadOnlyReportAndLeavesNoTemporaryFolder) {
    AuditLogTrail audit("Calvera", [] { return false; });
    TimiArrhData job;
    job.set_audit(&audit);
    const std::string days = two_day_list();
    ASSERT_TRUE(job.calc_timi_arrh_data(ArrhythmiaListPath(event_list()), TimiDayListPath(days)));
    fs::create_directories(t / "G" / "ARCH");
    job.set_archive_folder((t / "G" / "ARCH").string() + "/");
    job.set_report_name("Day one");
    int reloads = 0;
    job.set_reload_hook([&] { ++reloads; });
    ASSERT_TRUE(job.save_timi_arrh_summary());
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(get_extension_upper(job.stored_folder()), "ARR");
    const std::string stored = join_path(job.stored_folder(), "TIMI_ARRH.TXT");
    EXPECT_TRUE(is_read_only(stored));
    // It names the file it is, and its entry has the size it has.
    EXPECT_EQ(read_file(stored), expected_summary(stored));
    const std::string index = read_file(t / "G" / "ARCH" / "ARCHINFO.DAT");
    EXPECT_NE(index.find("\r\n" + std::to_string(fs::file_size(stored)) + "\r\n"), std::string::npos) << index;
    EXPECT_NE(index.find("Day one"), std::string::npos);
    EXPECT_NE(index.find("TIMI Arrhythmia Summary"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(t / "tmp"));
    fs::permissions(stored, fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(TimiArrhythmiaTest, FailedStepsStoreNothingAndCleanUp) {
    AuditLogTrail audit("Calvera", [] { return false; });
    TimiArrhData job;
    job.set_audit(&audit);
    job.set_archive_folder((t / "no-such-archive").string());
    job.set_report_name("x");
    EXPECT_FALSE(job.save_timi_arrh_summary());  // the store fails: said, not hidden
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_TRUE(fs::is_empty(t / "tmp"));

    scripted.shown.clear();
    EXPECT_FALSE(job.write_timi_arrh_summary((t / "none" / "deeper" / "TIMI_ARRH.TXT").string()));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text.rfind("Exception caught in CBrowserListView::write_timi_arrh_summary(),\nthe "
                                           "message is\n",
                                           0),
              0u);
}

TEST_F(TimiArrhythmiaTest, DamagedEventFilesStayInsideTheTables) {
    TimiArrhData job;
    // A loop of two entries: read once each, then the step limit ends the walk.
    EventFile loop;
    loop.at(0, 0) = 1;
    loop.entry(1, 2, 1, 0, 128, 1);
    loop.entry(2, 1, 3, 0, 128, 1);
    write_file(t / "loop.dat", loop.bytes());
    ASSERT_TRUE(job.read_arrhevnt_file(0, (t / "loop.dat").string()));
    EXPECT_EQ(job.all_events().size(), 59000u);
    // Links out of range end the list (the entry that holds one is still an event).
    EventFile wild;
    wild.at(0, 0) = 1;
    wild.entry(1, 59000, 1, 0, 128, 1);
    write_file(t / "wild.dat", wild.bytes());
    TimiArrhData job2;
    ASSERT_TRUE(job2.read_arrhevnt_file(0, (t / "wild.dat").string()));
    EXPECT_EQ(job2.all_events().size(), 1u);
    wild.at(0, 0) = -5;
    write_file(t / "wild.dat", wild.bytes());
    ASSERT_TRUE(job2.read_arrhevnt_file(1, (t / "wild.dat").string()));
    EXPECT_EQ(job2.all_events().size(), 1u);
    // A short file is a file error.
    write_file(t / "short.dat", wild.bytes().substr(0, 3303999));
    EXPECT_FALSE(job2.read_arrhevnt_file(0, (t / "short.dat").string()));
    EXPECT_FALSE(job2.read_arrhevnt_file(0, (t / "missing.dat").string()));
    EXPECT_EQ(scripted.shown.size(), 2u);
}

TEST_F(TimiArrhythmiaTest, CountingRulesAndTimeTexts) {
    EXPECT_EQ(TimiArrhData::format_day_time(2, 86399), "(3)23:59:59");
    EXPECT_EQ(TimiArrhData::format_day_time(2, 86400 + 5), "(4)00:00:05");
    EXPECT_EQ(TimiArrhData::format_day_time(0, 3 * 86400 + 60), "(4)00:01:00");  // no hour >= 24 ever
    EXPECT_TRUE(TimiArrhData::is_accepted_event_type(148));
    EXPECT_FALSE(TimiArrhData::is_accepted_event_type(12));
    EXPECT_EQ(TimiArrhData::event_type_name(13), "single VE");
    EXPECT_EQ(TimiArrhData::event_type_name(7), "");

    // Seven days of events, the last one ending after the eighth calendar day: never counted.
    TimiArrhData job;
    const std::string days = two_day_list();
    std::string list;
    for (int d = 0; d < 9; ++d) {
        EventFile f;
        f.at(0, 0) = 1;
        f.entry(1, 2, d == 7 ? 3 : 148, 86000 * 128, (d == 7 ? 86300 : 86000) * 128, d == 0 ? 63 : 64);
        f.at(0, 2) = -1;
        const fs::path p = t / std::string("e").append(std::to_string(d)).append(".dat");
        write_file(p, f.bytes());
        list += p.string() + "\n";
    }
    write_file(t / "nine.ARRH", list);
    ASSERT_TRUE(job.calc_timi_arrh_data(ArrhythmiaListPath((t / "nine.ARRH").string()), TimiDayListPath(days)));
    EXPECT_EQ(job.all_events().size(), 8u);  // the ninth line is not read
    // Day d's AF ends at 86000 s + 10:00 start: calendar row d + 1; day 7's SVT would be row 8.
    EXPECT_EQ(job.day_counts()[1][12], 63);
    EXPECT_EQ(job.day_counts()[2][12], 64);
    // Day 7's SVT has no row to count it in, yet it is a serious event all the same.
    ASSERT_EQ(job.serious_events().size(), 1u);
    EXPECT_EQ(job.serious_events()[0].type(), 3);
    const std::string text = job.summary_text("x");
    EXPECT_NE(text.find("2,0,0,0,0,0,0,0,0,0,0,0,0,0\r\n3,0,0,0,0,0,0,0,0,0,0,0,0,1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("8,0,0,0,0,0,0,0,0,0,0,0,0,1\r\n\r\nSerious"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\r\nSVT, (9)09:53:20,(9)09:58:20,64,,\r\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace tv
