// The print loop that report windows and list views share: the print dialog (page range,
// copies), a progress dialog with Cancel, and print preview, all driving a page source
// (framework/core/page_source.h). A source either knows its page count or says, page by page,
// whether printing goes on.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "framework/core/page_source.h"

class QPrinter;
class QWidget;

namespace tv::fw {

struct PrintJobOptions {
    std::string document_name;  // whole: the job takes 31 characters, a proposed PDF file all of it
    bool show_dialog = true;    // false: print directly with the printer below (or the default one)
    bool show_progress = true;
    std::string printer_name;  // empty: the default printer (or the dialog's choice)
    std::string output_file;   // non-empty: write a PDF file instead of printing
    // 1-based; 0 or less: the dialog's value (all pages). last < first prints downwards.
    int first_page = 0;
    int last_page = 0;
    // Pages numbered this or below are printed twice.
    int duplicate_limit = 0;
    QWidget* parent = nullptr;
    // Called while a preview is on screen with a function that closes it, and with an empty
    // function once it is gone (a main frame that is asked to close then only leaves the preview).
    std::function<void(std::function<void()> close)> preview_shown;
};

enum class PrintResult { Printed, Cancelled, Failed };

struct PrintOutcome {
    PrintResult result = PrintResult::Failed;
    int pages = 0;  // pages sent to the printer, copies made here included
    std::string error;
};

inline constexpr const char* kPrintFailedToStart = "Failed to start printing.";
// Printing on the default printer where the computer has none.
inline constexpr const char* kNoPrinterSetUp =
    "No printer is set up on this computer, so nothing was printed.\n\nTo print into a PDF file instead, open the "
    "report and choose File > Print... (Ctrl+P), then Print to File; or ask the administrator to set up a "
    "printer.";
inline constexpr const char* kPrintingPageText = "Printing page %d";

// Stands in for the print dialog in tests: gets the printer (range and copies already set up)
// and the page limits, may change the printer (output file, range, copies), and answers whether
// the dialog was accepted. An empty function restores the real dialog.
using PrintDialogHook = std::function<bool(QPrinter& printer, int min_page, int max_page)>;
void set_print_dialog_hook(PrintDialogHook hook);

// Runs a print job. The main window is blocked while it runs (the progress dialog is modal).
PrintOutcome run_print_job(PageSource& source, const PrintJobOptions& options);
// Shows the pages in the print preview until the user closes it. Returns the number of pages the
// preview drew the last time it rendered.
int run_print_preview(PageSource& source, const PrintJobOptions& options);

}  // namespace tv::fw
