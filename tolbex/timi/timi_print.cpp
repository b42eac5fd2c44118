#include "tolbex/timi/timi_print.h"

#include <algorithm>
#include <cstdlib>

#include "common/text.h"

namespace tv {

namespace {

// a * b / c rounded half away from 0, in 64 bits; 0 for c == 0.
int mul_div(long long a, long long b, long long c) {
    if (c == 0) return 0;
    const long long p = a * b;
    const long long half = (c < 0 ? -c : c) / 2;
    const long long r = ((p < 0) != (c < 0)) ? (p - half) / c : (p + half) / c;
    return static_cast<int>(r);
}

constexpr fw::Rgb kBlack{0, 0, 0};
constexpr int kRuleWidth = 3;

}  // namespace

int timi_font_dialog_pixels(int tenths, int screen_dpi) { return -mul_div(screen_dpi, tenths / 10, 72); }

int timi_font_tenths_from_pixels(int pixels, int screen_dpi) {
    return mul_div(pixels < 0 ? -pixels : pixels, 720, screen_dpi);
}

fw::Font timi_device_font(const TimiPrintFont& font, int dpi_y) {
    fw::Font f;
    f.face = font.face;
    f.em_height = std::max(1, mul_div(std::abs(font.height), dpi_y, 720));
    f.weight = font.weight;
    f.italic = font.italic;
    return f;
}

// --- the plan ---

TimiPrintPlan::TimiPrintPlan(const TimiData& data, const TimiPrintSettings& settings, const TimiPrintRequest& request)
    : data_(data),
      events_only_(request.mode == TimiPrintRequest::Mode::EventsOnly),
      pre_(std::max(settings.pre_time, 0)),
      post_(std::max(settings.post_time, 0)) {
    const std::int32_t n = data.row_count();
    first_ = 0;
    end_ = n;
    // Row 0 starts a real selection, and its last row is printed.
    if (request.mode == TimiPrintRequest::Mode::Selected && request.first >= 0 && request.last >= request.first) {
        first_ = std::min(request.first, n);
        end_ = std::min<std::int64_t>(static_cast<std::int64_t>(request.last) + 1, n);
    }
    start();
}

void TimiPrintPlan::start() {
    done_ = false;
    current_ = chunk_end_ = event_start_ = event_end_ = 0;
    next_chunk();
    previous_use_ = true;
}

void TimiPrintPlan::next_chunk() {
    if (!events_only_) {
        if (event_end_ >= end_ || first_ >= end_) {
            done_ = true;
            return;
        }
        current_ = first_;
        chunk_end_ = end_;
        event_end_ = end_;
        return;
    }
    // An event whose rows the previous chunk already printed yields an empty chunk: skip it, so
    // that no empty lines (or pages) follow the last printed row.
    for (;;) {
        std::int32_t r = event_end_;
        while (r < end_ && !data_.is_used(r)) ++r;
        if (r >= end_) {
            done_ = true;
            return;
        }
        event_start_ = r;
        std::int32_t e = r + 1;
        while (e < end_ && data_.is_used(e)) ++e;
        event_end_ = e;
        const std::int32_t from = std::max({event_start_ - pre_, std::int32_t{0}, chunk_end_});
        const std::int32_t to =
            static_cast<std::int32_t>(std::min<std::int64_t>(static_cast<std::int64_t>(event_end_) + post_, end_));
        if (from < to) {
            current_ = from;
            chunk_end_ = to;
            return;
        }
    }
}

TimiPrintPlan::Line TimiPrintPlan::next_line() {
    if (done_) return {};
    if (current_ >= chunk_end_) {
        next_chunk();
        if (done_) return {};
        if (events_only_) {
            previous_use_ = data_.is_used(current_);
            return {LineKind::Gap, -1};
        }
    }
    const std::int32_t row = current_;
    const bool use = data_.is_used(row);
    const bool print = events_only_ || use == previous_use_;
    previous_use_ = use;
    if (!print) return {LineKind::Gap, -1};
    ++current_;
    return {LineKind::Row, row};
}

bool TimiPrintPlan::has_more() const {
    TimiPrintPlan ahead = *this;
    for (;;) {
        const Line line = ahead.next_line();
        if (line.kind != LineKind::Gap) return line.kind == LineKind::Row;
    }
}

// --- the pages ---

TimiPrintColumns timi_print_columns(fw::DrawContext& dc, const fw::Font& head, const fw::Font& body) {
    TimiPrintColumns c;
    std::array<int, kTimiColumns> head_w{};
    dc.set_font(head);
    c.head_blank = dc.text_extent(" ").cx;
    for (int col = 0; col < kTimiColumns; ++col) head_w[col] = dc.text_extent(timi_column_heading(col) + " ").cx;
    dc.set_font(body);
    c.body_blank = dc.text_extent(" ").cx;
    for (int col = 0; col < kTimiColumns; ++col) {
        int body_w = dc.text_extent(timi_column_sample(col) + " ").cx;
        int h = head_w[col];
        // Room before each channel group for its rule.
        if (col == 4 || col == 10 || col == 16) {
            h += c.head_blank / 2;
            body_w += c.body_blank / 2;
        }
        c.width[col] = std::max(h, body_w);
    }
    c.width[kTimiColumns] = dc.text_extent(" 999").cx;
    for (int col = 0; col <= kTimiColumns; ++col) c.left[col + 1] = c.left[col] + c.width[col];
    return c;
}

TimiTablePrinter::PageLayout TimiTablePrinter::make_layout(fw::DrawContext& dc, int dpi_y, int page_w) const {
    const fw::Font head = timi_device_font(settings_.head_font, dpi_y);
    const fw::Font body = timi_device_font(settings_.body_font, dpi_y);
    PageLayout l{dpi_y, page_w, head, body, {}};
    l.cols = timi_print_columns(dc, l.head, l.body);
    // A table wider than the page (a wide substitute for the narrow face, portrait, large fonts)
    // would lose its right-hand columns: both fonts shrink until all 22 fit.
    for (int i = 0; i < 4 && l.cols.left[kTimiColumns] > page_w && page_w > 0; ++i) {
        const auto shrink = [&](fw::Font& f) {
            f.em_height =
                std::max(1, static_cast<int>(static_cast<long long>(f.em_height) * page_w / l.cols.left[kTimiColumns]) -
                                (i > 0 ? 1 : 0));
        };
        shrink(l.head);
        shrink(l.body);
        l.cols = timi_print_columns(dc, l.head, l.body);
    }
    return l;
}

void TimiTablePrinter::begin_printing(bool preview) {
    (void)preview;
    plan_.start();
    page_number_ = 0;
    layout_.reset();
}

bool TimiTablePrinter::continue_printing(int number) const {
    (void)number;
    return plan_.has_more();
}

void TimiTablePrinter::print_page(fw::DrawContext& dc, int number, const fw::Rc& page) {
    (void)number;
    if (!plan_.has_more()) return;
    const int x0 = page.l, y0 = page.t, page_w = page.width(), page_h = page.height();
    const int dpi_y = dc.dpi().cy;
    if (!layout_ || layout_->dpi_y != dpi_y || layout_->page_w != page_w) layout_ = make_layout(dc, dpi_y, page_w);
    const fw::Font& head = layout_->head;
    const fw::Font& body = layout_->body;
    const TimiPrintColumns& cols = layout_->cols;
    fw::TextOpts right_opts;
    right_opts.align = fw::TextOpts::Align::Right;
    // One measuring per text: the rows of a week are half a million cells.
    const auto right_aligned = [&](int right, int y, const std::string& text) {
        if (!text.empty()) dc.text({x0, y0 + y, x0 + right, y0 + y + 1}, text, right_opts);
    };
    const auto rule = [&](int y) { dc.line({x0, y0 + y}, {x0 + page_w, y0 + y}); };

    dc.set_text_colour(kBlack);
    dc.set_pen(fw::PenStyle::Solid, kBlack, kRuleWidth);
    dc.set_font(head);
    for (int col = 0; col < kTimiColumns; ++col) right_aligned(cols.left[col + 1] - 1, 0, timi_column_heading(col));
    const int head_h = fw::get_text_line_height(dc);
    rule(head_h + head_h / 4 / 2);

    dc.set_font(body);
    const int h = std::max(1, fw::get_text_line_height(dc));
    const int q = h / 4;
    int y = head_h + head_h / 4;
    // Every page takes at least one row, however short the page: a run always comes to its end.
    for (bool printed = false; y < page_h - 2 * h - q || !printed; y += h) {
        const TimiPrintPlan::Line line = plan_.next_line();
        if (line.kind == TimiPrintPlan::LineKind::End) break;
        if (line.kind == TimiPrintPlan::LineKind::Gap) continue;
        for (int col = 0; col < kTimiColumns; ++col)
            right_aligned(cols.left[col + 1] - 1, y, data_.cell_text(line.row, col));
        printed = true;
    }

    rule(y + q / 2);
    dc.text_out({x0, y0 + y + q}, format_string(kTimiPageFooter, page_number_ + 1));
    right_aligned(page_w, y + q, format_string(kTimiSubjectFooter, data_.header.patient_id.c_str()));
    for (int col : {4, 10, 16}) {
        const int x = x0 + cols.left[col] + cols.body_blank;
        dc.line({x, y0}, {x, y0 + y + q / 2});
    }
    ++page_number_;
}

}  // namespace tv
