#include "tolbex/reports/page_items.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "common/report_files.h"
#include "common/bytes.h"
#include "common/files.h"
#include "common/generations.h"
#include "common/safe_open.h"
#include "common/values.h"
#include "platform/fs.h"
#include "platform/codepage.h"
#include "tolbex/reports/report_page.h"
#include "tolbex/reports/rtf_export.h"

namespace tv {
namespace {

constexpr char kEsc = '\x1b';
constexpr fw::Rgb kBlack{0, 0, 0};
constexpr fw::Rgb kLightGrey{191, 191, 191};
constexpr fw::Rgb kCyan{0, 255, 255};

// Reads from a payload whose size the caller has checked.
const std::uint8_t* bytes_at(std::string_view p, std::size_t at) {
    return reinterpret_cast<const std::uint8_t*>(p.data()) + at;
}
std::uint32_t u32_at(std::string_view p, std::size_t at) { return load_le32(bytes_at(p, at)); }
std::int32_t i32_at(std::string_view p, std::size_t at) { return static_cast<std::int32_t>(u32_at(p, at)); }
std::uint16_t u16_at(std::string_view p, std::size_t at) { return load_le16(bytes_at(p, at)); }

std::int32_t fine(std::int32_t v) { return v / 32; }

// A count read from a payload, clamped to the elements that really follow `at`.
std::size_t clamp_count(std::uint32_t n, std::string_view p, std::size_t at, std::size_t element) {
    const std::size_t avail = p.size() > at ? (p.size() - at) / element : 0;
    return std::min<std::size_t>(n, avail);
}

const std::array<unsigned char, 128>& ansi_to_oem_table() {
    static const std::array<unsigned char, 128> table = [] {
        std::array<unsigned char, 128> t{};
        t.fill('?');
        for (int oem = 0x80; oem <= 0xFF; ++oem) {
            const std::string a = platform::oem_to_ansi(std::string(1, static_cast<char>(oem)));
            const auto u = static_cast<unsigned char>(a[0]);
            if (u >= 0x80 && t[u - 0x80] == '?') t[u - 0x80] = static_cast<unsigned char>(oem);
        }
        return t;
    }();
    return table;
}

bool is_pen_up(fw::Pt p) { return p.x == kPenUp || p.y == kPenUp; }

// Logical bounds of the device surface, for bounding dot loops.
fw::Rc logical_device_bounds(const fw::DrawContext& dc) {
    const fw::Sz s = dc.device_size();
    fw::Pt a = dc.to_logical({0, 0}), b = dc.to_logical({s.cx, s.cy});
    return {std::min(a.x, b.x) - 1, std::min(a.y, b.y) - 1, std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1};
}

// A run of points drawn as a polyline whose end pixel is set too.
void draw_run(fw::DrawContext& dc, const std::vector<fw::Pt>& run) {
    if (run.empty()) return;
    if (run.size() >= 2) dc.polyline(run);
    dc.pixel(run.back(), kBlack);
}

void draw_dashed_line(fw::DrawContext& dc, fw::Pt a, fw::Pt b) {
    if (dc.screen_style()) {
        dc.set_pen(fw::PenStyle::Solid, kLightGrey);
        dc.line(a, b);
        dc.set_pen(fw::PenStyle::Solid, kBlack);
        return;
    }
    fw::Pt da = dc.to_device(a), db = dc.to_device(b);
    const fw::Sz size = dc.device_size();
    if (da.x == db.x) {
        const int lo = std::max(std::min(da.y, db.y), 0), hi = std::min(std::max(da.y, db.y), size.cy);
        for (int y = lo; y < hi; ++y)
            if ((y - lo) % 4 < 2) dc.pixel_device({da.x, y}, kBlack);
    } else if (da.y == db.y) {
        const int lo = std::max(std::min(da.x, db.x), 0), hi = std::min(std::max(da.x, db.x), size.cx);
        for (int x = lo; x < hi; ++x)
            if ((x - lo) % 4 < 2) dc.pixel_device({x, da.y}, kBlack);
    }
}

// Vertical dotted line of the shaded band, shortened by one unit at both ends.
void draw_band_line(fw::DrawContext& dc, std::int32_t x, std::int32_t y1, std::int32_t y2) {
    if (y1 > y2) std::swap(y1, y2);
    y1 += 1;
    y2 -= 1;
    if (y2 < y1) return;
    if (dc.screen_style()) {
        dc.set_pen(fw::PenStyle::Solid, kLightGrey);
        dc.line({x, y1}, {x, y2});
        dc.set_pen(fw::PenStyle::Solid, kBlack);
        return;
    }
    fw::Pt a = dc.to_device({x, y1}), b = dc.to_device({x, y2});
    if (a.x % 2 != 0) return;
    const int lo = std::max(std::min(a.y, b.y), 0), hi = std::min(std::max(a.y, b.y), dc.device_size().cy);
    for (int y = lo + (lo & 1); y < hi; y += 2) dc.pixel_device({a.x, y}, kBlack);
}

// Uncompressed BMP (1, 8 or 24 bits) into a Bitmap; nullopt when malformed.
std::optional<fw::Bitmap> decode_bmp(std::string_view f) {
    if (f.size() < 54 || f[0] != 'B' || f[1] != 'M') return std::nullopt;
    const std::uint32_t off = u32_at(f, 10), hsize = u32_at(f, 14);
    if (hsize < 40 || 14 + std::uint64_t{hsize} > f.size()) return std::nullopt;
    const std::int32_t w = i32_at(f, 18), h_raw = i32_at(f, 22);
    const std::uint16_t bits = u16_at(f, 28);
    if (u32_at(f, 30) != 0 || w <= 0 || w > 16384 || h_raw == 0 || h_raw < -16384 || h_raw > 16384) return std::nullopt;
    if (bits != 1 && bits != 8 && bits != 24) return std::nullopt;
    const int h = h_raw < 0 ? -h_raw : h_raw;
    const std::size_t stride = ((static_cast<std::size_t>(w) * bits + 31) / 32) * 4;
    if (off > f.size() || stride * static_cast<std::size_t>(h) > f.size() - off) return std::nullopt;
    fw::Bitmap bm;
    bm.width = w;
    bm.height = h;
    bm.bits = bits;
    if (bits <= 8) {
        std::uint32_t colours = u32_at(f, 46);
        if (colours == 0 || colours > (1u << bits)) colours = 1u << bits;
        const std::size_t pal_at = 14 + hsize;
        if (pal_at + std::size_t{colours} * 4 > off) return std::nullopt;
        for (std::uint32_t i = 0; i < colours; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(f.data() + pal_at + i * 4);
            bm.palette.push_back({p[2], p[1], p[0]});
        }
    }
    const std::size_t row_bytes =
        bits == 1 ? (static_cast<std::size_t>(w) + 7) / 8 : static_cast<std::size_t>(w) * bits / 8;
    bm.pixels.resize(row_bytes * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        const int src_row = h_raw > 0 ? h - 1 - y : y;
        const char* src = f.data() + off + stride * static_cast<std::size_t>(src_row);
        std::uint8_t* dst = bm.pixels.data() + row_bytes * static_cast<std::size_t>(y);
        if (bits == 24) {
            for (int x = 0; x < w; ++x) {  // stored B, G, R
                dst[x * 3] = static_cast<std::uint8_t>(src[x * 3 + 2]);
                dst[x * 3 + 1] = static_cast<std::uint8_t>(src[x * 3 + 1]);
                dst[x * 3 + 2] = static_cast<std::uint8_t>(src[x * 3]);
            }
        } else {
            std::memcpy(dst, src, row_bytes);
        }
    }
    return bm;
}

// The logo: a small two-tone mark drawn into a 1-bit picture.
const fw::Bitmap& logo_bitmap() {
    static const fw::Bitmap logo = [] {
        fw::Bitmap b;
        b.width = 64;
        b.height = 20;
        b.bits = 1;
        b.pixels.assign(8 * 20, 0xFF);
        auto black = [&](int x, int y) { b.pixels[y * 8 + x / 8] &= static_cast<std::uint8_t>(~(0x80 >> (x % 8))); };
        for (int x = 0; x < 64; ++x) black(x, 0), black(x, 19);
        for (int y = 0; y < 20; ++y) black(0, y), black(63, y);
        for (int i = 3; i < 17; ++i) black(3 + i, i), black(4 + i, i), black(36 - i, i), black(37 - i, i);
        for (int x = 40; x < 60; ++x) black(x, 9), black(x, 10);
        return b;
    }();
    return logo;
}

}  // namespace

int text_size_code(std::string_view text) {
    if (text.size() >= 2 && text[0] == kEsc) {
        const int c = static_cast<unsigned char>(text[1]);
        if (c == kTextLarge || c == kTextTiny || c == kTextMedium) return c;
    }
    return kTextSmall;
}

std::string_view text_without_prefix(std::string_view text) {
    if (text.size() >= 2 && text[0] == kEsc) return text.substr(2);
    return text;
}

std::string size_prefix(int code) {
    if (code == kTextLarge || code == kTextTiny || code == kTextMedium)
        return std::string{kEsc, static_cast<char>(code)};
    return {};
}

PageFonts default_page_fonts() {
    PageFonts f;
    const int heights[4] = {102, 160, 55, 130};
    for (int i = 0; i < 4; ++i) f[i] = fw::Font{"Times New Roman", heights[i], 400, false};
    return f;
}

const fw::Font& font_for_code(const PageFonts& fonts, int code) {
    return fonts[code >= 0 && code <= 3 ? code : kTextSmall];
}

std::string page_text_from_oem(std::string_view oem) {
    std::string t;
    t.reserve(oem.size());
    for (char c : oem) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0xF3)
            t += "<=";
        else if (u == 0xF2)
            t += ">=";
        else
            t.push_back(c);
    }
    return platform::oem_to_ansi(t);
}

