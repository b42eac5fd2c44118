// Fixtures for the TIMI tests: a fresh TORVANE_ROOT and TMPDIR, a scripted Ui, the English
// strings, and synthetic day files.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/registry.h"
#include "common/ui.h"
#include "testing/app_test_root.h"
#include "testing/test_files.h"
#include "tolbex/timi/timi_data.h"
#include "tolbex/timi/timi_strings.h"

namespace tv::timi_test {

namespace fs = std::filesystem;

using testing_root::write_file;

using testing::read_file;

// One day file of the analysis system.
struct DaySpec {
    std::string version = "2";
    std::string patient = "P1";
    std::string recording = "R1";
    std::string date = "01/03/2004 10:00:00";
    std::string duration = "0 hrs 2 mins";
    int min_hr = 60, max_hr = 68, mean_hr = 64;
    std::string elevation = "1.00", depression = "-1.00", slope = "UP";
    std::vector<std::string> rows;
    std::string line_end = "\r\n";
};

inline std::string day_file_text(const DaySpec& d) {
    std::string out;
    const auto line = [&](const std::string& text) { out += text + d.line_end; };
    line("Quorril ST Output File, version: " + d.version);
    line("Patient ID: " + d.patient);
    line("Recording ID: " + d.recording);
    line("Recording Date: " + d.date);
    if (d.version == "2") {
        line("Recording Duration: " + d.duration);
        line("Min HR (bpm): " + std::to_string(d.min_hr));
        line("Max HR (bpm): " + std::to_string(d.max_hr));
        line("Mean HR (bpm): " + std::to_string(d.mean_hr));
        line("");
    }
    for (int c = 1; c <= 3; ++c) {
        line("Channel " + std::to_string(c) + " Elevation: " + d.elevation);
        line("Channel " + std::to_string(c) + " Depression: " + d.depression);
        line("Channel " + std::to_string(c) + " Slope: " + d.slope);
    }
    line("");
    line("Day\tTime\tHR\tBase1\tJ1\tAbs1\tSlope1\tCh1\tBase2\tJ2\tAbs2\tSlope2\tCh2\tBase3\tJ3\tAbs3\tSlope3\tCh3");
    for (const auto& r : d.rows) line(r);
    return out;
}

// A day-file row: channel 1 base 0.10 / J 0.50 / abs 1.10 / slope 0.00, channels 2 and 3
// 0.20 / 0.30 / 0.40 / 0.10.
inline std::string day_row(int day, const std::string& time, const std::string& hr, const std::string& flag1 = "X",
                           const std::string& flag2 = "", const std::string& flag3 = "") {
    return std::to_string(day) + "\t" + time + "\t" + hr + "\t0.10\t0.50\t1.10\t0.00\t" + flag1 +
           "\t0.20\t0.30\t0.40\t0.10\t" + flag2 + "\t0.20\t0.30\t0.40\t0.10\t" + flag3;
}

class TimiTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        register_timi_strings();
    }

    // The two days of the acceptance example, with arrhevnt.txt beside each; returns the list.
    std::string two_day_list() {
        DaySpec d1;
        for (int i = 0; i < 5; ++i) {
            const int s = i * 30;
            char time[16];
            std::snprintf(time, sizeof time, "10:%02d:%02d", s / 60, s % 60);
            d1.rows.push_back(day_row(1, time, std::to_string(60 + 2 * i)));
        }
        DaySpec d2;
        d2.date = "02/03/2004 10:00:00";
        d2.min_hr = 55;
        d2.max_hr = 80;
        d2.mean_hr = 70;
        int hr = 70;
        for (const char* time : {"10:01:30", "10:02:00", "10:02:30", "10:03:00"}) {
            d2.rows.push_back(day_row(1, time, std::to_string(hr++), ""));
        }
        day2 = d2;
        write_file(t / "d1" / "TIMI1234_1.TXT", day_file_text(d1));
        write_file(t / "d1" / "arrhevnt.txt", "Events\r\n12:00 VT < 100bpm\r\n13:00 SVT run\r\n14:00 pause 2.1s\r\n");
        write_file(t / "d2" / "TIMI1234_2.TXT", day_file_text(d2));
        write_file(t / "d2" / "ARRHEVNT.TXT", "Events\nbradycardia 40bpm\n");
        const std::string list = (t / "list.TIMI").string();
        write_file(list, (t / "d1" / "TIMI1234_1.TXT").string() + "\n" + (t / "d2" / "TIMI1234_2.TXT").string() + "\n");
        return list;
    }

    DaySpec day2;
};

// 1000 rows from (1)10:00:00, channel 1 selected on rows 10..989 with its ST peak 4.0 at row 20
// (2.0 on rows 10-19, 1.5 on 21-39, 1.0 on 40-59, 0.2 after); channel 2 is a depression.
inline TimiData stemi_table() {
    TimiData d;
    for (int i = 0; i < 1000; ++i) {
        TimiRow r;
        r.time = TimiDateTime::time_of_day(0, 0, 0);
        r.time.seconds = (36000 + 30 * i) % 86400;
        r.day = 1 + (36000 + 30 * i) / 86400;
        double v = 0.2;
        if (i < 10)
            v = 0.0;
        else if (i < 20)
            v = 2.0;
        else if (i == 20)
            v = 4.0;
        else if (i < 40)
            v = 1.5;
        else if (i < 60)
            v = 1.0;
        r.channel[0].st_abs = v;
        r.channel[1].st_abs = -3.0;
        if (i >= 10 && i <= 989) r.channel[0].flag = true;
        r.use = r.channel[0].flag;
        d.rows.push_back(r);
    }
    return d;
}

}  // namespace tv::timi_test
