// The named ECG mappings that the card program fills for the analysis system: three sample areas
// of 32 hours, the control records and the card layout of "Patient Events".
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "common/tape_mappings.h"
#include "platform/fs.h"
#include "platform/shared_memory.h"

namespace tv::vond {

// Creates or opens a mapping of at least `size` bytes. An existing object of another layout
// that is smaller is refused (nullptr), never grown under its owner.
std::unique_ptr<platform::SharedMemory> open_card_mapping(const std::string& name, std::size_t size);

class EcgMappings {
public:
    // The three sample areas and the control records; with `events` also "Patient Events".
    bool open(bool events);
    void release();

    // A holder may keep the names from an earlier run: every count and done flag starts at 0, so
    // nothing lands after the last run's samples and no reader takes this one as finished.
    void begin_transfer();
    // The done flags, written last, after every sample and count.
    void end_transfer();

    // True when another process holds every sample area, so that the ECG written outlives this
    // one: the last holder to let go removes a mapping and its content. Only one run of this
    // program fills the mappings at a time (it holds their writer's lock from open() to
    // release()), so the other holder is never another run of it.
    bool held_elsewhere() const;

    EcgControlBlock* control(int channel) const;  // 0..2
    std::uint16_t* samples(int channel) const;
    std::int32_t* events() const;  // [0] count, then the times

    // Appends one event time; false when the area is full.
    bool add_event(std::int32_t seconds);

private:
    std::unique_ptr<platform::SharedMemory> ctrl_, raw_[3], events_;
    platform::FileLock writer_;
};

// The folder flow: RAWECG1..3.DAT and PATEVENT.DAT of `folder` into the mappings.
bool fill_mappings_from_folder(const std::string& folder, int skip_hours, int duration_hours);

}  // namespace tv::vond
