#include "tools/demo/demo_recordings.h"

#include <filesystem>

#include "common/files.h"
#include "common/registry.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "tools/cardgen/card_builder.h"

namespace tv::demo {

namespace {

// 30 minutes of three slow ramps: 1,800 sectors of 128 samples.
std::vector<cardgen::Sector> card_sectors(unsigned recording) {
    cardgen::StartInfo start;
    start.rec = recording;
    std::vector<cardgen::Sector> s{cardgen::start_sector(start)};
    for (int k = 0; k < 1800; ++k) {
        cardgen::DataSector d;
        d.rec = recording;
        if (k == 600) {
            d.button = true;
            d.events = {5};
        }
        for (auto [c, i] : cardgen::value_order(false)) d.values.push_back(300 + (k * 128 + i + c * 40) % 400);
        s.push_back(cardgen::data_sector(d));
    }
    s.push_back(cardgen::Sector{});
    return s;
}

bool map(char letter, const std::string& folder, const char* label, std::uint64_t capacity = 0) {
    platform::MappedDrive d;
    d.letter = letter;
    d.folder = folder;
    d.label = label;
    d.capacity = capacity;
    return platform::map_drive(d);
}

// A card is as large as its files, as a conditioned one is (its ecg.dat fills it): the size of
// the card folder and never the host's free space decides what conditioning writes.
std::uint64_t card_capacity(const std::string& card) {
    std::uint64_t used = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(card, ec))
        if (e.is_regular_file(ec)) used += (e.file_size(ec) + 511) / 512 * 512;
    return used;
}

// A program beside this one (an installation) or in the build tree, registered unless one is;
// false when none is found.
bool register_program(const char* key, const std::string& name, const std::string& build_path, bool registered) {
    if (registered) return true;
    const std::string own = get_module_folder();
    for (const std::string& candidate : {join_path(own, name), join_path(own, build_path)}) {
        const std::string found = platform::resolve_program(candidate);
        if (!found.empty())
            return reg_set_string(HKEY_LOCAL_MACHINE, key, "Install Path",
                                  std::filesystem::weakly_canonical(found).string());
    }
    return false;
}

}  // namespace

std::vector<std::string> register_demo_programs() {
    std::vector<std::string> missing;
    if (!register_program(kCardProgramKey, "vond", "../../vond/vond", !get_card_program_path().empty()))
        missing.push_back("vond");
    if (!register_program(kSzipKey, "szip", "../szip/szip", !find_szip_path().empty())) missing.push_back("szip");
    return missing;
}

bool make_demo_media(DemoMedia* media, std::string* error, unsigned recording) {
    const std::string base = join_path(get_analyser_user_root(), "MEDIA");
    const std::string card = join_path(base, "CFCARD"), disk = join_path(base, "OSTRABEL");
    cardgen::write_card(card, cardgen::config_dat(recording, recording, recording, "PELLOW^MARA", "D-4471"), 1024,
                        card_sectors(recording));
    const bool disk_ok = create_folder_path(disk) && platform::atomic_write_file(join_path(disk, "ROZAVEZ.EVT"), "") &&
                         platform::atomic_write_file(join_path(disk, "ECG.DAT"), std::string(65536, '\x20'));
    if (!disk_ok || !platform::find_name_ci(card, "ecg.dat") ||
        !map(kDemoCardDrive, card, "QUX_CFR", card_capacity(card)) || !map(kDemoDiskDrive, disk, "QUX_FCG")) {
        if (error) *error = "cannot write the demo recorder card and disk under " + base;
        return false;
    }
    if (media) *media = {card, disk};
    return true;
}

}  // namespace tv::demo
