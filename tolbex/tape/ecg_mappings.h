// The six named ECG mappings of a tape intake, as their creator: tolbex makes them before it starts
// the replay-deck reader, which opens them by name and fills them; layouts in
// common/tape_mappings.h. Each intake makes them anew and zeroed and removes the names when it
// ends, so nothing of an earlier tape (samples, events, the reader's start sample) reaches a new
// recording and nothing is left behind. Names that another live process holds belong to a tape
// intake still running (or to its reader): they are left alone and the deck counts as busy.
#pragma once
#include <cstdint>
#include <memory>

#include "common/memory_mapped_file.h"
#include "common/tape_mappings.h"

namespace tv {

class TapeMappings {
public:
    // Creates all six writable, fresh and zeroed where no other process holds the name, then sets
    // the deck state to IDLE and the first channel's sample count to 0. Check busy() and
    // all_mapped() afterwards.
    TapeMappings();
    // Unmaps all six and removes their names.
    ~TapeMappings();
    TapeMappings(const TapeMappings&) = delete;
    TapeMappings& operator=(const TapeMappings&) = delete;

    // Every mapping has its object and its whole view.
    bool all_mapped() const { return all_mapped_; }
    // Another process holds the names: nothing was mapped, and nothing of theirs is touched.
    bool busy() const { return busy_; }

    // Samples of channel 0..2; nullptr for any other number (or when not mapped).
    std::uint16_t* channel(int index) const;
    TapeDataBlock* tape_data() const;
    PatientEventList* events() const;
    EcgControlBlock* control() const;

    // The reader writes these while tolbex reads them: each is read once, whole.
    // The first channel's samples written, clamped to the mapping's 0..14,745,600 samples.
    std::int32_t sample_count() const;
    std::int32_t deck_state() const;
    // Non-zero positions before the first 0, at most 1,000.
    int event_count() const;

private:
    MemoryMappedFile maps_[6];  // RAWECG1..3, ECGCTRL, Patient Events, TAPEDATA
    bool all_mapped_ = false;
    bool busy_ = false;
};

}  // namespace tv