std::string page_text_to_oem(std::string_view ansi) {
    std::string t(ansi);
    const auto& table = ansi_to_oem_table();
    for (char& c : t) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) c = static_cast<char>(table[u - 0x80]);
    }
    return t;
}

std::int64_t dot_grid_step(std::uint32_t code, std::uint32_t parameter, std::int64_t& last_code) {
    std::int64_t c = code;
    if ((last_code == 13 || last_code == 15) && code == 16 && parameter == 1000) c = 20;
    last_code = code;
    switch (c) {
        case 8:
        case 9:
        case 12:
        case 13:
        case 16:
        case 17: return 1024000;
        case 10:
        case 11:
        case 14:
        case 15: return 682666;
        case 20: return 2048000;
        default: return 512000;
    }
}

std::unique_ptr<PageItem> PageItem::from_record(PageRecordKind kind, std::string_view p, bool oem,
                                                const CReportPage* page) {
    PageItemData data;
    switch (kind) {
        case PageRecordKind::Label:
            if (p.size() >= 8) {
                LabelData d;
                d.code = static_cast<std::uint8_t>(u32_at(p, 0) & 0xFF);
                d.bytes.assign(p.substr(8, clamp_count(u32_at(p, 4), p, 8, 1)));
                data = std::move(d);
            }
            break;
        case PageRecordKind::Clip:
            if (p.size() >= 16)
                data = ClipData{fine(i32_at(p, 0)), fine(i32_at(p, 4)), fine(i32_at(p, 8)), fine(i32_at(p, 12))};
            break;
        case PageRecordKind::Shape:
            if (p.size() >= 24) {
                ShapeData d{u32_at(p, 0),        fine(i32_at(p, 8)),  fine(i32_at(p, 12)),
                            fine(i32_at(p, 16)), fine(i32_at(p, 20)), {}};
                if (static_cast<ShapeCode>(d.code) == ShapeCode::Bitmap) {
                    std::string_view rest = p.substr(24);
                    const std::size_t nul = rest.find('\0');
                    std::string name(rest.substr(0, nul));
                    // Only a plain name inside the page's folder; anything else draws nothing.
                    if (is_safe_path_component(name) && name.find('\\') == std::string::npos &&
                        name.find(':') == std::string::npos)
                        d.file_name = std::move(name);
                }
                data = std::move(d);
            }
            break;
        case PageRecordKind::Band:
            if (p.size() >= 28) {
                BandData d{u32_at(p, 0),
                           u32_at(p, 4),
                           u32_at(p, 8),
                           fine(i32_at(p, 12)),
                           fine(i32_at(p, 16)),
                           fine(i32_at(p, 20)),
                           {}};
                const std::size_t n = clamp_count(u32_at(p, 24), p, 28, 4);
                d.values.reserve(n);
                for (std::size_t i = 0; i < n; ++i) d.values.push_back(fine(i32_at(p, 28 + 4 * i)));
                data = std::move(d);
            }
            break;
        case PageRecordKind::Trace:
            if (p.size() >= 20) {
                TraceData d{i32_at(p, 0), fine(i32_at(p, 4)), fine(i32_at(p, 8)), fine(i32_at(p, 12)), {}};
                const std::size_t n = clamp_count(u32_at(p, 16), p, 20, 2);
                d.samples.reserve(n);
                for (std::size_t i = 0; i < n; ++i) d.samples.push_back(u16_at(p, 20 + 2 * i));
                data = std::move(d);
            }
            break;
        case PageRecordKind::Polyline:
        case PageRecordKind::DottedPolyline:
            if (p.size() >= 4) {
                PolylineData d;
                const std::size_t n = clamp_count(u32_at(p, 0), p, 4, 8);
                d.points.reserve(n);
                for (std::size_t i = 0; i < n; ++i) {
                    std::int32_t x = i32_at(p, 4 + 8 * i), y = i32_at(p, 8 + 8 * i);
                    if (kind == PageRecordKind::DottedPolyline || x != kPenUp) x = fine(x);
                    if (kind == PageRecordKind::DottedPolyline || y != kPenUp) y = fine(y);
                    d.points.push_back({x, y});
                }
                if (kind == PageRecordKind::DottedPolyline && !d.points.empty()) {
                    const fw::Pt last = d.points.back();
                    if (std::abs(std::int64_t{last.x}) >= 65536 || std::abs(std::int64_t{last.y}) >= 65536)
                        d.points.pop_back();
                }
                data = std::move(d);
            }
            break;
        case PageRecordKind::Text:
            if (p.size() >= 12) {
                TextData d{fine(i32_at(p, 0)), fine(i32_at(p, 4)), {}};
                std::string_view raw = p.substr(12, clamp_count(u32_at(p, 8), p, 12, 1));
                std::size_t start = 0;
                if (raw.size() >= 2 && raw[0] == kEsc) {
                    d.text.assign(raw.substr(0, 2));
                    start = 2;
                }
                std::string body;
                for (std::size_t i = start; i < raw.size(); ++i)
                    if (raw[i] != '\0') body.push_back(raw[i]);
                d.text += oem ? page_text_from_oem(body) : body;
                data = std::move(d);
            }
            break;
        case PageRecordKind::DotRows:
        case PageRecordKind::DotColumns:
            if (p.size() >= 20) {
                DotsData d{u32_at(p, 0), u32_at(p, 4), fine(i32_at(p, 8)), fine(i32_at(p, 12)), {}};
                const std::size_t n = clamp_count(u32_at(p, 16), p, 20, 4);
                d.positions.reserve(n);
                for (std::size_t i = 0; i < n; ++i) {
                    const std::int64_t v = i32_at(p, 20 + 4 * i);
                    d.positions.push_back(kind == PageRecordKind::DotRows ? static_cast<std::int32_t>((v + 16) / 32)
                                                                          : static_cast<std::int32_t>(v / 32));
                }
                data = std::move(d);
            }
            break;
        default: break;
    }
    return std::make_unique<PageItem>(kind, std::move(data), page);
}

