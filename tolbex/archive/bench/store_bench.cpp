// Storing one report into an archive of 5 and of 50,000 reports: what the store does besides
// rewriting the index (its lock takes, settling, the free name) must not grow with the archive.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"

namespace {

// An archive of `reports` report folders, each listed, and a small report to store; made once per
// size in a fresh temporary folder, removed at exit.
const std::string& archive_of(int reports) {
    static std::map<int, std::string> made;
    std::string& archive = made[reports];
    if (!archive.empty()) return archive;
    std::string folder = tv::create_temp_folder();
    if (folder.empty()) std::abort();
    folder.pop_back();
    archive = folder + "/STANDARD";
    std::string text;
    for (int r = 0; r < reports; ++r) {
        const std::string name = tv::format_string("R%07d.FUL", r);
        std::filesystem::create_directories(archive + "/" + name);
        text += tv::format_archive_entry(name, tv::format_string("Patient %d, Holter 24h", r),
                                         tv::format_file_date_text(1196690709 + r * 3600LL), "100000", "Full");
    }
    if (!tv::platform::atomic_write_file(archive + "/" + tv::kArchiveIndexName, text)) std::abort();
    for (const char* file : {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "PATIENT.TXT"})
        if (!tv::platform::atomic_write_file(folder + "/source/" + file, std::string(4096, 'r')) &&
            !(std::filesystem::create_directories(folder + "/source") &&
              tv::platform::atomic_write_file(folder + "/source/" + file, std::string(4096, 'r'))))
            std::abort();
    static std::vector<std::string> cleanup;
    if (cleanup.empty())
        std::atexit([] {
            for (const std::string& f : cleanup) tv::delete_folder_tree(f, true, false);
        });
    cleanup.push_back(folder);
    return archive;
}

void BM_StoreIntoArchive(benchmark::State& state) {
    const std::string& archive = archive_of(static_cast<int>(state.range(0)));
    const std::string source = tv::get_path_folder(archive) + "/source";
    for (auto _ : state) {
        std::string stored;
        if (tv::store_report_in_archive(archive, source, "Bench", 16384, 1196690709, tv::kReportFull, &stored) !=
            tv::kStoreOk)
            state.SkipWithError("the store failed");
    }
}
// A fixed count: the free names of one second run out after some hundred stores.
BENCHMARK(BM_StoreIntoArchive)->Arg(5)->Arg(50000)->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace
