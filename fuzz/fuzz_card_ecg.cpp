// The recorder card's ecg.dat through the reading loop: start sector, index, and the 10-bit,
// nibble-delta, bit-stream and 12-lead sector decoders, into recording files. The input holds the
// sectors in plain form; the harness scrambles each by its type (unless the mode says not), so
// that mutations reach the decoders instead of the checksum test.
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "vond/card_disk.h"
#include "vond/program.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string card = tv::fuzz::sub_folder("card");
    static const std::string out = tv::fuzz::sub_folder("cardout");
    if (size < 2) return 0;
    const std::uint8_t mode = data[0];
    std::vector<std::uint8_t> ecg(data + 1, data + size);
    if (!(mode & 0x80))
        for (std::size_t at = 0; at + tv::vond::kSectorSize <= ecg.size(); at += tv::vond::kSectorSize)
            tv::vond::scramble_sector(&ecg[at], tv::vond::sector_form(ecg[at]));
    tv::vond::ConfigDat config;
    config.bytes[0] = 1;
    config.set_recording_num(0xFFFF);
    config.set_patient_data_num(0xFFFF);
    config.set_wav_recording_num(0xFFFF);
    config.bytes[95] = 129;
    std::memcpy(&config.bytes[96], "NAME", 4);
    tv::fuzz::put_file(card + "config.dat", config.bytes.data(), config.bytes.size());
    tv::fuzz::put_file(card + "ecg.dat", ecg.data(), ecg.size());

    tv::vond::CardDisk disk;
    disk.set_root(card.substr(0, card.size() - 1));
    disk.set_mode(tv::vond::kReadEcgHide);
    // One hour bounds what a run may write, whatever times the sectors claim.
    disk.settings().duration_hours = 1;
    disk.settings().resolution = 8 + (mode >> 2) % 5;
    disk.settings().scramble = mode & 0x40;
    disk.set_calibration((mode & 2) ? 2 : 0);
    (void)disk.read_ecg((mode & 1) ? tv::vond::kFormatOs12File : tv::vond::kFormatArchive,
                        out.substr(0, out.size() - 1));
    tv::fuzz::clear_folder(out);
    return 0;
}