std::unique_ptr<PageItem> PageItem::make_text(std::string text, std::int32_t x, std::int32_t y,
                                              const CReportPage* page) {
    return std::make_unique<PageItem>(PageRecordKind::Text, TextData{x, y, std::move(text)}, page);
}

bool PageItem::is_annotation_marker() const {
    const auto* t = std::get_if<TextData>(&data_);
    return kind_ == PageRecordKind::Text && t && t->x == -1 && t->y == -1 && t->text == " ";
}

std::optional<TextData> PageItem::text() const {
    const auto* t = std::get_if<TextData>(&data_);
    if (kind_ != PageRecordKind::Text || !t) return std::nullopt;
    return *t;
}

bool PageItem::hit_test(fw::DrawContext& dc, const PageFonts& fonts, fw::Pt lp) const {
    const auto* t = std::get_if<TextData>(&data_);
    if (kind_ != PageRecordKind::Text || !t) return false;
    dc.set_font(font_for_code(fonts, text_size_code(t->text)));
    fw::TextOpts calc;
    calc.calc_only = true;
    const fw::Sz size = dc.text({t->x, t->y, t->x + 8192, t->y + 8192}, text_without_prefix(t->text), calc);
    const int line = fw::get_text_line_height(dc);
    const std::int64_t l = t->x, top = std::int64_t{t->y} - line;
    return lp.x >= l && lp.x < l + size.cx && lp.y >= top && lp.y < top + size.cy;
}

