// The tape ECG mappings as the intake reads them after the replay-deck reader filled them: the
// control block, the tape data, the patient events and the first samples come from the input;
// then the counts, the start sample, PATEVENT.DAT and (for short recordings) the CEF's files.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "tolbex/tape/ecg_mappings.h"
#include "tolbex/tape/tape_intake.h"

namespace {

constexpr std::size_t kSampleBytes = 65536;

// Copies the next part of the input over `size` bytes at `to` (zeros where the input ends).
void fill(void* to, std::size_t size, const std::uint8_t*& data, std::size_t& left) {
    const std::size_t n = std::min(size, left);
    std::memset(to, 0, size);
    if (n) std::memcpy(to, data, n);
    data += n;
    left -= n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    static tv::TapeMappings mappings;
    if (!mappings.all_mapped()) return 0;
    static const std::string folder = tv::fuzz::sub_folder("tape");
    std::size_t left = size;
    fill(mappings.control(), tv::kEcgCtrlBytes, data, left);
    fill(mappings.tape_data(), tv::kTapeDataBytes, data, left);
    fill(mappings.events(), tv::kPatientEventBytes, data, left);
    for (int c = 0; c < 3; ++c) fill(mappings.channel(c), kSampleBytes, data, left);
    (void)mappings.deck_state();
    (void)tv::cef_start_sample(*mappings.tape_data());
    (void)tv::write_patient_events(mappings, folder + "PATEVENT.DAT");
    // A whole day of samples per run would make the fuzzer crawl; the count is clamped by the
    // mappings either way.
    if (mappings.sample_count() <= static_cast<std::int32_t>(kSampleBytes / 2)) {
        tv::TapeOptions options;
        options.type_index = mappings.tape_data()->status;
        tv::PatientDetails details;
        details.description = std::string(mappings.tape_data()->serial_text, sizeof mappings.tape_data()->serial_text);
        details.level = mappings.tape_data()->scale;
        (void)tv::write_tape_cef(mappings, options, details, folder, folder + "OUT.CEF", nullptr);
    }
    tv::fuzz::clear_folder(folder);
    return 0;
}
