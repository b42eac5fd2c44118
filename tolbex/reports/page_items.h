// Page files (PAGE.<n>): the display lists that the analysis system writes for a formatted
// report, and the items they become. A page file is a plain run of records with no file header;
// each record is a 20-byte header (length, three attribute words, type) and a payload. Stored
// coordinates are fine units (µm); 32 of them make one logical unit of the page.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/report_files.h"
#include "framework/core/draw_context.h"

namespace tv {

class CReportPage;
class RtfWriter;

// Kinds of record (the type word of the record header) and what each draws. Any other kind
// is kept as an item that draws nothing.
enum class PageRecordKind : std::int32_t {
    Label = 17,           // nothing: a label the analysis system keeps with the page
    Clip = 35,            // clips everything after it to a rectangle
    Shape = 56,           // one figure in a box, chosen by its ShapeCode
    Band = 57,            // a band shaded with vertical lines between two curves
    Trace = 59,           // an ECG trace: equally spaced samples as one polyline
    Polyline = 62,        // solid runs split at pen-up marks
    Text = 63,            // one line of text on its baseline
    DotRows = 64,         // horizontal rows of grid dots
    DotColumns = 65,      // vertical columns of grid dots
    DottedPolyline = 70,  // dotted runs split at negative points
};

// Figures of a shape record (ShapeData::code). Any other code draws a cyan box.
enum class ShapeCode : std::uint32_t {
    Logo = 5,            // the built-in logo picture
    Triangle = 6,        // a filled triangle, base on y1, apex on y2
    Arrow = 7,           // an arrow to y1: filled head, stem from y2
    HatchedBox = 8,      // a box hatched with forward diagonals
    ShadedBox = 11,      // a light-grey box, or a dashed line when one pixel thin
    HatchedBoxAlt = 18,  // as HatchedBox
    ShadedBoxAlt = 21,   // as ShadedBox
    Cross = 22,          // a diagonal cross
    Square = 23,         // a square outline
    Plus = 24,           // an upright cross
    Bitmap = 25,         // the BMP file the record names, from the page's folder
};

constexpr std::uint32_t kPageRecordHeaderSize = 20;
constexpr std::uint32_t kMaxPagePayload = 4096;
// Pen-up mark of a polyline (kept undivided) and the same value after the division of a dotted
// polyline.
constexpr std::int32_t kPenUp = INT32_MIN;
constexpr std::int32_t kDividedPenUp = -67108864;

// Text size codes and their prefixes (ESC + code; small has none).
constexpr int kTextSmall = 0, kTextLarge = 1, kTextTiny = 2, kTextMedium = 3;
int text_size_code(std::string_view text);  // 0 without a valid prefix
std::string_view text_without_prefix(std::string_view text);
std::string size_prefix(int code);  // "" for small

// The four report fonts by size code: "Times New Roman", heights 102, 160, 55, 130.
using PageFonts = std::array<fw::Font, 4>;
PageFonts default_page_fonts();
const fw::Font& font_for_code(const PageFonts& fonts, int code);  // unknown codes use small

// Item data by kind.
struct LabelData {
    std::uint8_t code = 0;
    std::string bytes;
};
struct ClipData {
    std::int32_t left = 0, right = 0, top = 0, bottom = 0;
};
struct ShapeData {
    std::uint32_t code = 0;
    std::int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::string file_name;  // ShapeCode::Bitmap only: a plain name inside the page's folder, else ""
};
struct BandData {
    std::uint32_t w0 = 0, w1 = 0, w2 = 0;
    std::int32_t w3 = 0, w4 = 0, w5 = 0;
    std::vector<std::int32_t> values;  // P[k], Q[k], R[k]
};
struct TraceData {
    std::int32_t gain = 0, x0 = 0, y0 = 0, base = 0;
    std::vector<std::uint16_t> samples;
};
struct PolylineData {
    std::vector<fw::Pt> points;
};
struct TextData {
    std::int32_t x = 0, y = 0;
    std::string text;  // size prefix kept, Windows-1252
};
struct DotsData {
    std::uint32_t scale_code = 0, scale_parameter = 0;
    std::int32_t a = 0, b = 0;
    std::vector<std::int32_t> positions;
};
using PageItemData =
    std::variant<std::monostate, LabelData, ClipData, ShapeData, BandData, TraceData, PolylineData, TextData, DotsData>;

// Per-draw state of one page: the dot-grid code seen last (so that a page looks the same
// whatever was drawn before it).
struct PageDrawState {
    std::int64_t last_dot_code = -1;
};

// One record of a page: its kind, what its payload held (monostate when the payload was too
// short or the kind is unknown) and the page it belongs to (shape bitmaps are looked up in that
// page's folder; without a page they draw nothing).
class PageItem {
public:
    PageItem(PageRecordKind kind, PageItemData data, const CReportPage* page = nullptr)
        : kind_(kind), data_(std::move(data)), page_(page) {}