namespace {

// The trace's samples as logical points, the same for the screen, the printer and RTF.
std::vector<fw::Pt> trace_points(const TraceData& t) {
    const std::int64_t s = std::int64_t{t.gain} * 5505024 / (std::int64_t{1} << 31);
    const std::int64_t yoff = std::int64_t{t.y0} - ((std::int64_t{t.base} * s) >> 16);
    std::vector<fw::Pt> pts;
    pts.reserve(t.samples.size());
    for (std::size_t i = 0; i < t.samples.size(); ++i) {
        const std::int64_t x = (std::int64_t{t.x0} * 65536 + static_cast<std::int64_t>(i) * 172928) >> 16;
        const std::int64_t y = yoff + ((std::int64_t{t.samples[i]} * s) >> 21);
        pts.push_back({clamp32(x), clamp32(y)});
    }
    return pts;
}

// The device corners already hold the viewport origin, margins included; previews draw in
// printer pixels as well, so there is no offset to add.
void draw_clip(fw::DrawContext& dc, const ClipData& c) {
    const fw::Pt a = dc.to_device({c.left, c.top}), b = dc.to_device({c.right, c.bottom});
    dc.clip_device({a.x, a.y, clamp32(std::int64_t{b.x} + 1), b.y});
}

void draw_bitmap_shape(fw::DrawContext& dc, const ShapeData& s, const CReportPage* page) {
    if (s.file_name.empty() || !page) return;
    const ReportFolder& folder = page->report_folder();
    auto bytes = folder.is_open() ? folder.read(s.file_name, ReportFileKind::Bitmap)
                                  : ReportFolder(page->folder()).read(s.file_name, ReportFileKind::Bitmap);
    if (!bytes) return;
    auto bm = decode_bmp(*bytes);
    if (bm) dc.blit(*bm, {clamp32(std::int64_t{s.x1} - 32), s.y1, clamp32(std::int64_t{s.x2} - 32), s.y2});
}

void draw_shape(fw::DrawContext& dc, const ShapeData& s, const CReportPage* page) {
    const std::int64_t x1 = s.x1, y1 = s.y1, x2 = s.x2, y2 = s.y2;
    const std::int64_t h = y2 - y1 + 1, w = x2 - x1 + 1;
    const std::int64_t cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
    const fw::Sz px = dc.device_pixel_in_logical();
    auto P = [](std::int64_t x, std::int64_t y) { return fw::Pt{clamp32(x), clamp32(y)}; };
    switch (static_cast<ShapeCode>(s.code)) {
        case ShapeCode::Logo: dc.blit(logo_bitmap(), {clamp32(x1 - 32), s.y1, clamp32(x2 - 32), s.y2}); return;
        case ShapeCode::Bitmap: draw_bitmap_shape(dc, s, page); return;
        case ShapeCode::Triangle:
            dc.set_fill(fw::FillStyle::Solid, kBlack);
            dc.polygon({P(cx, y2), P(cx + h / 2, y1), P(cx - h / 2, y1)});
            dc.set_fill(fw::FillStyle::Null);
            return;
        case ShapeCode::Arrow:
            dc.set_fill(fw::FillStyle::Solid, kBlack);
            dc.polygon({P(cx - h / 3, cy + 1), P(cx + h / 3, cy + 1), P(cx, y1)});
            dc.set_fill(fw::FillStyle::Null);
            dc.line(P(cx, y2), P(cx, cy));
            return;
        case ShapeCode::HatchedBox:
        case ShapeCode::HatchedBoxAlt:
            dc.set_fill(fw::FillStyle::HatchFDiagonal, kBlack);
            if (dc.screen_style()) dc.set_pen(fw::PenStyle::Null);
            dc.rect({s.x1, s.y1, clamp32(x2 + px.cx), clamp32(y2 + px.cy)});
            dc.set_pen(fw::PenStyle::Solid, kBlack);
            dc.set_fill(fw::FillStyle::Null);
            return;
        case ShapeCode::ShadedBox:
        case ShapeCode::ShadedBoxAlt:
            if (w <= px.cx)
                draw_dashed_line(dc, P(x1, y1), P(x1, y2));
            else if (h <= px.cy)
                draw_dashed_line(dc, P(x1, y1), P(x2, y1));
            else
                dc.fill_rect({s.x1, s.y1, s.x2, s.y2}, kLightGrey);
            return;
        case ShapeCode::Cross: {
            const std::int64_t q = h / 2;
            dc.line(P(cx - q, cy - q), P(cx + q, cy + q));
            dc.line(P(cx - q, cy + q), P(cx + q, cy - q));
            return;
        }
        case ShapeCode::Square: {
            const std::int64_t q = h / 2;
            dc.polyline(
                {P(cx - q, cy - q), P(cx + q, cy - q), P(cx + q, cy + q), P(cx - q, cy + q), P(cx - q, cy - q)});
            return;
        }
        case ShapeCode::Plus: {
            const std::int64_t q = h / 2;
            dc.line(P(cx, cy - q), P(cx, cy + q));
            dc.line(P(cx - q, cy), P(cx + q, cy));
            return;
        }
    }
    dc.set_fill(fw::FillStyle::Solid, kCyan);
    dc.rect({s.x1, s.y1, clamp32(x2 + px.cx), clamp32(y2 + px.cy)});
    dc.set_fill(fw::FillStyle::Null);
}

// Values hold P, Q and R, k each: column i shades x from P[i] up to P[i + 1] between Q[i] and
// R[i]; the last column is one line.
void draw_band(fw::DrawContext& dc, const BandData& b) {
    const std::size_t k = b.values.size() / 3;
    if (k == 0) return;  // no last column to draw
    const std::int32_t* P = b.values.data();
    const std::int32_t* Q = P + k;
    const std::int32_t* R = Q + k;
    const fw::Rc bounds = logical_device_bounds(dc);
    for (std::size_t i = 0; i + 1 < k; ++i) {
        if (std::abs(std::int64_t{Q[i]} - R[i]) <= 2) continue;
        const std::int64_t from = std::max<std::int64_t>(P[i], bounds.l);
        const std::int64_t to = std::min<std::int64_t>(std::int64_t{P[i + 1]} - 1, bounds.r);
        for (std::int64_t x = from; x <= to; ++x) draw_band_line(dc, static_cast<std::int32_t>(x), Q[i], R[i]);
    }
    draw_band_line(dc, P[k - 1], Q[k - 1], R[k - 1]);
}

void draw_trace(fw::DrawContext& dc, const TraceData& t) {
    if (t.samples.empty()) return;
    dc.polyline(trace_points(t));
}

void draw_polyline(fw::DrawContext& dc, const PolylineData& l) {
    std::vector<fw::Pt> run;
    for (const fw::Pt& p : l.points) {
        if (is_pen_up(p)) {
            draw_run(dc, run);
            run.clear();
        } else {
            run.push_back(p);
        }
    }
    draw_run(dc, run);
}

// A run starts at a point with no negative coordinate and ends before the next point with one
// that is not positive.
void draw_dotted_polyline(fw::DrawContext& dc, const PolylineData& l) {
    dc.set_pen(fw::PenStyle::Dot, kBlack);
    const auto& p = l.points;
    std::size_t i = 0;
    while (i < p.size()) {
        if (p[i].x < 0 || p[i].y < 0) {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < p.size() && p[j].x > 0 && p[j].y > 0) ++j;
        draw_run(dc, std::vector<fw::Pt>(p.begin() + static_cast<std::ptrdiff_t>(i),
                                         p.begin() + static_cast<std::ptrdiff_t>(j)));
        i = j;
    }
    dc.set_pen(fw::PenStyle::Solid, kBlack);
}

void draw_text(fw::DrawContext& dc, const TextData& t, const PageFonts& fonts) {
    dc.set_font(font_for_code(fonts, text_size_code(t.text)));
    fw::TextOpts o;
    o.baseline = true;
    dc.text({t.x, t.y, clamp32(std::int64_t{t.x} + 8192), clamp32(std::int64_t{t.y} + 1024)},
            text_without_prefix(t.text), o);
    dc.set_font(fonts[kTextSmall]);
}

// Rows run along x at each position's y, columns along y at each position's x.
void draw_dots(fw::DrawContext& dc, const DotsData& d, bool rows, PageDrawState& state) {
    const std::int64_t step = dot_grid_step(d.scale_code, d.scale_parameter, state.last_dot_code);
    if (step < 1 || d.positions.empty()) return;
    const fw::Rc bounds = logical_device_bounds(dc);
    // Along the dots: t runs a*65536 ... b*65536, bounded to the surface.
    const std::int64_t lo = rows ? bounds.l : bounds.t, hi = rows ? bounds.r : bounds.b;
    std::int64_t start = std::int64_t{d.a} * 65536;
    const std::int64_t end = std::min<std::int64_t>(std::int64_t{d.b} * 65536, (hi + 1) * 65536 - 1);
    if (start < lo * 65536) start += (lo * 65536 - start + step - 1) / step * step;
    const std::int64_t across_lo = rows ? bounds.t : bounds.l, across_hi = rows ? bounds.b : bounds.r;
    std::vector<fw::Pt> dots;
    for (std::int32_t v : d.positions) {
        if (v < across_lo || v > across_hi) continue;
        dots.clear();
        for (std::int64_t t = start; t <= end; t += step) {
            const auto along = static_cast<std::int32_t>(t >> 16);
            dots.push_back(dc.to_device(rows ? fw::Pt{along, v} : fw::Pt{v, along}));
        }
        dc.pixels_device(dots, kBlack);
    }
}

}  // namespace

