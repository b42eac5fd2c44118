// Loading a large archive group: 20 archives of 5,000 reports each (goal: at most 150 ms).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_group.h"

namespace {

constexpr int kArchives = 20;
constexpr int kReports = 5000;

// Builds the group once per process in a fresh temporary folder; removed at exit.
const std::string& group_index() {
    static const std::string index = [] {
        std::string folder = tv::create_temp_folder();
        if (folder.empty()) std::abort();
        folder.pop_back();
        std::string dir = "STANDARD\r\nSTANDARD\r\n";
        static const char* kTypes[] = {".FUL", ".IMG", ".PRT", ".RAW", ".O12"};
        static const char* kNames[] = {"Full", "Formatted", "Partial", "RAW ECG", "Full Ostrabel12"};
        for (int a = 0; a < kArchives; ++a) {
            const std::string name = a == 0 ? "STANDARD" : "ARCH" + std::to_string(a);
            if (a) dir += name + "\r\n" + "Archive " + std::to_string(a) + "\r\n";
            const std::string archive = folder + "/" + name;
            std::filesystem::create_directories(archive);
            std::string text;
            text.reserve(static_cast<std::size_t>(kReports) * 100);
            for (int r = 0; r < kReports; ++r) {
                const int t = r % 5;
                text += tv::format_string("%c%c%02d%c%03X%s\r\n", 'A' + r % 26, 'A' + a % 12, r % 100, 'A' + r % 24,
                                          r % 0xE10, kTypes[t]);
                text += tv::format_string("Patient %d of archive %d, Holter 24h\r\n", r, a);
                text += tv::format_file_date_text(1196690709 + r * 3600LL) + "\r\n";
                text += tv::format_string("%d%s\r\n", 100000 + r * 37, t == 1 && r % 2 ? "C" : "");
                text += std::string(kNames[t]) + "\r\n";
            }
            if (!tv::platform::atomic_write_file(archive + "/ARCHINFO.DAT", text)) std::abort();
        }
        if (!tv::platform::atomic_write_file(folder + "/ARCHDIR.DAT", dir)) std::abort();
        static std::string cleanup_folder = folder;
        std::atexit([] { tv::delete_folder_tree(cleanup_folder, true, false); });
        return folder + "/ARCHDIR.DAT";
    }();
    return index;
}

void BM_LoadArchiveGroup(benchmark::State& state) {
    const std::string& index = group_index();
    std::int64_t reports = 0;
    for (auto _ : state) {
        tv::ArchiveGroup group(index);
        reports = 0;
        for (int i = 0; i < group.get_count(); ++i) reports += group.get_archive(i)->get_count();
        benchmark::DoNotOptimize(group.get_checksum());
    }
    if (reports != static_cast<std::int64_t>(kArchives) * kReports) state.SkipWithError("wrong report count");
    state.counters["reports"] = static_cast<double>(reports);
}
BENCHMARK(BM_LoadArchiveGroup)->Unit(benchmark::kMillisecond);

}  // namespace
