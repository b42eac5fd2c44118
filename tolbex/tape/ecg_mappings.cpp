#include "tolbex/tape/ecg_mappings.h"

#include <algorithm>
#include <atomic>

namespace tv {

namespace {

constexpr const char* kNames[6] = {kRawEcgNames[0], kRawEcgNames[1],    kRawEcgNames[2],
                                   kEcgCtrlName,    kPatientEventsName, kTapeDataName};
constexpr std::uint32_t kSizes[6] = {kRawEcgBytes,  kRawEcgBytes,       kRawEcgBytes,
                                     kEcgCtrlBytes, kPatientEventBytes, kTapeDataBytes};

std::int32_t load_shared(std::int32_t& word) {
    return std::atomic_ref<std::int32_t>(word).load(std::memory_order_acquire);
}

}  // namespace

TapeMappings::TapeMappings() {
    all_mapped_ = true;
    // A name nobody holds starts anew and zeroed; one that a live process holds is another
    // intake's, or its reader's, and is left to it.
    for (int i = 0; i < 6; ++i) {
        if (!maps_[i].open(kNames[i], kSizes[i], true) || !maps_[i].get_view() || maps_[i].size() < kSizes[i])
            all_mapped_ = false;
        else if (maps_[i].held_elsewhere())
            busy_ = true;
    }
    if (busy_) {
        for (auto& m : maps_) m.close();
        all_mapped_ = false;
    }
    if (!all_mapped_) return;
    tape_data()->deck_state = kDeckIdle;
    control()[0].samples_written = 0;
}

TapeMappings::~TapeMappings() {
    for (int i = 0; i < 6; ++i) {
        const bool opened = maps_[i].get_view() != nullptr;
        maps_[i].close();
        if (opened) MemoryMappedFile::remove(kNames[i]);
    }
}

std::uint16_t* TapeMappings::channel(int index) const {
    if (!all_mapped_ || index < 0 || index > 2) return nullptr;
    return static_cast<std::uint16_t*>(maps_[index].get_view());
}

EcgControlBlock* TapeMappings::control() const {
    return all_mapped_ ? static_cast<EcgControlBlock*>(maps_[3].get_view()) : nullptr;
}

PatientEventList* TapeMappings::events() const {
    return all_mapped_ ? static_cast<PatientEventList*>(maps_[4].get_view()) : nullptr;
}

TapeDataBlock* TapeMappings::tape_data() const {
    return all_mapped_ ? static_cast<TapeDataBlock*>(maps_[5].get_view()) : nullptr;
}

std::int32_t TapeMappings::sample_count() const {
    if (!all_mapped_) return 0;
    const std::int32_t n = load_shared(control()[0].samples_written);
    return std::clamp<std::int32_t>(n, 0, static_cast<std::int32_t>(kRawEcgSamples));
}

std::int32_t TapeMappings::deck_state() const { return all_mapped_ ? load_shared(tape_data()->deck_state) : -1; }

int TapeMappings::event_count() const {
    if (!all_mapped_) return 0;
    int n = 0;
    while (n < static_cast<int>(kPatientEventSlots) && load_shared(events()->positions[n]) != 0) ++n;
    return n;
}

}  // namespace tv
