// A 24-hour three-channel card to a stored compressed ECG file, end to end: the built card program
// reads the card (found in the drive map) and the compressor packs it into an archive.
// Run from the build folder: tolbex/intake/intake_bench (Release for the figures).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "common/registry.h"
#include "common/ui.h"
#include "platform/drives.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/intake/intake.h"
#include "tolbex/mail/mail.h"
#include "tools/cardgen/card_builder.h"

namespace {

namespace fs = std::filesystem;

class QuietUi : public tv::Ui {
public:
    tv::MsgResult message_box(const std::string& text, const std::string&, tv::MsgIcon, tv::MsgButtons buttons,
                              tv::MsgDefault = tv::MsgDefault::First) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return tv::safe_answer(buttons);
    }
};

void BM_CardDayToArchive(benchmark::State& state) {
    char base[] = "/tmp/intake_bench.XXXXXX";
    if (!::mkdtemp(base)) return state.SkipWithError("no temporary folder");
    const fs::path t = base, root = t / "root", tmp = t / "tmp", archive = t / "ARCHIVE";
    fs::create_directories(root);
    fs::create_directories(tmp);
    fs::create_directories(archive);
    std::ofstream(archive / "ARCHINFO.DAT").flush();
    ::setenv("TORVANE_ROOT", root.c_str(), 1);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    tv::register_tolbex_strings();
    tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kCardProgramKey, "Install Path", VOND_PROGRAM);
    tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", TV_SZIP_PROGRAM);
    QuietUi quiet;
    tv::set_ui(&quiet);

    // 24 hours: 86,400 sectors of 128 samples on three channels.
    std::vector<cardgen::Sector> sectors{cardgen::start_sector(cardgen::StartInfo{})};
    for (int k = 0; k < 86400; ++k) {
        cardgen::DataSector d;
        for (auto [c, i] : cardgen::value_order(false)) d.values.push_back((k * 128 + i + c * 7) % 1024);
        sectors.push_back(cardgen::data_sector(d));
    }
    sectors.push_back(cardgen::Sector{});
    const auto config = cardgen::config_dat(5, 5, 5, "DOE^JOHN", "12345");

    tv::IntakeWindowing w;
    w.patient_details = [](tv::PatientDetails& d) {
        d.description = "Bench";
        d.compress = true;
        d.level = 4;
        return true;
    };
    w.choose_archive = [&](const std::string&) { return archive.string(); };
    tv::set_intake_windowing(w);
    tv::set_cef_archive_store(tv::store_intake_cef);
    tv::MailServices mail;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(t / "CARD");
        cardgen::write_card(t / "CARD", config, 1024, sectors);
        tv::platform::MappedDrive drive;
        drive.letter = 'K';
        drive.folder = (t / "CARD").string();
        drive.label = "QUX_CFR";
        tv::platform::map_drive(drive);
        state.ResumeTiming();
        tv::card_intake(0, mail);
    }
    tv::platform::unmap_drive('K');
    tv::set_intake_windowing({});
    tv::set_cef_archive_store({});
    tv::set_ui(nullptr);
    std::size_t stored = 0;
    for (const auto& e : fs::directory_iterator(archive)) stored += e.is_directory();
    state.counters["stored"] = static_cast<double>(stored);
    fs::remove_all(t);
}
BENCHMARK(BM_CardDayToArchive)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
