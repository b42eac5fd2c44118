// The records of a change of a card's files: undo.dat, and the record that stands in patient.wav's
// place on a full card. Both lie on a card anyone may write; the next run reads and plays them.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "vond/card_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string card = tv::fuzz::sub_folder("undocard");
    if (size == 0) return 0;
    tv::fuzz::clear_folder(card);
    tv::fuzz::put_file(card + "config.dat", std::string(tv::vond::kConfigSize, '\0'));
    tv::fuzz::put_file(card + "cnav.dat", std::string(tv::vond::kEmptyCnavSize, '\0'));
    // The first byte chooses where the record lies.
    const bool in_wav = data[0] & 1;
    tv::fuzz::put_file(card + "patient.wav", in_wav ? std::string(reinterpret_cast<const char*>(data + 1), size - 1)
                                                    : tv::vond::empty_patient_wav());
    if (!in_wav) tv::fuzz::put_file(card + tv::vond::kCardUndoName, data + 1, size - 1);
    tv::vond::CardFolder folder;
    if (!folder.open(card.substr(0, card.size() - 1))) __builtin_trap();
    (void)tv::vond::undo_unfinished_change(folder);
    // Only the card's own files are ever written: nothing beside them.
    for (const auto& e : folder.entries().value_or(std::vector<tv::FolderEntry>{}))
        if (!tv::vond::is_allowed_card_file(e.name)) __builtin_trap();
    return 0;
}
