// The recorder card's ecg.dat: 512-byte sectors, their scrambling and checksums, the start
// sector, the recording formats and the recording clock.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace tv::vond {

inline constexpr int kSectorSize = 512;
inline constexpr int kPayloadOffset = 5;
inline constexpr int kPayloadSize = kSectorSize - kPayloadOffset;  // 507
using Sector = std::array<std::uint8_t, kSectorSize>;

// Sector type codes (byte 0 of every sector).
inline constexpr std::uint8_t kType10BitTwo = 1;
inline constexpr std::uint8_t kType10BitThree = 2;
inline constexpr std::uint8_t kType10BitThreeHigh = 48;
inline constexpr std::uint8_t kTypeNibbleTwo = 4;
inline constexpr std::uint8_t kTypeNibbleThree = 5;
inline constexpr std::uint8_t kTypeStreamOne = 33;
inline constexpr std::uint8_t kTypeStreamTwo = 34;
inline constexpr std::uint8_t kTypeStreamThree = 35;
inline constexpr std::uint8_t kTypeTwelveLead = 64;
inline constexpr std::uint8_t kTypeSkipped = 65;
inline constexpr std::uint8_t kTypeIndexA = 32;
inline constexpr std::uint8_t kTypeIndexB = 49;
inline constexpr std::uint8_t kTypeIndexC = 66;
inline constexpr std::uint8_t kTypeStartLow = 129;
inline constexpr std::uint8_t kTypeStartHigh = 130;
inline constexpr std::uint8_t kTypeStartHigh2 = 131;

inline bool is_start_type(std::uint8_t t) { return t >= 129 && t <= 131; }
inline bool is_index_type(std::uint8_t t) { return t == 32 || t == 49 || t == 66; }
inline bool is_stream_type(std::uint8_t t) { return t >= 33 && t <= 35; }

enum class SectorForm { None, Low, High };
SectorForm sector_form(std::uint8_t type);

// Reflected CRC-16, polynomial 0x1021, initial 0xFFFF, no final XOR.
const std::array<std::uint16_t, 256>& crc16_table();

// In place; the check compares the register with the checksum at offsets 3-4.
bool unscramble_sector(std::uint8_t* sector, SectorForm form);
void scramble_sector(std::uint8_t* sector, SectorForm form);
// By the sector's own type; types without a form pass unchanged.
bool unscramble_by_type(std::uint8_t* sector);

// Recording formats: low seven bits of the start sector's format byte.
int format_channel_count(std::uint8_t format);  // 1, 2, 3, 12; 0 invalid
bool format_is_sector_coded(std::uint8_t format);
// The exit code of the format: a channel count's (kExitOneChannel ... kExitTwelveLead), or
// kExitNoRecording when it is not valid.
int format_result_code(std::uint8_t format);

struct StartSector {
    std::uint8_t sector_format_num = 0;
    std::uint16_t recording_num = 0;
    std::uint16_t sector_crc = 0;
    std::uint8_t recording_start_type = 0;
    std::uint8_t recording_start_time[6] = {};  // s, m, h, d, M, yy
    std::uint8_t recording_exp_length[3] = {};
    std::uint8_t recording_format = 0;  // low seven bits
    std::uint16_t recorder_sw_ver = 0;
    char recorder_serial_no[8] = {};  // not terminated
    std::uint8_t recording_flags = 0;
    std::uint8_t pacing_threshold = 0;
    std::uint8_t recording_length = 0;  // hours; 255 unknown
    std::string recorder_text;          // bytes 164..181 up to the first NUL
};
StartSector parse_start_sector(const Sector& s);
// The information box text of the card dialog.
std::string format_start_sector_info(const StartSector& s);

// The recorder's clock: year 0..99 (99 = 1999), month, day, hour, minute, second, hundredths.
struct CardClock {
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0, hundredths = 0;

    static CardClock from_bytes(const std::uint8_t* t);  // s, m, h, d, M, yy
    bool valid() const;
    // Whole seconds since 2000-01-01 00:00:00.
    std::int64_t to_seconds() const;
    void advance_second();
    void advance_half_second();
    void advance_23_hundredths();
};

// Looks through ecg.dat in `card` for the first start sector (or data sector of types 1, 2, 4,
// 5); unscrambles it. `offset` receives its byte offset in the file.
struct FoundSector {
    bool found = false;
    bool checksum_ok = false;
    Sector sector{};
    std::int64_t offset = -1;
};
FoundSector find_start_sector(const std::string& card);
// The same in ecg.dat open as `ecg_fd` (read with positioned reads; the offset is left alone).
FoundSector find_start_sector_in(int ecg_fd);
FoundSector find_first_data_sector_in(int ecg_fd);

// Path of a known card file in `folder`, matched case-insensitively; folder/name when absent.
std::string card_path(const std::string& folder, const std::string& name);

}  // namespace tv::vond
