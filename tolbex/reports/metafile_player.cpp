#include "tolbex/reports/metafile_player.h"

#include <algorithm>
#include <map>
#include <span>

#include "common/report_files.h"
#include "common/bytes.h"
#include "platform/codepage.h"
#include "platform/fs.h"

namespace tv {
namespace {

// Reads past the end of a record give 0, so a short record cannot reach beyond its bytes.
std::span<const std::uint8_t> as_bytes(std::string_view b) {
    return {reinterpret_cast<const std::uint8_t*>(b.data()), b.size()};
}
std::uint32_t u32(std::string_view b, std::size_t at) { return load_le32(as_bytes(b), at); }
std::int32_t i32(std::string_view b, std::size_t at) { return static_cast<std::int32_t>(u32(b, at)); }
std::int16_t i16(std::string_view b, std::size_t at) { return static_cast<std::int16_t>(load_le16(as_bytes(b), at)); }
fw::Rgb colour(std::uint32_t ref) {
    return {static_cast<std::uint8_t>(ref & 0xFF), static_cast<std::uint8_t>((ref >> 8) & 0xFF),
            static_cast<std::uint8_t>((ref >> 16) & 0xFF)};
}
constexpr std::int32_t kMaxFontHeight = 65536;  // logical units

// Positions and sizes from the file stay far inside 32 bits, so that the draw context's own
// arithmetic (line offsets, extents, alignment) cannot overflow; no page comes near the limit.
constexpr std::int64_t kCoordinateLimit = std::int64_t{1} << 28;
std::int32_t clamp_coordinate(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -kCoordinateLimit, kCoordinateLimit));
}

// a * m / d without overflow, kept within +-2^40 (far beyond any page); a zero d counts as 1.
std::int64_t mul_div(std::int64_t a, std::int64_t m, std::int64_t d) {
    constexpr __int128 kLimit = __int128{1} << 40;
    const __int128 v = static_cast<__int128>(a) * m / (d != 0 ? d : 1);
    return static_cast<std::int64_t>(std::clamp(v, -kLimit, kLimit));
}