void PageItem::draw(fw::DrawContext& dc, const PageFonts& fonts, PageDrawState& state) const {
    using K = PageRecordKind;
    switch (kind_) {
        case K::Clip:
            if (auto* c = std::get_if<ClipData>(&data_)) draw_clip(dc, *c);
            return;
        case K::Shape:
            if (auto* s = std::get_if<ShapeData>(&data_)) draw_shape(dc, *s, page_);
            return;
        case K::Band:
            if (auto* b = std::get_if<BandData>(&data_)) draw_band(dc, *b);
            return;
        case K::Trace:
            if (auto* t = std::get_if<TraceData>(&data_)) draw_trace(dc, *t);
            return;
        case K::Polyline:
            if (auto* l = std::get_if<PolylineData>(&data_)) draw_polyline(dc, *l);
            return;
        case K::DottedPolyline:
            if (auto* l = std::get_if<PolylineData>(&data_)) draw_dotted_polyline(dc, *l);
            return;
        case K::Text:
            if (auto* t = std::get_if<TextData>(&data_)) draw_text(dc, *t, fonts);
            return;
        case K::DotRows:
            if (auto* d = std::get_if<DotsData>(&data_)) draw_dots(dc, *d, true, state);
            return;
        case K::DotColumns:
            if (auto* d = std::get_if<DotsData>(&data_)) draw_dots(dc, *d, false, state);
            return;
        case K::Label: return;
    }
}

