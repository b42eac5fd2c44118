// The TIMI table's pages on Qt devices. A week of rows is half a million cells, nearly all of
// a few hundred distinct texts; drawn one drawText each, the painter shapes and measures the same
// digits again and again, and the PDF engine writes every drawText as a text object of its own.
// Here each distinct text of a font is shaped once per job, and the glyphs of the texts between
// two other drawings go out as one run: the pages look as they do through the plain context.
#pragma once
#include <memory>

#include "tolbex/timi/timi_print.h"

namespace tv::gui {

// TimiTablePrinter with its text drawn through a per-job glyph cache on a painter context; any
// other context (the recording one in tests) gets the plain printer's calls unchanged.
class TimiQtTablePrinter : public fw::PageSource {
public:
    TimiQtTablePrinter(const TimiData& data, const TimiPrintSettings& settings, const TimiPrintRequest& request);
    ~TimiQtTablePrinter() override;

    int page_count() const override { return printer_.page_count(); }
    void begin_printing(bool preview) override;
    bool continue_printing(int number) const override { return printer_.continue_printing(number); }
    void print_page(fw::DrawContext& dc, int number, const fw::Rc& page) override;
    void end_printing() override;

    int pages_printed() const { return printer_.pages_printed(); }

    class GlyphCache;

private:
    TimiTablePrinter printer_;
    std::unique_ptr<GlyphCache> cache_;
};

}  // namespace tv::gui
