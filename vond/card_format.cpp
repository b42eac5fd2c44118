#include "vond/card_format.h"

#include <cstdio>
#include <cstring>

#include "common/civil_days.h"
#include "common/bytes.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "vond/exit_codes.h"

namespace tv::vond {

SectorForm sector_form(std::uint8_t type) {
    switch (type) {
        case 1:
        case 2:
        case 129: return SectorForm::Low;
        case 4:
        case 5:
        case 48:
        case 64:
        case 65:
        case 130:
        case 131: return SectorForm::High;
        default: return SectorForm::None;
    }
}

const std::array<std::uint16_t, 256>& crc16_table() {
    static const std::array<std::uint16_t, 256> table = [] {
        std::array<std::uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x8408u : c >> 1;
            t[i] = static_cast<std::uint16_t>(c);
        }
        return t;
    }();
    return table;
}

bool unscramble_sector(std::uint8_t* s, SectorForm form) {
    if (form == SectorForm::None) return true;
    const auto& t = crc16_table();
    unsigned crc = 0xFFFF;
    if (form == SectorForm::Low) {
        // The key is the register's low byte, so the table index is the stored byte itself:
        // the look-ups do not wait for each other.
        for (int i = kPayloadOffset; i < kSectorSize; ++i) {
            const std::uint8_t stored = s[i];
            s[i] = static_cast<std::uint8_t>(stored ^ (crc & 0xFF));
            crc = t[stored] ^ (crc >> 8);
        }
        return crc == load_le16(s + 3);
    }
    for (int i = kPayloadOffset; i < kSectorSize; ++i) {
        const std::uint8_t plain = static_cast<std::uint8_t>(s[i] ^ (crc >> 8));
        s[i] = plain;
        crc = t[(crc ^ plain) & 0xFF] ^ (crc >> 8);
    }
    return crc == load_le16(s + 3);
}

void scramble_sector(std::uint8_t* s, SectorForm form) {
    if (form == SectorForm::None) return;
    const auto& t = crc16_table();
    unsigned crc = 0xFFFF;
    const int shift = form == SectorForm::Low ? 0 : 8;
    for (int i = kPayloadOffset; i < kSectorSize; ++i) {
        const std::uint8_t plain = s[i];
        s[i] = static_cast<std::uint8_t>(plain ^ ((crc >> shift) & 0xFF));
        crc = t[(crc ^ plain) & 0xFF] ^ (crc >> 8);
    }
    store_le16(s + 3, crc);
}

bool unscramble_by_type(std::uint8_t* s) { return unscramble_sector(s, sector_form(s[0])); }

int format_channel_count(std::uint8_t format) {
    switch (format & 0x7F) {
        case 33: return 1;
        case 1:
        case 4:
        case 34: return 2;
        case 2:
        case 5:
        case 35:
        case 48: return 3;
        case 64:
        case 65: return 12;
        default: return 0;
    }
}

bool format_is_sector_coded(std::uint8_t format) {
    switch (format & 0x7F) {
        case 33:
        case 34:
        case 35:
        case 48:
        case 64:
        case 65: return true;
        default: return false;
    }
}

int format_result_code(std::uint8_t format) {
    switch (format_channel_count(format)) {
        case 1: return kExitOneChannel;
        case 2: return kExitTwoChannels;
        case 3: return kExitThreeChannels;
        case 12: return kExitTwelveLead;
        default: return kExitNoRecording;
    }
}

StartSector parse_start_sector(const Sector& s) {
    StartSector r;
    r.sector_format_num = s[0];
    r.recording_num = load_le16(&s[1]);
    r.sector_crc = load_le16(&s[3]);
    r.recording_start_type = s[5];
    std::memcpy(r.recording_start_time, &s[6], 6);
    std::memcpy(r.recording_exp_length, &s[12], 3);
    r.recording_format = s[15] & 0x7F;
    r.recorder_sw_ver = load_le16(&s[16]);
    std::memcpy(r.recorder_serial_no, &s[18], 8);
    r.recording_flags = s[26];
    r.pacing_threshold = s[27];
    r.recording_length = s[182];
    // The recorder text has no stated length: it cannot reach the length byte at 182.
    for (int i = 164; i < 182 && s[static_cast<std::size_t>(i)] != 0; ++i)
        r.recorder_text.push_back(static_cast<char>(s[static_cast<std::size_t>(i)]));
    return r;
}

