// The tape mappings as the host and the fake reader share them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/tape_mappings.h"

namespace tvcli {
using tv::kEcgCtrlBytes;
using tv::kEcgCtrlName;
using tv::kPatientEventBytes;
using tv::kPatientEventsName;
using tv::kRawEcgBytes;
using tv::kRawEcgNames;
using tv::kTapeDataBytes;
using tv::kTapeDataName;
inline constexpr std::uint32_t kSerialOffset = offsetof(tv::TapeDataBlock, serial_text);
inline constexpr std::uint32_t kDeckStateOffset = offsetof(tv::TapeDataBlock, deck_state);
inline constexpr std::uint32_t kDoneOffset = offsetof(tv::EcgControlBlock, transfer_done);
}  // namespace tvcli