std::string PageItem::record_bytes(bool oem) const {
    const auto* t = std::get_if<TextData>(&data_);
    if (kind_ != PageRecordKind::Text || !t) return {};
    std::string text = t->text;
    if (oem) {
        const std::string_view body = text_without_prefix(text);
        text = text.substr(0, text.size() - body.size()) + page_text_to_oem(body);
    }
    if (text.size() > kMaxPagePayload - 12) text.resize(kMaxPagePayload - 12);
    std::string payload;
    append_le32(payload, static_cast<std::uint32_t>(static_cast<std::int64_t>(t->x) * 32));
    append_le32(payload, static_cast<std::uint32_t>(static_cast<std::int64_t>(t->y) * 32));
    append_le32(payload, static_cast<std::uint32_t>(text.size()));
    return make_page_record(PageRecordKind::Text, payload + text);
}

std::string note_text_for_page(std::string_view text) {
    constexpr std::size_t kMaxText = kMaxPagePayload - 12;
    std::string out;
    out.reserve(std::min(text.size() + text.size() / 8, kMaxText));
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
        out.push_back(text[i]);
    }
    if (out.size() > kMaxText) {
        out.resize(kMaxText);
        if (out.back() == '\r') out.pop_back();
    }
    return out;
}

std::string make_page_record(PageRecordKind kind, std::string_view payload, std::uint32_t attr1, std::uint32_t attr2,
                             std::uint32_t attr3) {
    std::string out;
    append_le32(out, static_cast<std::uint32_t>(payload.size() + 16));
    append_le32(out, attr1);
    append_le32(out, attr2);
    append_le32(out, attr3);
    append_le32(out, static_cast<std::uint32_t>(kind));
    out += payload;
    return out;
}

