// Builds small archive groups on disk for the browser tests.
#pragma once
#include <string>
#include <vector>

#include "testing/app_test_root.h"

namespace tv::testing_root {

struct TestReport {
    std::string name;  // folder name with extension
    std::string description;
    std::string date = "Wed Jan 02 02:03:55 1980";
    std::string size = "100";
    bool make_folder = true;  // write PATIENT.TXT and VERSION.TXT into it
};

inline std::string entry_text(const TestReport& r) {
    return r.name + "\r\n" + r.description + "\r\n" + r.date + "\r\n" + r.size + "\r\nFull\r\n";
}

inline std::string v8_patient_text(const std::string& name) {
    return "PATIENT DETAILS\r\n2024-01-01\r\n" + name +
           "\r\n1950-01-01\r\n74\r\nMale\r\nOp\r\nABCD1234566\r\nPN1\r\nDr. A\r\n--\r\nHosp\r\n2024-01-01 "
           "10:00\r\nR1\r\nR1\r\n2024-01-02 10:00\r\nSome comment\r\n";
}

// `archives`: (folder, display name, reports).
struct TestArchive {
    std::string folder, name;
    std::vector<TestReport> reports;
};

inline std::string make_test_group(const fs::path& group, const std::vector<TestArchive>& archives) {
    std::string dir;
    for (const auto& a : archives) {
        dir += a.folder + "\r\n" + a.name + "\r\n";
        std::string info;
        for (const auto& r : a.reports) {
            info += entry_text(r);
            if (r.make_folder) {
                write_file(group / a.folder / r.name / "PATIENT.TXT", v8_patient_text(r.description));
                write_file(group / a.folder / r.name / "VERSION.TXT", "V8.006\r\n");
            }
        }
        fs::create_directories(group / a.folder);
        write_file(group / a.folder / "ARCHINFO.DAT", info);
    }
    write_file(group / "ARCHDIR.DAT", dir);
    return (group / "ARCHDIR.DAT").string();
}

inline std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tv::testing_root
