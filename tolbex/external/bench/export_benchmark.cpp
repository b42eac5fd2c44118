// Exporting 100 reports as transfer files into one folder (goal: at most 2 s). Each report is a
// small Holter-style folder: patient file, summary, and 128 KB of half repetitive, half random
// data, about what a page set weighs once the pages are drawn.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/external/export_reports.h"

namespace {

class NullTrail : public tv::AuditTrail {
public:
    bool open(const std::string&) override { return true; }
    bool write(const char*, const std::string&, const std::string&, const std::string&) override { return true; }
    void close() override {}
};

struct Fixture {
    std::string scratch;
    std::vector<tv::SelectedReport> reports;
};

const Fixture& fixture() {
    static const Fixture f = [] {
        Fixture out;
        out.scratch = tv::create_temp_folder();
        if (out.scratch.empty()) std::abort();
        static std::string cleanup = out.scratch;
        std::atexit([] { tv::delete_folder_tree(cleanup, true, false); });
        std::uint32_t x = 12345;
        for (int i = 0; i < 100; ++i) {
            const std::string folder = out.scratch + "arch/R" + std::to_string(i) + ".FUL";
            if (!tv::create_folder_path(folder)) std::abort();
            std::string data;
            for (int line = 0; data.size() < 65536; ++line)
                data += "Hour " + std::to_string(line % 24) + " beats 4213 pauses 0 VE 12 SVE 3\r\n";
            for (int k = 0; k < 65536; ++k) data += static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
            tv::platform::atomic_write_file(folder + "/DATA.BIN", data);
            tv::platform::atomic_write_file(folder + "/PATIENT.TXT",
                                            "8\r\nAlder\r\nMira\r\n\r\n\r\n\r\n\r\nABCD1234566\r\n");
            tv::platform::atomic_write_file(folder + "/SUMMARY.TXT", "Summary\r\n");
            out.reports.push_back({folder, "Report " + std::to_string(i), tv::kReportFull, 131072, 1196690709});
        }
        return out;
    }();
    return f;
}

void BM_Export100Reports(benchmark::State& state) {
    const Fixture& f = fixture();
    tv::ScriptedUi quiet;  // the renaming notices
    tv::set_ui(&quiet);
    NullTrail audit;
    int run = 0;
    for (auto _ : state) {
        const std::string out = f.scratch + "out" + std::to_string(run++);
        if (!tv::create_folder_path(out)) std::abort();
        if (tv::export_reports_to_folder(f.reports, out, "", audit) != 1) state.SkipWithError("export failed");
        state.PauseTiming();
        tv::delete_folder_tree(out, true, false);
        quiet.shown.clear();
        state.ResumeTiming();
    }
    tv::set_ui(nullptr);
}
BENCHMARK(BM_Export100Reports)->Unit(benchmark::kMillisecond);

}  // namespace
