// The descriptor of a recording that the ECG management system's loader reads: its patient
// details, cleaned for the card.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "vond/ecg_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("loader");
    const std::string path = folder + "REC.LDSC";
    tv::fuzz::put_file(path, data, size);
    tv::vond::DescriptorPatient patient;
    if (tv::vond::read_descriptor_patient(path, patient)) (void)tv::vond::clean_card_text(patient.name + patient.id);
    (void)tv::vond::find_descriptor(folder);
    return 0;
}
