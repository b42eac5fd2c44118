// The tape mappings as the host and the fake reader share them.
#pragma once
#include <cstdint>

namespace tvcli {
inline constexpr std::uint32_t kRawEcgBytes = 29491200;
inline constexpr std::uint32_t kEcgCtrlBytes = 48;
inline constexpr std::uint32_t kTapeDataBytes = 116;
inline constexpr std::uint32_t kPatientEventBytes = 4000;
inline constexpr const char* kRawEcgNames[3] = {"RAWECG1.MMF", "RAWECG2.MMF", "RAWECG3.MMF"};
inline constexpr const char* kEcgCtrlName = "ECGCTRL.MMF";
inline constexpr const char* kTapeDataName = "TAPEDATA.MMF";
inline constexpr const char* kPatientEventsName = "Patient Events";
inline constexpr std::uint32_t kSerialOffset = 8;
inline constexpr std::uint32_t kDeckStateOffset = 88;
inline constexpr std::uint32_t kDoneOffset = 8;
}  // namespace tvcli
