#include "tools/demo/emf_writer.h"

#include <algorithm>

#include "common/bytes.h"
#include "platform/codepage.h"
#include "tolbex/reports/metafile_player.h"

namespace tv {

namespace {
std::uint32_t colourref(fw::Rgb c) { return std::uint32_t{c.r} | std::uint32_t{c.g} << 8 | std::uint32_t{c.b} << 16; }
}  // namespace

EmfWriter::EmfWriter(fw::Sz size_pixels) : size_(size_pixels) {}

void EmfWriter::record(std::uint32_t type, std::string_view payload) {
    append_le32(body_, type);
    append_le32(body_, static_cast<std::uint32_t>(8 + payload.size()));
    body_ += payload;
    ++records_;
}

void EmfWriter::select_new(std::uint32_t create_type, std::string payload, std::uint32_t& slot) {
    const std::uint32_t handle = next_handle_++;
    std::string p;
    append_le32(p, handle);
    p += payload;
    record(create_type, p);
    std::string sel;
    append_le32(sel, handle);
    record(kEmrSelectObject, sel);
    if (slot) {
        std::string del;
        append_le32(del, slot);
        record(kEmrDeleteObject, del);
    }
    slot = handle;
}

void EmfWriter::pen(fw::PenStyle style, fw::Rgb c, int width) {
    std::string p;
    append_le32(p, style == fw::PenStyle::Null   ? 5
                   : style == fw::PenStyle::Dot  ? 2
                   : style == fw::PenStyle::Dash ? 1
                                                 : 0);
    append_le32(p, static_cast<std::uint32_t>(width));
    append_le32(p, 0);
    append_le32(p, colourref(c));
    select_new(kEmrCreatePen, p, pen_slot_);
}

void EmfWriter::brush(fw::Rgb c) {
    std::string p;
    append_le32(p, 0);
    append_le32(p, colourref(c));
    append_le32(p, 0);
    select_new(kEmrCreateBrush, p, brush_slot_);
}

void EmfWriter::null_brush() {
    std::string p;
    append_le32(p, kStock | 5);
    record(kEmrSelectObject, p);
}

void EmfWriter::font(int height, int weight, const std::string& face) {
    std::string p;
    append_le32(p, static_cast<std::uint32_t>(-height));
    for (int i = 0; i < 3; ++i) append_le32(p, 0);
    append_le32(p, static_cast<std::uint32_t>(weight));
    for (int i = 0; i < 8; ++i) p.push_back(0);
    for (std::size_t i = 0; i < 32; ++i)
        append_le16(p, i < face.size() && i < 31 ? static_cast<unsigned char>(face[i]) : 0);
    // The rest of the extended font description is not read.
    p.append(320 - 92, '\0');
    select_new(kEmrCreateFont, p, font_slot_);
}

void EmfWriter::text_colour(fw::Rgb c) {
    std::string p;
    append_le32(p, colourref(c));
    record(kEmrSetTextColor, p);
}

namespace {
std::string points_payload(const std::vector<fw::Pt>& pts) {
    std::string p;
    std::int32_t l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
    for (const fw::Pt& q : pts) {
        l = std::min(l, q.x), t = std::min(t, q.y), r = std::max(r, q.x), b = std::max(b, q.y);
    }
    if (pts.empty()) l = t = r = b = 0;
    for (std::int32_t v : {l, t, r, b}) append_le32(p, static_cast<std::uint32_t>(v));
    append_le32(p, static_cast<std::uint32_t>(pts.size()));
    for (const fw::Pt& q : pts) {
        append_le16(p, static_cast<std::uint16_t>(q.x));
        append_le16(p, static_cast<std::uint16_t>(q.y));
    }
    return p;
}
}  // namespace

void EmfWriter::polyline(const std::vector<fw::Pt>& pts) { record(kEmrPolyline16, points_payload(pts)); }
void EmfWriter::polygon(const std::vector<fw::Pt>& pts) { record(kEmrPolygon16, points_payload(pts)); }

void EmfWriter::rectangle(const fw::Rc& r) {
    std::string p;
    for (std::int32_t v : {r.l, r.t, r.r, r.b}) append_le32(p, static_cast<std::uint32_t>(v));
    record(kEmrRectangle, p);
}

void EmfWriter::move_to(fw::Pt q) {
    std::string p;
    append_le32(p, static_cast<std::uint32_t>(q.x));
    append_le32(p, static_cast<std::uint32_t>(q.y));
    record(kEmrMoveTo, p);
}

void EmfWriter::line_to(fw::Pt q) {
    std::string p;
    append_le32(p, static_cast<std::uint32_t>(q.x));
    append_le32(p, static_cast<std::uint32_t>(q.y));
    record(kEmrLineTo, p);
}

void EmfWriter::text(fw::Pt at, std::string_view cp1252) {
    std::string align;
    append_le32(align, 24);  // baseline
    record(kEmrSetTextAlign, align);
    const std::string utf8 = platform::cp1252_to_utf8(cp1252);
    std::u16string u;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80)
            u.push_back(c), i += 1;
        else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size())
            u.push_back(static_cast<char16_t>((c & 0x1F) << 6 | (utf8[i + 1] & 0x3F))), i += 2;
        else if (i + 2 < utf8.size())
            u.push_back(static_cast<char16_t>((c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F))),
                i += 3;
        else
            break;
    }
    std::string p;
    for (int i = 0; i < 4; ++i) append_le32(p, 0);  // bounds
    append_le32(p, 1);                              // graphics mode
    append_le32(p, 0), append_le32(p, 0);           // scales
    append_le32(p, static_cast<std::uint32_t>(at.x));
    append_le32(p, static_cast<std::uint32_t>(at.y));
    append_le32(p, static_cast<std::uint32_t>(u.size()));
    append_le32(p, 76);                             // string offset from the record start
    append_le32(p, 0);                              // options
    for (int i = 0; i < 4; ++i) append_le32(p, 0);  // rectangle
    append_le32(p, 0);                              // no spacing array
    for (char16_t c : u) append_le16(p, c);
    while ((p.size() + 8) % 4) p.push_back(0);
    record(kEmrExtTextOutW, p);
}

std::string EmfWriter::finish() {
    std::string eof;
    append_le32(eof, 0), append_le32(eof, 16), append_le32(eof, 20);
    record(kEmrEof, eof);
    std::string h;
    append_le32(h, kEmrHeader);
    append_le32(h, 88);
    for (std::int32_t v : {0, 0, size_.cx - 1, size_.cy - 1}) append_le32(h, static_cast<std::uint32_t>(v));
    // Frame in 0.01 mm at 300 pixels per inch.
    for (std::int64_t v :
         {std::int64_t{0}, std::int64_t{0}, std::int64_t{size_.cx} * 2540 / 300, std::int64_t{size_.cy} * 2540 / 300})
        append_le32(h, static_cast<std::uint32_t>(v));
    append_le32(h, kEmfSignature);
    append_le32(h, 0x10000);
    append_le32(h, static_cast<std::uint32_t>(88 + body_.size()));
    append_le32(h, records_ + 1);
    append_le16(h, static_cast<std::uint16_t>(next_handle_));
    append_le16(h, 0);
    append_le32(h, 0), append_le32(h, 0), append_le32(h, 0);
    // A 300 dpi reference device: 3000 pixels in 254 mm.
    append_le32(h, 3000), append_le32(h, 3000), append_le32(h, 254), append_le32(h, 254);
    return h + body_;
}

}  // namespace tv