std::string utf16_to_cp1252(std::string_view b, std::size_t at, std::size_t count) {
    std::string utf8;
    for (std::size_t i = 0; i < count && at + 2 * i + 2 <= b.size(); ++i) {
        const auto c = static_cast<std::uint16_t>(i16(b, at + 2 * i));
        if (c < 0x80) {
            utf8.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c >= 0xD800 && c < 0xE000) {
            utf8.push_back('?');
        } else {
            utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
            utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return platform::utf8_to_cp1252(utf8);
}

struct Object {
    enum Kind { Pen, Brush, Font } kind = Pen;
    fw::PenStyle pen = fw::PenStyle::Solid;
    int width = 0;
    fw::FillStyle fill = fw::FillStyle::Solid;
    fw::Rgb rgb{};
    std::int32_t height = 0, weight = 400;
    bool italic = false;
    std::string face;
};

struct State {
    std::uint32_t map_mode = 1;
    fw::Pt worg{}, vorg{};
    fw::Sz wext{1, 1}, vext{1, 1};
    Object pen{Object::Pen, fw::PenStyle::Solid, 0, {}, {}, 0, 400, false, {}};
    Object brush{Object::Brush, {}, 0, fw::FillStyle::Solid, {255, 255, 255}, 0, 400, false, {}};
    Object font{Object::Font, {}, 0, {}, {}, 12, 400, false, "Arial"};
    fw::Rgb text{};
    std::uint32_t align = 0;
    fw::Pt pos{};
};

class Player {
public:
    Player(fw::DrawContext& dc, const EmfHeader& h, const fw::Rc& dst) : dc_(dc), dst_(dst) {
        // The frame (0.01 mm) in reference-device pixels.
        auto px = [](std::int64_t v, std::int64_t pixels, std::int64_t mm) {
            return mm > 0 ? mul_div(v, pixels, mm * 100) : v;
        };
        fl_ = px(h.frame.l, h.device_pixels.cx, h.device_mm.cx);
        ft_ = px(h.frame.t, h.device_pixels.cy, h.device_mm.cy);
        fw_ = px(h.frame.r, h.device_pixels.cx, h.device_mm.cx) - fl_;
        fh_ = px(h.frame.b, h.device_pixels.cy, h.device_mm.cy) - ft_;
        if (fw_ <= 0 || fh_ <= 0) {
            fl_ = h.bounds.l;
            ft_ = h.bounds.t;
            fw_ = std::max<std::int64_t>(1, std::int64_t{h.bounds.r} - h.bounds.l);
            fh_ = std::max<std::int64_t>(1, std::int64_t{h.bounds.b} - h.bounds.t);
        }
    }

    void play(std::string_view b) {
        std::size_t pos = 0;
        while (b.size() - pos >= 8) {
            const std::uint32_t type = u32(b, pos), size = u32(b, pos + 4);
            if (size < 8 || size % 4 != 0 || size > b.size() - pos) return;
            const std::string_view r = b.substr(pos, size);
            pos += size;
            if (type == kEmrEof) return;
            record(type, r);
        }
    }

private:
    // Metafile logical -> reference device -> logical units of the output.
    fw::Pt map(std::int64_t x, std::int64_t y) const {
        std::int64_t dx = x - s_.worg.x, dy = y - s_.worg.y;
        if (s_.map_mode != 1) {
            dx = mul_div(dx, s_.vext.cx, s_.wext.cx);
            dy = mul_div(dy, s_.vext.cy, s_.wext.cy);
        }
        dx += s_.vorg.x;
        dy += s_.vorg.y;
        return {clamp_coordinate(dst_.l + mul_div(dx - fl_, dst_.width(), fw_)),
                clamp_coordinate(dst_.t + mul_div(dy - ft_, dst_.height(), fh_))};
    }
    std::int32_t map_height(std::int64_t h) const {
        if (h < 0) h = -h;
        if (s_.map_mode != 1)
            h = mul_div(h, std::abs(std::int64_t{s_.vext.cy}),
                        std::max<std::int64_t>(1, std::abs(std::int64_t{s_.wext.cy})));
        return clamp_coordinate(mul_div(h, std::abs(std::int64_t{dst_.height()}), fh_));
    }
    int device_width(int w) const {
        if (w <= 1) return 1;
        const fw::Rc d = dc_.rect_to_device(dst_);
        const std::int64_t v = std::int64_t{w} * std::abs(d.width()) / fw_;
        return static_cast<int>(std::clamp<std::int64_t>(v, 1, 64));
    }
    void apply_pen() { dc_.set_pen(s_.pen.pen, s_.pen.rgb, device_width(s_.pen.width)); }
    void apply_brush() { dc_.set_fill(s_.brush.fill, s_.brush.rgb); }

    std::vector<fw::Pt> points(std::string_view r, bool small) {
        const std::uint32_t n = u32(r, 24);
        const std::size_t each = small ? 4 : 8;
        const std::size_t avail = r.size() >= 28 ? (r.size() - 28) / each : 0;
        std::vector<fw::Pt> pts;
        const std::size_t count = std::min<std::size_t>(n, avail);
        pts.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = 28 + i * each;
            pts.push_back(small ? map(i16(r, at), i16(r, at + 2)) : map(i32(r, at), i32(r, at + 4)));
        }
        return pts;
    }

    void select(std::uint32_t handle) {
        if (handle & kStock) {
            switch (handle & ~kStock) {
                case 0:
                    s_.brush = {Object::Brush, {}, 0, fw::FillStyle::Solid, {255, 255, 255}, 0, 400, false, {}};
                    break;
                case 1:
                    s_.brush = {Object::Brush, {}, 0, fw::FillStyle::Solid, {192, 192, 192}, 0, 400, false, {}};
                    break;
                case 2:
                    s_.brush = {Object::Brush, {}, 0, fw::FillStyle::Solid, {128, 128, 128}, 0, 400, false, {}};
                    break;
                case 3: s_.brush = {Object::Brush, {}, 0, fw::FillStyle::Solid, {64, 64, 64}, 0, 400, false, {}}; break;
                case 4: s_.brush = {Object::Brush, {}, 0, fw::FillStyle::Solid, {}, 0, 400, false, {}}; break;
                case 5: s_.brush = {Object::Brush, {}, 0, fw::FillStyle::Null, {}, 0, 400, false, {}}; break;
                case 6: s_.pen = {Object::Pen, fw::PenStyle::Solid, 0, {}, {255, 255, 255}, 0, 400, false, {}}; break;
                case 7: s_.pen = {Object::Pen, fw::PenStyle::Solid, 0, {}, {}, 0, 400, false, {}}; break;
                case 8: s_.pen = {Object::Pen, fw::PenStyle::Null, 0, {}, {}, 0, 400, false, {}}; break;
                default: break;
            }
            return;
        }
        auto it = objects_.find(handle);
        if (it == objects_.end()) return;
        switch (it->second.kind) {
            case Object::Pen: s_.pen = it->second; break;
            case Object::Brush: s_.brush = it->second; break;
            case Object::Font: s_.font = it->second; break;
        }
    }

    void record(std::uint32_t type, std::string_view r) {
        switch (type) {
            case kEmrSetMapMode: s_.map_mode = u32(r, 8); break;
            case kEmrSetWindowExt:
                if (i32(r, 8) && i32(r, 12)) s_.wext = {i32(r, 8), i32(r, 12)};
                break;
            case kEmrSetViewportExt:
                if (i32(r, 8) && i32(r, 12)) s_.vext = {i32(r, 8), i32(r, 12)};
                break;
            case kEmrSetWindowOrg: s_.worg = {i32(r, 8), i32(r, 12)}; break;
            case kEmrSetViewportOrg: s_.vorg = {i32(r, 8), i32(r, 12)}; break;
            case kEmrSetTextAlign: s_.align = u32(r, 8); break;
            case kEmrSetTextColor: s_.text = colour(u32(r, 8)); break;
            case kEmrSaveDc:
                if (stack_.size() < 64) stack_.push_back(s_);
                break;
            case kEmrRestoreDc: {
                const std::int32_t rel = i32(r, 8);
                if (rel < 0 && static_cast<std::size_t>(-static_cast<std::int64_t>(rel)) <= stack_.size()) {
                    stack_.resize(stack_.size() - static_cast<std::size_t>(-static_cast<std::int64_t>(rel)) + 1);
                    s_ = stack_.back();
                    stack_.pop_back();
                }
                break;
            }
            case kEmrCreatePen: {
                if (r.size() < 28 || objects_.size() >= 4096) break;
                Object o;
                o.kind = Object::Pen;
                switch (u32(r, 12) & 0xF) {
                    case 1: o.pen = fw::PenStyle::Dash; break;
                    case 2:
                    case 3:
                    case 4: o.pen = fw::PenStyle::Dot; break;
                    case 5: o.pen = fw::PenStyle::Null; break;
                    default: o.pen = fw::PenStyle::Solid; break;
                }
                o.width = i32(r, 16);
                o.rgb = colour(u32(r, 24));
                objects_[u32(r, 8)] = o;
                break;
            }
            case kEmrCreateBrush: {
                if (r.size() < 24 || objects_.size() >= 4096) break;
                Object o;
                o.kind = Object::Brush;
                const std::uint32_t style = u32(r, 12);
                o.fill = style == 1   ? fw::FillStyle::Null
                         : style == 2 ? fw::FillStyle::HatchFDiagonal
                                      : fw::FillStyle::Solid;
                o.rgb = colour(u32(r, 16));
                objects_[u32(r, 8)] = o;
                break;
            }
            case kEmrCreateFont: {
                if (r.size() < 104 || objects_.size() >= 4096) break;
                Object o;
                o.kind = Object::Font;
                o.height = i32(r, 12);
                o.weight = i32(r, 28);
                o.italic = r[32] != 0;
                std::size_t n = 0;
                while (n < 32 && i16(r, 40 + 2 * n) != 0) ++n;
                o.face = utf16_to_cp1252(r, 40, n);
                objects_[u32(r, 8)] = o;
                break;
            }
            case kEmrSelectObject: select(u32(r, 8)); break;
            case kEmrDeleteObject: objects_.erase(u32(r, 8)); break;
            case kEmrMoveTo: s_.pos = {i32(r, 8), i32(r, 12)}; break;
            case kEmrLineTo: {
                const fw::Pt to{i32(r, 8), i32(r, 12)};
                apply_pen();
                dc_.line(map(s_.pos.x, s_.pos.y), map(to.x, to.y));
                s_.pos = to;
                break;
            }
            case kEmrPolyline:
            case kEmrPolyline16: {
                auto pts = points(r, type == kEmrPolyline16);
                apply_pen();
                if (pts.size() >= 2) dc_.polyline(pts);
                break;
            }
            case kEmrPolygon:
            case kEmrPolygon16: {
                auto pts = points(r, type == kEmrPolygon16);
                apply_pen();
                apply_brush();
                if (pts.size() >= 2) dc_.polygon(pts);
                break;
            }
            case kEmrRectangle: {
                if (r.size() < 24) break;
                apply_pen();
                apply_brush();
                fw::Pt a = map(i32(r, 8), i32(r, 12)), c = map(i32(r, 16), i32(r, 20));
                dc_.rect({a.x, a.y, c.x, c.y});
                break;
            }
            case kEmrExtTextOutW: {
                if (r.size() < 76) break;
                const fw::Pt at = map(i32(r, 36), i32(r, 40));
                const std::uint32_t n = u32(r, 44), off = u32(r, 48);
                if (off > r.size() || n > (r.size() - off) / 2) break;
                fw::Font f;
                f.face = s_.font.face.empty() ? "Arial" : s_.font.face;
                // A height from the file is bounded: no page needs a taller font, and drawing one
                // would overflow the text metrics.
                f.em_height = std::clamp(map_height(s_.font.height), 1, kMaxFontHeight);
                f.weight = s_.font.weight > 0 ? s_.font.weight : 400;
                f.italic = s_.font.italic;
                dc_.set_font(f);
                dc_.set_text_colour(s_.text);
                dc_.text_out(at, utf16_to_cp1252(r, off, n), (s_.align & 24) != 0);
                break;
            }
            default: break;
        }
    }

    fw::DrawContext& dc_;
    fw::Rc dst_;
    std::int64_t fl_ = 0, ft_ = 0, fw_ = 1, fh_ = 1;
    State s_;
    std::vector<State> stack_;
    std::map<std::uint32_t, Object> objects_;
};

}  // namespace

