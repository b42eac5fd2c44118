// Printing the TIMI table: the print settings a TIMI window keeps, the plan of which rows a run
// prints (the whole table, a selection, or the events with their pre and post rows), and the page
// layout, drawn on any DrawContext in device pixels so that tests lay pages out on the recording
// context. The profile and the dialogs are the window layer's (tolbex/timi/ui).
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/profile_names.h"
#include "framework/core/page_source.h"
#include "tolbex/timi/timi_data.h"

namespace tv {

// Profile section and entries of the print settings.
inline constexpr const char* kTimiLandscapeEntry = "Landscape";
inline constexpr const char* kTimiPreTimeEntry = "Event Pre Time";
inline constexpr const char* kTimiPostTimeEntry = "Event Post Time";
// The pre/post dialog's limits, in minutes.
inline constexpr int kTimiPrePostMinutesMax = 1000;

// A font as the profile stores it: height in tenths of a point.
struct TimiPrintFont {
    int height = 100;
    int weight = 400;
    bool italic = false;
    bool strike = false;  // kept for the profile; the drawing interface has no strike-out
    int charset = 1;      // the system's "default" character set
    std::string face = "Arial Narrow";
    bool operator==(const TimiPrintFont&) const = default;
};

struct TimiPrintSettings {
    bool landscape = true;
    // In table rows of 30 seconds.
    std::int32_t pre_time = 20;
    std::int32_t post_time = 20;
    TimiPrintFont head_font{100, 700};
    TimiPrintFont body_font{100, 400};
    bool operator==(const TimiPrintSettings&) const = default;
};

// What one print command prints. The selection belongs to the command that made it, so it never
// narrows a later run.
struct TimiPrintRequest {
    enum class Mode { EntireTable, Selected, EventsOnly };
    Mode mode = Mode::EntireTable;
    // Selected: rows first..last inclusive; a first below 0 or a last below first (no selection)
    // prints the whole table.
    std::int32_t first = -1, last = -1;

    static TimiPrintRequest entire_table() { return {}; }
    static TimiPrintRequest selected(std::int32_t first, std::int32_t last) { return {Mode::Selected, first, last}; }
    static TimiPrintRequest events_only() { return {Mode::EventsOnly}; }
};

// The font height dialogs work in: screen pixels for tenths of a point, whole points only
// (tenths div 10), rounded as a multiply-divide, negative as a character height; and back to
// tenths from a chosen pixel size (either sign).
int timi_font_dialog_pixels(int tenths, int screen_dpi);
int timi_font_tenths_from_pixels(int pixels, int screen_dpi);
// The drawing font for a device of `dpi_y` pixels per inch.
fw::Font timi_device_font(const TimiPrintFont& font, int dpi_y);

// Which table rows the lines of a run show, one chunk after the other. A chunk's end is
// exclusive; the run's end is the table's end, or one past the last selected row.
class TimiPrintPlan {
public:
    TimiPrintPlan(const TimiData& data, const TimiPrintSettings& settings, const TimiPrintRequest& request);

    // Back to the first chunk.
    void start();
    bool done() const { return done_; }
    bool events_only() const { return events_only_; }
    std::int32_t current() const { return current_; }
    // Whether another row is left to print (ahead of the line that would find out).
    bool has_more() const;

    // One line of a page: a row (then the current row moves on), an empty line, or the end.
    // Outside events-only runs a line stays empty where the rows change from used to unused
    // or back; in events-only runs between two chunks.
    enum class LineKind { Row, Gap, End };
    struct Line {
        LineKind kind = LineKind::End;
        std::int32_t row = -1;
    };
    Line next_line();

private:
    void next_chunk();

    const TimiData& data_;
    bool events_only_;
    std::int32_t pre_, post_;
    std::int32_t first_ = 0, end_ = 0;  // the run's rows [first_, end_)
    bool done_ = false;
    std::int32_t current_ = 0, chunk_end_ = 0, event_start_ = 0, event_end_ = 0;
    bool previous_use_ = true;
};

// Column geometry of the printed table in the fonts of one device: 22 column widths and a 23rd
// (" 999" in the body font), left edges from 0, one blank of each font.
struct TimiPrintColumns {
    std::array<int, kTimiColumns + 1> width{};
    std::array<int, kTimiColumns + 2> left{};
    int head_blank = 0, body_blank = 0;
};
TimiPrintColumns timi_print_columns(fw::DrawContext& dc, const fw::Font& head, const fw::Font& body);

inline constexpr const char* kTimiPageFooter = "Page %d";
inline constexpr const char* kTimiSubjectFooter = "Subject ID: %s";

// The table as pages; the page count is found while printing. Fonts too large for the page's
// width are scaled down so that every column is printed.
class TimiTablePrinter : public fw::PageSource {
public:
    TimiTablePrinter(const TimiData& data, const TimiPrintSettings& settings, const TimiPrintRequest& request)
        : data_(data), settings_(settings), plan_(data, settings, request) {}

    int page_count() const override { return 0; }
    void begin_printing(bool preview) override;
    bool continue_printing(int number) const override;
    void print_page(fw::DrawContext& dc, int number, const fw::Rc& page) override;

    int pages_printed() const { return page_number_; }

private:
    // Fonts and columns of one device and page width, the same for every page of a job.
    struct PageLayout {
        int dpi_y = 0, page_w = 0;
        fw::Font head, body;
        TimiPrintColumns cols;
    };
    PageLayout make_layout(fw::DrawContext& dc, int dpi_y, int page_w) const;

    const TimiData& data_;
    TimiPrintSettings settings_;
    TimiPrintPlan plan_;
    int page_number_ = 0;
    std::optional<PageLayout> layout_;
};

}  // namespace tv
