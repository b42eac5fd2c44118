// Times "/find" over a generated group: archives of 5,000 reports, each report folder with its
// PATIENT.TXT, one in a thousand of them holding the recording id looked for. Warm runs (the
// group read before), the median of five.
//   find_bench [REPORTS]        the time for a group of REPORTS reports (default 100,000)
//   find_bench REPORTS --keep   also leaves the group and prints its folder
//   find_bench --group FOLDER   times a group made before (strace -c -f counts its calls)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/archive/report_types.h"

namespace {

constexpr int kReportsPerArchive = 5000;

std::string patient_text(const std::string& recording_id) {
    return "C:\\ANALYSER\\PATIENT.TXT\r\nMon Dec 03 14:05:09 2007\r\nSmith, John\r\n01/02/1950\r\n57\r\nM\r\n--\r\n" +
           recording_id + "\r\n1234\r\nDr Who\r\n--\r\nGeneral\r\n03/12/2007\r\nR42\r\nR42\r\n04/12/2007\r\n";
}

bool make_group(const std::string& root, int reports, int& matching) {
    std::string dir;
    for (int a = 0; a * kReportsPerArchive < reports; ++a) {
        const std::string name = "ARCH" + std::to_string(a);
        dir += name + "\r\nArchive " + std::to_string(a) + "\r\n";
        const std::string archive = root + "/" + name;
        ::mkdir(archive.c_str(), 0755);
        std::string index;
        for (int r = 0; r < kReportsPerArchive && a * kReportsPerArchive + r < reports; ++r) {
            const std::string report = tv::format_string("R%05d.FUL", r);
            ::mkdir((archive + "/" + report).c_str(), 0755);
            const bool match = r % 1000 == 7;
            matching += match;
            const std::string id = match ? "ABCD1234566" : tv::format_string("ID%09d", a * 100000 + r);
            if (!tv::platform::atomic_write_file(archive + "/" + report + "/PATIENT.TXT", patient_text(id)))
                return false;
            index += report + "\r\nPatient " + std::to_string(r) + "\r\n" +
                     tv::format_file_date_text(1196690709 + r * 3600LL) + "\r\n100000\r\nFull\r\n";
        }
        if (!tv::platform::atomic_write_file(archive + "/ARCHINFO.DAT", index)) return false;
    }
    return tv::platform::atomic_write_file(root + "/ARCHDIR.DAT", dir);
}

}  // namespace

int main(int argc, char** argv) {
    const bool given = argc > 2 && std::strcmp(argv[1], "--group") == 0;
    const int reports = given ? 0 : argc > 1 ? std::atoi(argv[1]) : 100000;
    const bool keep = given || (argc > 2 && std::strcmp(argv[2], "--keep") == 0);
    if (!given && reports <= 0) return 2;
    std::string root = given                                       ? std::string(argv[2])
                       : std::filesystem::is_directory("/dev/shm") ? "/dev/shm/find_timing.XXXXXX"
                                                                   : tv::get_temp_folder() + "/find_timing.XXXXXX";
    int matching = 0;
    if (!given && (!::mkdtemp(root.data()) || !make_group(root, reports, matching))) return 1;
    const std::string out = root + "/found.txt";
    std::vector<double> ms;
    int found = 0;
    for (int run = 0; run < 6; ++run) {
        const auto start = std::chrono::steady_clock::now();
        found = tv::find_recording_command("RECORDING_ID", "ABCD1234566", root, out);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        if (run > 0) ms.push_back(took.count());  // the first one warms the caches
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    if (given)
        std::printf("/find over %s: %.1f ms, %d found\n", root.c_str(), median, found);
    else
        std::printf("/find over %d reports: %.1f ms (%.2f us a report), %d found\n", reports, median,
                    median * 1000.0 / reports, found);
    if (keep) {
        std::printf("group kept: %s\n", root.c_str());
    } else {
        std::filesystem::remove_all(root);
    }
    return given || found == std::min(matching, static_cast<int>(tv::kFindCountCap)) ? 0 : 1;
}
