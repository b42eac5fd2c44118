// How reports are printed: the margins and scaling of the application's settings and the PDF
// printer that writes files instead of paper.
#pragma once
#include <string>

namespace tv {

// Print margins in thousandths of a millimetre.
struct PrintMargins {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct PrintSettings {
    bool true_scale = false;
    PrintMargins margins;  // micrometres
    std::string pdf_printer_name;
    std::string pdf_output_folder;
};

}  // namespace tv