std::string format_start_sector_info(const StartSector& s) {
    return format_string(
        "Unscrambled Sector Information\n\nsector_format_num:\t\t%d\nrecording_num:\t\t%d\nsector_crc:\t\t%xH\n"
        "recording_start_type:\t\t%d\nrecording_start_time[0]:\t%d\nrecording_start_time[1]:\t%d\n"
        "recording_start_time[2]:\t%d\nrecording_start_time[3]:\t%d\nrecording_start_time[4]:\t%d\n"
        "recording_start_time[5]:\t%d\nrecording_exp_length[0]:\t%d\nrecording_exp_length[1]:\t%d\n"
        "recording_exp_length[2]:\t%d\nrecording_format:\t\t%d\nrecorder_sw_ver:\t\t%xH\n"
        "recorder_serial_no:\t\t%.8s\nrecording_flags:\t\t%xH\npacing_threshold:\t\t%d\nrecording_length:\t\t%d",
        s.sector_format_num, s.recording_num, s.sector_crc, s.recording_start_type, s.recording_start_time[0],
        s.recording_start_time[1], s.recording_start_time[2], s.recording_start_time[3], s.recording_start_time[4],
        s.recording_start_time[5], s.recording_exp_length[0], s.recording_exp_length[1], s.recording_exp_length[2],
        s.recording_format, s.recorder_sw_ver, s.recorder_serial_no, s.recording_flags, s.pacing_threshold,
        s.recording_length);
}

CardClock CardClock::from_bytes(const std::uint8_t* t) {
    CardClock c;
    c.second = t[0];
    c.minute = t[1];
    c.hour = t[2];
    c.day = t[3];
    c.month = t[4];
    c.year = t[5];
    c.hundredths = 0;
    return c;
}

bool CardClock::valid() const {
    if (hundredths < 0 || hundredths >= 100 || second < 0 || second >= 60 || minute < 0 || minute >= 60 || hour < 0 ||
        hour > 23 || year < 0 || year > 99 || month < 1 || month > 12 || day < 0)
        return false;
    int max_day = 31;
    if (month == 2)
        max_day = year % 4 == 0 ? 29 : 28;
    else if (month == 4 || month == 6 || month == 9 || month == 11)
        max_day = 30;
    return day <= max_day;
}

std::int64_t CardClock::to_seconds() const {
    const std::int64_t full_year = year == 99 ? 1999 : 2000 + year;
    const unsigned m = month >= 1 && month <= 12 ? static_cast<unsigned>(month) : 1u;
    const std::int64_t days = days_from_civil(full_year, m, day) - days_from_civil(2000, 1, 1);
    std::int64_t s = days * 86400 + hour * 3600 + minute * 60 + second;
    if (hundredths >= 50) ++s;  // half away from zero
    return s;
}

void CardClock::advance_second() {
    if (++second < 60) return;
    second = 0;
    if (++minute < 60) return;
    minute = 0;
    if (++hour <= 23) return;
    hour = 0;
    ++day;
    if (valid()) return;
    day = 1;
    ++month;
    if (valid()) return;
    month = 1;
    if (++year == 100) year = 0;
}

void CardClock::advance_half_second() {
    if (hundredths >= 50) {
        hundredths -= 50;
        advance_second();
    } else {
        hundredths += 50;
    }
}

void CardClock::advance_23_hundredths() {
    hundredths += 23;
    if (hundredths >= 100) {
        hundredths -= 100;
        advance_second();
    }
}

std::string card_path(const std::string& folder, const std::string& name) {
    if (auto p = platform::find_name_ci(folder, name)) return *p;
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

namespace {

template <class Pred>
FoundSector find_sector_in(int fd, Pred pred) {
    FoundSector r;
    if (fd < 0) return r;
    std::int64_t offset = 0;
    while (platform::pread_all(fd, r.sector.data(), kSectorSize, static_cast<std::uint64_t>(offset))) {
        if (pred(r.sector[0])) {
            r.found = true;
            r.offset = offset;
            r.checksum_ok = unscramble_by_type(r.sector.data());
            break;
        }
        offset += kSectorSize;
    }
    return r;
}

template <class Pred>
FoundSector find_sector(const std::string& card, Pred pred) {
    // A FIFO, a device or a link in the card's place never holds the search.
    const OutsideFile f = open_outside_file(card_path(card, "ecg.dat"), UINT64_MAX);
    return find_sector_in(f ? f.fd.get() : -1, pred);
}

bool start_type(std::uint8_t t) { return is_start_type(t); }
bool first_data_type(std::uint8_t t) { return t == 1 || t == 2 || t == 4 || t == 5; }

}  // namespace

FoundSector find_start_sector(const std::string& card) { return find_sector(card, start_type); }
FoundSector find_start_sector_in(int ecg_fd) { return find_sector_in(ecg_fd, start_type); }
FoundSector find_first_data_sector_in(int ecg_fd) { return find_sector_in(ecg_fd, first_data_type); }

}  // namespace tv::vond
