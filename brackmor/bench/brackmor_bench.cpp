// Checking a large archive group that needs no change: archives of 5,000 reports each, 10,000 to
// 200,000 reports in all, every report folder present with its files (goal: at most 1 s for
// 100,000, and a time that grows no faster than the reports), beside the browser's load of the
// 100,000-report group.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "brackmor/program.h"
#include "common/audit_log.h"
#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_group.h"

namespace {

constexpr int kReports = 5000;  // in each archive

// Builds each group once per process, in memory-backed /dev/shm where there is one (a hundred
// thousand folders on a disk cost more to make and remove than the run takes); removed at exit.
const std::string& group_folder(int reports) {
    static std::map<int, std::string> made;
    if (const auto it = made.find(reports); it != made.end()) return it->second;
    const int archives = reports / kReports;
    const std::string folder = [archives] {
        std::string root = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/brackmor_bench.XXXXXX"
                                                                     : tv::get_temp_folder() + "/brackmor_bench.XXXXXX";
        if (!::mkdtemp(root.data())) std::abort();
        static const char* kSuffixes[] = {".OSB", ".SGN", ".TIM", ".CEF", ".RAW"};
        static const char* kNames[] = {"Ostrabel", "Signed Report", "TIMI Data", "CEF", "RAW ECG"};
        // What each type's folder holds as the storing program writes it.
        static const char* kFiles[][2] = {
            {"", ""}, {tv::kSignedDataFileName, ""}, {"DATA.TIMI", ""}, {"A.CEF", ""}, {"MAIN.DAT", "RAWECG1.DAT"}};
        std::string dir;
        for (int a = 0; a < archives; ++a) {
            const std::string name = "ARCH" + std::to_string(a);
            dir += name + "\r\nArchive " + std::to_string(a) + "\r\n";
            const std::string archive = root + "/" + name;
            ::mkdir(archive.c_str(), 0755);
            std::string text;
            text.reserve(static_cast<std::size_t>(kReports) * 100);
            for (int r = 0; r < kReports; ++r) {
                const int t = r % 5;
                const std::string report = tv::format_string("R%05d%s", r, kSuffixes[t]);
                ::mkdir((archive + "/" + report).c_str(), 0755);
                for (const char* f : kFiles[t])
                    if (*f) ::close(::open((archive + "/" + report + "/" + f).c_str(), O_CREAT | O_WRONLY, 0644));
                text += report + "\r\n";
                text += tv::format_string("Patient %d of archive %d, Holter 24h\r\n", r, a);
                text += tv::format_file_date_text(1196690709 + r * 3600LL) + "\r\n";
                text += tv::format_string("%d\r\n", 100000 + r * 37);
                text += std::string(kNames[t]) + "\r\n";
            }
            if (!tv::platform::atomic_write_file(archive + "/ARCHINFO.DAT", text)) std::abort();
        }
        if (!tv::platform::atomic_write_file(root + "/ARCHDIR.DAT", dir)) std::abort();
        return root;
    }();
    if (made.empty())
        std::atexit([] {
            for (const auto& [n, f] : made) std::filesystem::remove_all(f);
        });
    return made.emplace(reports, folder).first->second;
}

void BM_BrackmorCheckGroup(benchmark::State& state) {
    const int expected = static_cast<int>(state.range(0));
    const std::string& folder = group_folder(expected);
    std::FILE* console = std::fopen("/dev/null", "w");
    const int input = ::open("/dev/null", O_RDONLY);
    int code = 0;
    for (auto _ : state) code = tv::brackmor::run_program({folder, "/NW"}, "-", "-", console, input, folder);
    std::fclose(console);
    ::close(input);
    if (code != tv::brackmor::kExitDone) state.SkipWithError("the check failed");
    tv::ArchiveGroup group(folder + "/ARCHDIR.DAT");
    std::int64_t reports = 0;
    for (int i = 0; i < group.get_count(); ++i) reports += group.get_archive(i)->get_count();
    if (reports != expected) state.SkipWithError("reports were lost");
    state.counters["reports"] = static_cast<double>(reports);
    state.counters["per_report"] =
        benchmark::Counter(static_cast<double>(reports),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BrackmorCheckGroup)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_TolbexLoadSameGroup(benchmark::State& state) {
    const std::string index = group_folder(100000) + "/ARCHDIR.DAT";
    for (auto _ : state) {
        tv::ArchiveGroup group(index);
        benchmark::DoNotOptimize(group.get_checksum());
    }
}
BENCHMARK(BM_TolbexLoadSameGroup)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
