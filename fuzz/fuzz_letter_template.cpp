// Letter templates: fields, formatted fields and conditional passages, planned and applied to
// the text document against a report's values.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/letters/letter_template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("letter");
    static const tv::AnalysisData values = [] {
        const std::string analsum = folder + tv::kAnalsumTxtName;
        tv::fuzz::put_file(analsum, "1\r\n2\r\n72\r\n3.5\r\n10:20:30\r\nSinus rhythm\r\n0\r\n");
        tv::AnalysisData d;
        try {
            d.read_analsum_txt(analsum);
        } catch (const tv::AnalysisData::FileError&) {}
        return d;
    }();
    const std::string path = folder + "TEMPLATE.TXT";
    tv::fuzz::put_file(path, data, size);
    tv::letters::TextWordProcessor wp;
    if (!wp.open(path)) return 0;
    try {
        tv::letters::apply_letter(wp, tv::letters::plan_letter(wp, values, tv::ui()));
    } catch (const tv::letters::TemplateError&) {
    } catch (const tv::letters::WordProcessorError&) {}
    wp.close();
    return 0;
}
