// The card's config.dat: texts in both orders, times, and the recording information that reads
// it beside a valid start sector.
#include <cstdint>
#include <cstring>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "vond/card_disk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string card = [] {
        const std::string c = tv::fuzz::sub_folder("cfgcard");
        tv::vond::Sector s{};
        s[0] = tv::vond::kTypeStartLow;
        tv::store_le16(&s[1], 5);
        const std::uint8_t time[6] = {30, 20, 10, 15, 3, 7};
        std::memcpy(&s[6], time, 6);
        s[15] = 2;
        std::memcpy(&s[18], "SN123456", 8);
        s[182] = 24;
        tv::vond::scramble_sector(s.data(), tv::vond::sector_form(s[0]));
        tv::fuzz::put_file(c + "ecg.dat", s.data(), s.size());
        return c;
    }();
    tv::fuzz::put_file(card + "config.dat", data, size);
    tv::vond::CardDisk disk;
    disk.set_root(card.substr(0, card.size() - 1));
    if (!disk.read_config()) __builtin_trap();
    const tv::vond::ConfigDat& c = disk.config();
    for (int i = 1; i <= 3; ++i) {
        (void)c.text(i);
        (void)c.logical_text(i);
    }
    (void)tv::vond::format_card_time(&c.bytes[4]);
    tv::vond::RecordingInfo info;
    (void)disk.recording_info(info);
    return 0;
}
