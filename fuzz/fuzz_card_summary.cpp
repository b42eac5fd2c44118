// A card's PATSUMM.DAT and cnavop.dat as the intake and the card program read them.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/intake/intake.h"
#include "vond/program.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("card");
    // The first byte splits the input between the two files.
    const std::size_t split = size == 0 ? 0 : std::min<std::size_t>(data[0] * 4u, size - 1);
    const std::uint8_t* body = data + (size == 0 ? 0 : 1);
    const std::size_t body_size = size == 0 ? 0 : size - 1;
    tv::fuzz::put_file(folder + "PATSUMM.DAT", body, std::min(split, body_size));
    tv::fuzz::put_file(folder + "cnavop.dat", body + std::min(split, body_size),
                       body_size - std::min(split, body_size));
    tv::CardSummary summary;
    (void)tv::read_card_summary(folder + "PATSUMM.DAT", summary);
    std::string name, id;
    (void)tv::vond::read_patient_summary(folder, name, id);
    (void)tv::vond::read_recording_id(folder);
    return 0;
}
