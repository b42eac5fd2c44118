// Signing a 30-page formatted report (about 2 MB) and verifying it with its restore
// (goals: sign at most 100 ms, verify and restore at most 50 ms).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "common/files.h"
#include "platform/fs.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/tests/signing_fixture.h"

namespace {

// A report folder of 30 pages of about 66 KB each, a patient file and a summary; removed at exit.
const std::string& report_folder() {
    static const std::string folder = [] {
        std::string scratch = tv::create_temp_folder();
        if (scratch.empty()) std::abort();
        static std::string cleanup = scratch;
        std::atexit([] { tv::delete_folder_tree(cleanup, true, false); });
        const std::string report = scratch + "BENCH.IMG";
        if (!tv::create_folder_path(report)) std::abort();
        std::uint32_t x = 12345;
        for (int page = 0; page < 30; ++page) {
            std::string bytes(68000, '\0');
            for (auto& b : bytes) b = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
            if (!tv::platform::atomic_write_file(report + "/page." + std::to_string(page), bytes)) std::abort();
        }
        tv::platform::atomic_write_file(report + "/PATIENT.TXT", "Name\r\n");
        tv::platform::atomic_write_file(report + "/SUMMARY.TXT", "Summary\r\n");
        return report;
    }();
    return folder;
}

void BM_SignReport(benchmark::State& state) {
    const auto id = tv::signing::testing::make_identity("Bench Signer");
    const std::string out = tv::get_path_folder(report_folder()) + "/signed.dat";
    for (auto _ : state) {
        auto record = tv::signing::testing::signer_record(id);
        if (!tv::signing::sign_report_folder(record, report_folder(), "", out)) state.SkipWithError("sign failed");
    }
    state.SetBytesProcessed(state.iterations() * tv::get_folder_size_64(report_folder(), false));
}
BENCHMARK(BM_SignReport)->Unit(benchmark::kMillisecond);

void BM_VerifyAndRestore(benchmark::State& state) {
    const auto id = tv::signing::testing::make_identity("Bench Signer");
    const std::string out = tv::get_path_folder(report_folder()) + "/signed.dat";
    auto record = tv::signing::testing::signer_record(id);
    if (!tv::signing::sign_report_folder(record, report_folder(), "", out)) std::abort();
    for (auto _ : state) {
        auto restored = tv::signing::verify_signed_report(out);
        if (!restored) state.SkipWithError("verify failed");
    }
    state.SetBytesProcessed(state.iterations() * tv::get_folder_size_64(report_folder(), false));
}
BENCHMARK(BM_VerifyAndRestore)->Unit(benchmark::kMillisecond);

}  // namespace