std::optional<EmfFile> EmfFile::parse(std::string bytes) {
    if (bytes.size() < 88 || u32(bytes, 0) != kEmrHeader || u32(bytes, 40) != kEmfSignature) return std::nullopt;
    const std::uint32_t size = u32(bytes, 4);
    if (size < 88 || size > bytes.size()) return std::nullopt;
    EmfFile f;
    f.header_.bounds = {i32(bytes, 8), i32(bytes, 12), i32(bytes, 16), i32(bytes, 20)};
    f.header_.frame = {i32(bytes, 24), i32(bytes, 28), i32(bytes, 32), i32(bytes, 36)};
    f.header_.size = u32(bytes, 48);
    f.header_.records = u32(bytes, 52);
    f.header_.device_pixels = {i32(bytes, 72), i32(bytes, 76)};
    f.header_.device_mm = {i32(bytes, 80), i32(bytes, 84)};
    f.bytes_ = std::move(bytes);
    return f;
}

std::optional<EmfFile> EmfFile::load(const std::string& path) {
    auto bytes = read_report_file(path, ReportFileKind::Metafile);
    if (!bytes) return std::nullopt;
    return parse(std::move(*bytes));
}

void play_metafile(fw::DrawContext& dc, const EmfFile& emf, const fw::Rc& dst) {
    Player(dc, emf.header(), dst).play(emf.bytes());
    dc.set_pen(fw::PenStyle::Solid, {});
    dc.set_fill(fw::FillStyle::Null);
    dc.set_text_colour({});
}

}  // namespace tv