std::string annotation_marker_record() { return PageItem::make_text(" ", -1, -1)->record_bytes(false); }

PageFileContents parse_page_file(std::string_view bytes, bool oem, const CReportPage* page) {
    PageFileContents out;
    std::size_t pos = 0;
    while (bytes.size() - pos >= kPageRecordHeaderSize) {
        const std::size_t start = pos;
        const std::uint32_t length = u32_at(bytes, pos);
        const auto kind = static_cast<PageRecordKind>(i32_at(bytes, pos + 16));
        if (length < 16) break;  // corrupt: the rest cannot be framed
        const std::uint64_t payload = length - 16u;
        pos += kPageRecordHeaderSize;
        if (payload > bytes.size() - pos) {  // short read: nothing follows
            out.damage = "a record runs past its end";
            return out;
        }
        if (payload == 0) continue;
        if (payload > kMaxPagePayload) {  // not supported: step over it
            pos += payload;
            continue;
        }
        auto item = PageItem::from_record(kind, bytes.substr(pos, payload), oem, page);
        pos += payload;
        if (item->is_annotation_marker()) {
            out.first_annotation_index = static_cast<std::int32_t>(out.items.size());
            out.annotation_offset = static_cast<std::int64_t>(start);
            continue;
        }
        out.items.push_back(std::move(item));
    }
    if (bytes.empty())
        out.damage = "it is empty";
    else if (pos < bytes.size() && bytes.size() - pos < kPageRecordHeaderSize)
        out.damage = "it ends inside a record";
    return out;
}

std::optional<PageFileContents> read_page_file(const std::string& path, bool oem, const CReportPage* page,
                                               std::string* error) {
    std::string name;
    return read_page_file(folder_of_file(path, name), name, oem, page, error);
}

std::optional<PageFileContents> read_page_file(const ReportFolder& folder, const std::string& name, bool oem,
                                               const CReportPage* page, std::string* error) {
    OutsideRefusal why = OutsideRefusal::None;
    auto bytes = folder.read(name, ReportFileKind::Page, &why);
    if (!bytes) {
        const std::string path = folder.path_of(name);
        if (error)
            *error = why == OutsideRefusal::Unreadable || why == OutsideRefusal::Missing
                         ? "Cannot read the page file " + path + "."
                         : outside_refusal_text(path, why);
        return std::nullopt;
    }
    return parse_page_file(*bytes, oem, page);
}

namespace {

// How long a note save waits for another save of the same report to end.
constexpr int kNoteSaveWaitMs = 6000;

// Every note save holds its report folder's lock for as long as its temporary exists, so one met
// under that lock was left by a save that was killed: it goes, through the folder held open. Only
// plain files of the temporaries' form ".PAGE.<n>.tmp.<...>".
void clear_killed_saves(int folder_fd) {
    const auto hidden = list_names_at(folder_fd, ".");
    if (!hidden) return;
    for (const FolderEntry& e : *hidden) {
        const std::string_view name = e.name;
        const std::size_t tmp = name.find(".tmp.");
        if (!e.regular || tmp == std::string_view::npos || name.size() < 7 ||
            !platform::iequals(name.substr(1, 5), "PAGE."))
            continue;
        const std::string_view number = name.substr(6, tmp - 6);
        if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) continue;
        (void)::unlinkat(folder_fd, e.name.c_str(), 0);
    }
}

}  // namespace

