// What a printed document is to the print loop: a page source that draws one page at a time on a
// DrawContext, the application's page orientation, and the order pages are printed in. No Qt, so
// core page sources (report pages, catalogues, the TIMI table) implement it without a window.
#pragma once
#include "framework/core/draw_context.h"

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
