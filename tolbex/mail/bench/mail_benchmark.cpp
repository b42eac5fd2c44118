// Mailing a 30-page report: the transfer file and the whole MIME message (no send command).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "common/files.h"
#include "formats/transfer_file.h"
#include "tolbex/mail/mail_message.h"

namespace {

namespace fs = std::filesystem;

// A formatted report's folder: 30 page files of drawing records (repetitive with noise), the
// summary and the patient file.
fs::path make_report(const fs::path& base) {
    const fs::path folder = base / "R.IMG";
    fs::create_directories(folder);
    std::mt19937 rng(7);
    for (int page = 1; page <= 30; ++page) {
        std::string bytes;
        while (bytes.size() < 48 * 1024) {
            bytes += "\x26\x00\x00\x00\x0C\x00\x00\x00";
            for (int k = 0; k < 24; ++k) bytes += static_cast<char>(rng() % (k < 16 ? 8 : 256));
        }
        std::ofstream(folder / ("PAGE" + std::to_string(page) + ".EMF"), std::ios::binary) << bytes;
    }
    std::ofstream(folder / "SUMMARY.TXT") << std::string(4000, 's');
    std::ofstream(folder / "PATIENT.TXT") << "8\r\nSmith\r\nJohn\r\n";
    return folder;
}

void BM_MailThirtyPageReport(benchmark::State& state) {
    const fs::path base = fs::path(tv::create_temp_folder());
    const fs::path folder = make_report(base);
    const std::string tvz = (base / "R.TVZ").string();
    std::size_t message_size = 0;
    for (auto _ : state) {
        if (tv::pack_transfer_file({(folder / "*.*").string()}, tvz) != 0) state.SkipWithError("pack failed");
        tv::MailMessage m;
        m.recipient = "ward7@clinic.example";
        m.subject = "Brisco Torvane Report";
        m.note = "These report(s) were sent from Brisco Torvane Medical Trevalink\n\nR.TVZ: R (Formatted)\n\n";
        m.attachments.push_back({tvz, "R.TVZ"});
        auto text = tv::build_mime_message(m);
        if (!text) state.SkipWithError("message failed");
        message_size = text->size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["message_bytes"] = static_cast<double>(message_size);
    fs::remove_all(base);
}
BENCHMARK(BM_MailThirtyPageReport)->Unit(benchmark::kMillisecond);

}  // namespace