    // The item for one record; the payload is exactly the record's payload bytes. Counts are
    // clamped to what the payload holds.
    static std::unique_ptr<PageItem> from_record(PageRecordKind kind, std::string_view payload, bool oem,
                                                 const CReportPage* page = nullptr);
    // A text item at logical (x, y), no division.
    static std::unique_ptr<PageItem> make_text(std::string text, std::int32_t x, std::int32_t y,
                                               const CReportPage* page = nullptr);

    PageRecordKind kind() const { return kind_; }
    const PageItemData& data() const { return data_; }
    const CReportPage* page() const { return page_; }
    void set_page(const CReportPage* page) { page_ = page; }

    bool is_annotation_marker() const;
    // Text and position of a text item; nullopt for other kinds.
    std::optional<TextData> text() const;

    // The text's box moved up by one line height contains `lp` (logical units).
    bool hit_test(fw::DrawContext& dc, const PageFonts& fonts, fw::Pt lp) const;
    void draw(fw::DrawContext& dc, const PageFonts& fonts, PageDrawState& state) const;
    // The text record of a text item (attribute words 173, 86, 100); "" for other kinds.
    std::string record_bytes(bool oem) const;
    void write_rtf(RtfWriter& out) const;

private:
    PageRecordKind kind_;
    PageItemData data_;
    const CReportPage* page_;
};

using PageItems = std::vector<std::unique_ptr<PageItem>>;

// What reading a page file gives.
struct PageFileContents {
    PageItems items;
    std::int32_t first_annotation_index = -1;  // index the first item after the marker gets
    std::int64_t annotation_offset = -1;       // file offset of the marker record
    // Why the bytes are no whole page file (empty, a record running past the end, a cut
    // header); "" when they are.
    std::string damage;
};

// Parses page-file bytes. A record whose length is below 16 ends the page (the items read so
// far are kept); a payload over 4096 bytes is skipped, one running past the end ends the page
// and marks it damaged.
PageFileContents parse_page_file(std::string_view bytes, bool oem, const CReportPage* page = nullptr);
// Reads a page file; nullopt when it cannot be opened or read (`error` says why).
std::optional<PageFileContents> read_page_file(const std::string& path, bool oem, const CReportPage* page = nullptr,
                                               std::string* error = nullptr);
// The same for the page file `name` of the report folder.
std::optional<PageFileContents> read_page_file(const ReportFolder& folder, const std::string& name, bool oem,
                                               const CReportPage* page = nullptr, std::string* error = nullptr);

// One record with the given attribute words and payload.
std::string make_page_record(PageRecordKind kind, std::string_view payload, std::uint32_t attr1 = 173,
                             std::uint32_t attr2 = 86, std::uint32_t attr3 = 100);
// The 33-byte annotation marker record.
std::string annotation_marker_record();

// Replaces the page file with its bytes up to `annotation_offset` (the whole file when it is
// negative), then a marker, then the records of `annotations`, atomically. On success
// `*marker_offset` is where the marker now starts. False, with the file unchanged, on failure.
bool write_page_annotations(const std::string& path, std::int64_t annotation_offset,
                            const std::vector<const PageItem*>& annotations, bool oem,
                            std::int64_t* marker_offset = nullptr, std::string* error = nullptr);

// A note's text as pages store it: each line ends in CR LF (a lone LF gets its CR), and the text
// is cut to what one text record holds, never between CR and LF.
std::string note_text_for_page(std::string_view text);

// OEM text of pages from folders without VERSION.TXT.
std::string page_text_from_oem(std::string_view oem);  // 0xF3 -> "<=", 0xF2 -> ">=", then OEM -> ANSI
std::string page_text_to_oem(std::string_view ansi);

// Scale of the dot grid (16.16 step) for a code and parameter, with the 13/15 -> 16/1000 rule.
std::int64_t dot_grid_step(std::uint32_t code, std::uint32_t parameter, std::int64_t& last_code);

}  // namespace tv
