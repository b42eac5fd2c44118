#include "tolbex/app/report_settings.h"

#include "tolbex/app/tolbex_app.h"

namespace tv {

ReportDocumentMode current_report_mode() {
    ReportDocumentMode mode;
    if (const CTolbexApp* app = CTolbexApp::current()) {
        mode.preview = app->is_preview();
        mode.read_only = app->is_read_only();
        mode.confirm_cnav = app->is_confirm_cnav();
    }
    return mode;
}

PrintSettings current_print_settings() {
    PrintSettings s;
    if (const CTolbexApp* app = CTolbexApp::current()) {
        s.true_scale = app->ecg_scaling;
        s.margins = app->margins;
        s.pdf_printer_name = app->pdf_printer_name;
        s.pdf_output_folder = app->pdf_output_folder;
    }
    return s;
}

}  // namespace tv
