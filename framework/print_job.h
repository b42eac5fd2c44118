// The print loop that report windows and list views share: the print dialog (page range,
// copies), a progress dialog with Cancel, and print preview, all driving a page source that draws
// one page at a time on a DrawContext. A source either knows its page count or says, page by
// page, whether printing goes on. This header has no Qt in it, so core page sources implement
// it without a window.
#pragma once
#include <functional>
#include <string>

#include "framework/draw_context.h"

class QPrinter;
class QWidget;

namespace tv::fw {

// Command id of "print directly" (print without the print dialog).
inline constexpr unsigned kFilePrintDirect = 0xE108;

class PageSource {
public:
    virtual ~PageSource() = default;
    // Number of pages when known; 0 or less: unknown, printing continues while continue_printing says so.
    virtual int page_count() const { return 0; }
    // Before the first page of a job (or of a preview rendering).
    virtual void begin_printing(bool preview) { (void)preview; }
    // Whether page `number` (1-based) is printed. The default prints the known pages.
    virtual bool continue_printing(int number) const { return page_count() > 0 && number <= page_count(); }
    // Draws page `number` (1-based). `page` is the drawable area of the page in device pixels;
    // the context is in MapMode::Text and may be remapped by the source.
    virtual void print_page(DrawContext& dc, int number, const Rc& page) = 0;
    virtual void end_printing() {}
};

enum class PageOrientation { Portrait, Landscape };

// The application's printer setup: the orientation the next jobs use, as the default printer's
// settings are shared by every window.
struct PrintSetup {
    PageOrientation orientation = PageOrientation::Portrait;
};
PrintSetup& print_setup();

// Puts the application's orientation to `orientation` for its lifetime and then back to what it
// was before (not to a fixed default).
class ScopedPrintOrientation {
public:
    explicit ScopedPrintOrientation(PageOrientation orientation);
    ~ScopedPrintOrientation();
    ScopedPrintOrientation(const ScopedPrintOrientation&) = delete;
    ScopedPrintOrientation& operator=(const ScopedPrintOrientation&) = delete;

private:
    PageOrientation saved_;
};

struct PrintJobOptions {
    std::string document_name;  // the job's name, cut to 31 characters
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

// The page numbers a job prints, in order: first..last clamped to 1..page_count (all pages when a
// bound is 0 or less), downwards when last < first, pages at or below the duplicate limit twice.
// With an unknown page count (0 or less) the range is open upwards: `last` (when given) ends it.
struct PageSequence {
    int first = 1, last = 0;  // last 0: open
    int step = 1;
    int duplicate_limit = 0;
    // The next page from `page` on (page 0 starts); 0 when the range is done.
    int next(int page) const;
    int copies(int page) const { return page <= duplicate_limit ? 2 : 1; }
};
PageSequence make_page_sequence(int first, int last, int duplicate_limit, int page_count);

}  // namespace tv::fw
