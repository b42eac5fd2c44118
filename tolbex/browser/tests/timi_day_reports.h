// Day reports of a TIMI series in a test archive: each report folder holds PATIENT.TXT (patient
// number, recorder, recording date), the day file and, when asked, arrhevnt.dat.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tolbex/browser/tests/browser_test_group.h"

namespace tv::testing_root {

struct TimiDay {
    std::string folder;  // report folder name, e.g. "D1.FUL"
    std::string description;
    std::string day_file;  // "" for none
    std::string recording_date = "2004-03-01 10:00";
    std::string patient = "P1";
    std::string recorder = "R1";
    std::string day_text = "day file";
    std::string events;  // arrhevnt.dat's bytes; none when empty
    std::string events_name = "arrhevnt.dat";
    std::vector<std::pair<std::string, std::string>> other_files;  // name, bytes
    bool patient_txt = true;
};

inline std::string timi_patient_text(const TimiDay& d) {
    return "PATIENT DETAILS\r\n2004-03-01\r\n" + d.description + "\r\n1950-01-01\r\n54\r\nMale\r\nOp\r\nREC1\r\n" +
           d.patient + "\r\nDr. A\r\n--\r\nHosp\r\n" + d.recording_date + "\r\n" + d.recorder + "\r\n" + d.recorder +
           "\r\n2004-03-09 10:00\r\n";
}

// An arrhevnt.dat (14 arrays of 59,000 little-endian int32) holding one VT > 100bpm event:
// 0 to 10 s of the day, 12 beats, peak 150 bpm at 5 s.
inline std::string arrhevnt_with_one_vt() {
    constexpr int kEntries = 59000;
    std::vector<std::int32_t> v(14 * kEntries, 0);
    const auto at = [&](int field, int entry) -> std::int32_t& { return v[field * kEntries + entry]; };
    at(0, 0) = 1;
    at(0, 1) = 2;
    at(0, 2) = -1;  // the end of the list
    at(4, 1) = 2;
    at(7, 1) = 1280;
    at(8, 1) = 12;
    at(9, 1) = 150;
    at(10, 1) = 640;
    std::string out;
    out.reserve(v.size() * 4);
    for (std::int32_t x : v)
        for (int i = 0; i < 4; ++i) out += static_cast<char>((static_cast<std::uint32_t>(x) >> (8 * i)) & 0xFF);
    return out;
}

// The days as the STANDARD archive of a new group under `group`; returns its ARCHDIR.DAT.
inline std::string make_timi_group(const fs::path& group, const std::vector<TimiDay>& days) {
    TestArchive archive{"STANDARD", "STANDARD", {}};
    for (const TimiDay& d : days)
        archive.reports.push_back({d.folder, d.description, "Mon Mar 01 10:00:00 2004", "100", false});
    const std::string archdir = make_test_group(group, {archive});
    for (const TimiDay& d : days) {
        const fs::path folder = group / "STANDARD" / d.folder;
        fs::create_directories(folder);
        if (d.patient_txt) write_file(folder / "PATIENT.TXT", timi_patient_text(d));
        write_file(folder / "VERSION.TXT", "V8.006\r\n");
        if (!d.day_file.empty()) write_file(folder / d.day_file, d.day_text);
        if (!d.events.empty()) write_file(folder / d.events_name, d.events);
        for (const auto& [name, bytes] : d.other_files) write_file(folder / name, bytes);
    }
    return archdir;
}

}  // namespace tv::testing_root
