// PATIENT.TXT: the record reader, the recording-id reader, the field reader of both layouts and
// the date parser on every line.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/archive/analysis_data.h"
#include "tolbex/archive/patient_txt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("report");
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    const std::string path = folder + tv::kPatientTxtName;
    tv::fuzz::put_file(path, data + 1, size - 1);
    tv::PatientTxt p;
    p.read_folder(folder.substr(0, folder.size() - 1));
    (void)tv::read_recording_id(folder);
    tv::AnalysisData fields;
    try {
        fields.read_patient_txt(path, (mode & 1) ? 8.006 : 7.0);
    } catch (const tv::AnalysisData::FileError&) {}
    for (int n = 1; n < tv::kFirstAnalsumField; ++n) (void)fields.format_field(n, "");
    tv::ReportTextReader reader(path);
    std::string line;
    int count = 0;
    while (count++ < 64 && reader.next_line(line)) (void)tv::parse_patient_date(line, mode % 3);
    return 0;
}