bool write_page_annotations(const std::string& path, std::int64_t annotation_offset,
                            const std::vector<const PageItem*>& annotations, bool oem, std::int64_t* marker_offset,
                            std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    auto bytes = read_report_file(path, ReportFileKind::Page);
    if (!bytes) return fail("Cannot read the page file " + path + ".");
    if (::access(path.c_str(), W_OK) != 0) return fail("The page file " + path + " is read-only.");
    std::size_t cut = bytes->size();
    if (annotation_offset >= 0 && static_cast<std::uint64_t>(annotation_offset) < cut)
        cut = static_cast<std::size_t>(annotation_offset);
    std::string out = bytes->substr(0, cut);
    out += annotation_marker_record();
    for (const PageItem* item : annotations)
        if (item) out += item->record_bytes(oem);
    // The new page is made and put in place relative to the report folder, held open and locked
    // against other saves of it throughout.
    const std::string folder = get_path_folder(path);
    const platform::UniqueFd dir = open_folder_no_link(folder);
    if (!dir) return fail("Cannot write the page file " + path + ".");
    if (platform::lock_folder_within(dir.get(), kNoteSaveWaitMs) != platform::LockFailure::None)
        return fail("The page file " + path + " is being saved by another program.");
    clear_killed_saves(dir.get());
    GenerationReplace replace(dir.get(), folder, get_path_file_name(path));
    if (!replace.ready() || !platform::write_all(replace.fd(), out.data(), out.size()) || !replace.commit(false))
        return fail("Cannot write the page file " + path + ".");
    if (marker_offset) *marker_offset = static_cast<std::int64_t>(cut);
    return true;
}

void PageItem::write_rtf(RtfWriter& out) const {
    auto pts_of = [](const std::vector<fw::Pt>& v) {
        std::vector<std::pair<std::int32_t, std::int32_t>> r;
        r.reserve(v.size());
        for (const fw::Pt& p : v) r.emplace_back(p.x, p.y);
        return r;
    };
    switch (kind_) {
        case PageRecordKind::Polyline:
            if (const auto* l = std::get_if<PolylineData>(&data_)) out.polyline_runs(pts_of(l->points), 0);
            return;
        case PageRecordKind::DottedPolyline:
            if (const auto* l = std::get_if<PolylineData>(&data_)) {
                if ((l->points.size() & 0xFF) == 1) {
                    // A single point has no second end: nothing to write.
                    if (l->points.size() >= 2)
                        out.line_object(l->points[0].x, l->points[0].y, l->points[1].x, l->points[1].y, 2);
                } else {
                    out.polyline_runs(pts_of(l->points), 2);
                }
            }
            return;
        case PageRecordKind::DotRows:
        case PageRecordKind::DotColumns:
            if (const auto* d = std::get_if<DotsData>(&data_)) {
                if (kind_ == PageRecordKind::DotRows && d->positions.size() == 76) return;
                for (std::int32_t v : d->positions) {
                    if (kind_ == PageRecordKind::DotRows)
                        out.line_object(d->a, v, d->b, v, 1);
                    else
                        out.line_object(v, d->a, v, d->b, 1);
                }
            }
            return;
        case PageRecordKind::Trace:
            if (const auto* t = std::get_if<TraceData>(&data_)) out.trace(pts_of(trace_points(*t)));
            return;
        case PageRecordKind::Shape:
            if (const auto* s = std::get_if<ShapeData>(&data_)) {
                const std::int32_t top = std::min(s->y1, s->y2);
                const std::int32_t h = clamp32(std::abs(std::int64_t{s->y2} - s->y1));
                const std::int32_t cx = clamp32((std::int64_t{s->x1} + s->x2) / 2);
                switch (static_cast<ShapeCode>(s->code)) {
                    case ShapeCode::Logo:
                    case ShapeCode::Bitmap: out.logo(s->x1, s->y1); return;
                    case ShapeCode::Triangle: out.triangle(cx, top, h); return;
                    case ShapeCode::Arrow: out.arrow(cx, top, h); return;
                    case ShapeCode::HatchedBox:
                    case ShapeCode::HatchedBoxAlt: out.hatched_box(s->x1, s->y1, s->x2, s->y2); return;
                    case ShapeCode::ShadedBox:
                    case ShapeCode::ShadedBoxAlt:
                        if (s->x1 == s->x2 || s->y1 == s->y2)
                            out.line_object(s->x1, s->y1, s->x2, s->y2, 3);
                        else
                            out.shade_next_text();
                        return;
                    default: return;
                }
            }
            return;
        case PageRecordKind::Text:
            if (const auto* t = std::get_if<TextData>(&data_)) out.text_item(t->text, t->x, t->y);
            return;
        default: return;
    }
}

}  // namespace tv
