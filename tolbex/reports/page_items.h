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

#include "framework/core/draw_context.h"

namespace tv {

class CReportPage;
class RtfWriter;

// Record types.
constexpr std::int32_t kItemLabel = 17;
constexpr std::int32_t kItemClip = 35;
constexpr std::int32_t kItemShape = 56;
constexpr std::int32_t kItemBand = 57;
constexpr std::int32_t kItemTrace = 59;
constexpr std::int32_t kItemPolyline = 62;
constexpr std::int32_t kItemText = 63;
constexpr std::int32_t kItemDotRows = 64;
constexpr std::int32_t kItemDotColumns = 65;
constexpr std::int32_t kItemDottedPolyline = 70;

constexpr std::uint32_t kPageRecordHeaderSize = 20;
constexpr std::uint32_t kMaxPagePayload = 4096;
// Pen-up mark of type 62 (kept undivided) and the same value after the division of type 70.
constexpr std::int32_t kPenUp = INT32_MIN;
constexpr std::int32_t kDividedPenUp = -67108864;

// Text size codes and their prefixes (ESC + code; small has none).
constexpr int kTextSmall = 0, kTextLarge = 1, kTextTiny = 2, kTextMedium = 3;
int text_size_code(std::string_view text);          // 0 without a valid prefix
std::string_view text_without_prefix(std::string_view text);
std::string size_prefix(int code);                  // "" for small

// The four report fonts by size code: "Times New Roman", heights 102, 160, 55, 130.
using PageFonts = std::array<fw::Font, 4>;
PageFonts default_page_fonts();
const fw::Font& font_for_code(const PageFonts& fonts, int code);  // unknown codes use small

// Item data by type.
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
    std::string file_name;  // code 25 only: a plain name inside the page's folder, else ""
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
using PageItemData = std::variant<std::monostate, LabelData, ClipData, ShapeData, BandData, TraceData, PolylineData,
                                  TextData, DotsData>;

// Per-draw state of one page: the dot-grid code seen last (so that a page looks the same
// whatever was drawn before it) and the origin offset of clip rectangles.
struct PageDrawState {
    std::int64_t last_dot_code = -1;
    fw::Pt origin_offset{};
};

class CPageItem {
public:
    CPageItem(std::int32_t type, PageItemData data, const CReportPage* page = nullptr)
        : type_(type), data_(std::move(data)), page_(page) {}
    virtual ~CPageItem() = default;
    std::int32_t type() const { return type_; }
    const PageItemData& data() const { return data_; }
    const CReportPage* page() const { return page_; }
    void set_page(const CReportPage* page) { page_ = page; }

protected:
    std::int32_t type_;
    PageItemData data_;
    const CReportPage* page_;
};

class CReportPageItem : public CPageItem {
public:
    using CPageItem::CPageItem;

    // The item for one record; the payload is exactly the record's payload bytes. Counts are
    // clamped to what the payload holds.
    static std::unique_ptr<CReportPageItem> from_record(std::int32_t type, std::string_view payload, bool oem,
                                                        const CReportPage* page = nullptr);
    // A type-63 item at logical (x, y), no division.
    static std::unique_ptr<CReportPageItem> make_text(std::string text, std::int32_t x, std::int32_t y,
                                                      const CReportPage* page = nullptr);

    bool is_annotation_marker() const;
    // Text and position of a text item; nullopt for other types.
    std::optional<TextData> text() const;

    // The text's box moved up by one line height contains `lp` (logical units).
    bool hit_test(fw::DrawContext& dc, const PageFonts& fonts, fw::Pt lp) const;
    void draw(fw::DrawContext& dc, const PageFonts& fonts, PageDrawState& state) const;
    // The type-63 record of a text item (attribute words 173, 86, 100); "" for other types.
    std::string record_bytes(bool oem) const;
    void write_rtf(RtfWriter& out) const;
};

using PageItems = std::vector<std::unique_ptr<CReportPageItem>>;

// What reading a page file gives.
struct PageFileContents {
    PageItems items;
    std::int32_t first_annotation_index = -1;  // index the first item after the marker gets
    std::int64_t annotation_offset = -1;       // file offset of the marker record
};

// Parses page-file bytes. A record whose length is below 16 ends the page (the items read so
// far are kept); a payload over 4096 bytes or one running past the end is skipped.
PageFileContents parse_page_file(std::string_view bytes, bool oem, const CReportPage* page = nullptr);
// Reads a page file; nullopt when it cannot be opened or read (`error` says why).
std::optional<PageFileContents> read_page_file(const std::string& path, bool oem, const CReportPage* page = nullptr,
                                               std::string* error = nullptr);

// One record with the given attribute words and payload.
std::string make_page_record(std::int32_t type, std::string_view payload, std::uint32_t attr1 = 173,
                             std::uint32_t attr2 = 86, std::uint32_t attr3 = 100);
// The 33-byte annotation marker record.
std::string annotation_marker_record();

// Replaces the page file with its bytes up to `annotation_offset` (the whole file when it is
// negative), then a marker, then the records of `annotations`, atomically. On success
// `*marker_offset` is where the marker now starts. False, with the file unchanged, on failure.
bool write_page_annotations(const std::string& path, std::int64_t annotation_offset,
                            const std::vector<const CReportPageItem*>& annotations, bool oem,
                            std::int64_t* marker_offset = nullptr, std::string* error = nullptr);

// Writes page files as the analysis system does (tests, tools and demo data). Coordinates are
// logical units; they are stored multiplied by 32.
class PageFileBuilder {
public:
    void text(std::int32_t x, std::int32_t y, std::string_view cp1252, int size_code = kTextSmall);
    void polyline(const std::vector<fw::Pt>& points);  // kPenUp coordinates stay as they are
    void trace(std::int32_t x0, std::int32_t y0, std::int32_t base, std::int32_t gain,
               const std::vector<std::uint16_t>& samples);
    void dot_rows(std::uint32_t scale_code, std::int32_t a, std::int32_t b, const std::vector<std::int32_t>& rows);
    void shape(std::uint32_t code, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
    void clip(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    void label(std::string_view bytes);
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// OEM text of pages from folders without VERSION.TXT.
std::string page_text_from_oem(std::string_view oem);  // 0xF3 -> "<=", 0xF2 -> ">=", then OEM -> ANSI
std::string page_text_to_oem(std::string_view ansi);

// Scale of the dot grid (16.16 step) for a code and parameter, with the 13/15 -> 16/1000 rule.
std::int64_t dot_grid_step(std::uint32_t code, std::uint32_t parameter, std::int64_t& last_code);

}  // namespace tv
