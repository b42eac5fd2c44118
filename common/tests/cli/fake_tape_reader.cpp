// Plays a tape reader: fills the mappings the host created, then ends with a chosen code.
//   fake_tape_reader [normal|minus-one|killed]
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "common/memory_mapped_file.h"
#include "tape_layout.h"

using namespace tvcli;

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "normal";
    if (mode == "minus-one") std::exit(-1);
    if (mode == "killed") std::raise(SIGKILL);

    tv::MemoryMappedFile ecg(kRawEcgNames[0], kRawEcgBytes, true);
    tv::MemoryMappedFile ctrl(kEcgCtrlName, kEcgCtrlBytes, true);
    tv::MemoryMappedFile tape(kTapeDataName, kTapeDataBytes, true);
    tv::MemoryMappedFile events(kPatientEventsName, kPatientEventBytes, true);
    if (!ecg.get_view() || !ctrl.get_view() || !tape.get_view() || !events.get_view()) return 99;

    auto* samples = static_cast<std::int16_t*>(ecg.get_view());
    const std::int32_t count = 76800;
    for (std::int32_t i = 0; i < count; ++i) samples[i] = static_cast<std::int16_t>(i + 1);
    auto* c = static_cast<std::uint8_t*>(ctrl.get_view());
    std::memcpy(c, &count, 4);
    const std::int32_t done = 1;
    std::memcpy(c + kDoneOffset, &done, 4);
    auto* t = static_cast<std::uint8_t*>(tape.get_view());
    std::strcpy(reinterpret_cast<char*>(t + kSerialOffset), "SN:1A / 7");
    const std::int32_t finished = 4;
    std::memcpy(t + kDeckStateOffset, &finished, 4);
    sleep(2);
    return 2;
}
