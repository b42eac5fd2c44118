// The six named mappings that the replay-deck reader fills and the tape intake reads, and the named
// events between them. Both programs take the layouts and names from here, so a field never moves
// in one and not the other.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tv {

inline constexpr std::uint32_t kRawEcgSamples = 14745600;  // 32 hours at 128 per second
inline constexpr std::uint32_t kRawEcgBytes = kRawEcgSamples * 2;
inline constexpr std::uint32_t kEcgCtrlBytes = 48;
inline constexpr std::uint32_t kTapeDataBytes = 116;
inline constexpr std::uint32_t kPatientEventSlots = 1000;
inline constexpr std::uint32_t kPatientEventBytes = kPatientEventSlots * 4;
inline constexpr std::uint32_t kMaxPatientEvents = kPatientEventSlots - 1;

inline constexpr const char* kRawEcgNames[3] = {"RAWECG1.MMF", "RAWECG2.MMF", "RAWECG3.MMF"};
inline constexpr const char* kEcgCtrlName = "ECGCTRL.MMF";
inline constexpr const char* kPatientEventsName = "Patient Events";
inline constexpr const char* kTapeDataName = "TAPEDATA.MMF";
// The named event the intake sets to ask the reader to stop the deck and end.
inline constexpr const char* kShutdownRequestEvent = "KELMOTH SHUTDOWN REQ";

// Deck states in TapeDataBlock::deck_state.
inline constexpr std::int32_t kDeckIdle = 0;
inline constexpr std::int32_t kDeckLoading = 1;
inline constexpr std::int32_t kDeckCassetteOut = 2;
inline constexpr std::int32_t kDeckError = 3;
inline constexpr std::int32_t kDeckFinished = 4;

struct EcgControlBlock {
    std::int32_t samples_written;
    std::int32_t reserved;
    std::int32_t transfer_done;
    std::int32_t start_sample;
};

struct TapeDataBlock {
    std::int32_t start_time_code;  // BCD hhmm, -1 when none
    std::int32_t start_offset;     // samples from the skip start, -1 when none
    char serial_text[40];          // NUL-terminated
    char recording_date[40];       // NUL-terminated
    std::int32_t deck_state;
    std::int32_t speed_error;
    std::int32_t status;
    std::int32_t scale;
    std::int32_t channel_words[3];
};

// Zero-terminated sample positions when fewer than 1,000.
struct PatientEventList {
    std::int32_t positions[kPatientEventSlots];
};

static_assert(sizeof(EcgControlBlock) == 16);
static_assert(offsetof(EcgControlBlock, samples_written) == 0);
static_assert(offsetof(EcgControlBlock, transfer_done) == 8);
static_assert(offsetof(EcgControlBlock, start_sample) == 12);
static_assert(sizeof(EcgControlBlock) * 3 == kEcgCtrlBytes);
static_assert(sizeof(TapeDataBlock) == kTapeDataBytes);
static_assert(offsetof(TapeDataBlock, start_offset) == 4);
static_assert(offsetof(TapeDataBlock, serial_text) == 8);
static_assert(offsetof(TapeDataBlock, recording_date) == 48);
static_assert(offsetof(TapeDataBlock, deck_state) == 88);
static_assert(offsetof(TapeDataBlock, speed_error) == 92);
static_assert(offsetof(TapeDataBlock, status) == 96);
static_assert(offsetof(TapeDataBlock, scale) == 100);
static_assert(offsetof(TapeDataBlock, channel_words) == 104);
static_assert(sizeof(PatientEventList) == kPatientEventBytes);

// The card program's layout of "Patient Events" for the analysis system: an int32 count, then up
// to 4,096 int32 event times in seconds from the start of the output. Same name as the tape
// layout above, different size: an opener must check the object's size before using it.
inline constexpr std::uint32_t kCardPatientEventSlots = 4096;
inline constexpr std::uint32_t kCardPatientEventBytes = 4 + kCardPatientEventSlots * 4;
static_assert(kCardPatientEventBytes == 16388);

}  // namespace tv
