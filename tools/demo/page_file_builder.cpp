#include "tools/demo/page_file_builder.h"

#include <algorithm>

#include "common/bytes.h"

namespace tv {

namespace {
std::uint32_t stored(std::int32_t v) { return static_cast<std::uint32_t>(static_cast<std::int64_t>(v) * 32); }
}  // namespace

void PageFileBuilder::text(std::int32_t x, std::int32_t y, std::string_view cp1252, int size_code) {
    const std::string t = size_prefix(size_code) + std::string(cp1252.substr(0, kMaxPagePayload - 14));
    std::string p;
    append_le32(p, stored(x));
    append_le32(p, stored(y));
    append_le32(p, static_cast<std::uint32_t>(t.size()));
    bytes_ += make_page_record(PageRecordKind::Text, p + t, 0, 0, 0);
}

void PageFileBuilder::polyline(const std::vector<fw::Pt>& points) {
    std::string p;
    const std::size_t n = std::min<std::size_t>(points.size(), (kMaxPagePayload - 4) / 8);
    append_le32(p, static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        append_le32(p, points[i].x == kPenUp ? static_cast<std::uint32_t>(kPenUp) : stored(points[i].x));
        append_le32(p, points[i].y == kPenUp ? static_cast<std::uint32_t>(kPenUp) : stored(points[i].y));
    }
    bytes_ += make_page_record(PageRecordKind::Polyline, p, 0, 0, 0);
}

void PageFileBuilder::trace(std::int32_t x0, std::int32_t y0, std::int32_t base, std::int32_t gain,
                            const std::vector<std::uint16_t>& samples) {
    std::string p;
    append_le32(p, static_cast<std::uint32_t>(gain));
    append_le32(p, stored(x0));
    append_le32(p, stored(y0));
    append_le32(p, stored(base));
    const std::size_t n = std::min<std::size_t>(samples.size(), (kMaxPagePayload - 20) / 2);
    append_le32(p, static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) append_le16(p, samples[i]);
    bytes_ += make_page_record(PageRecordKind::Trace, p, 0, 0, 0);
}

void PageFileBuilder::dot_rows(std::uint32_t scale_code, std::int32_t a, std::int32_t b,
                               const std::vector<std::int32_t>& rows) {
    std::string p;
    append_le32(p, scale_code);
    append_le32(p, 0);
    append_le32(p, stored(a));
    append_le32(p, stored(b));
    const std::size_t n = std::min<std::size_t>(rows.size(), (kMaxPagePayload - 20) / 4);
    append_le32(p, static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) append_le32(p, stored(rows[i]));
    bytes_ += make_page_record(PageRecordKind::DotRows, p, 0, 0, 0);
}

void PageFileBuilder::shape(std::uint32_t code, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
    std::string p;
    append_le32(p, code);
    append_le32(p, 0);
    for (std::int32_t v : {x1, y1, x2, y2}) append_le32(p, stored(v));
    bytes_ += make_page_record(PageRecordKind::Shape, p, 0, 0, 0);
}

void PageFileBuilder::clip(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    std::string p;
    for (std::int32_t v : {left, right, top, bottom}) append_le32(p, stored(v));
    bytes_ += make_page_record(PageRecordKind::Clip, p, 0, 0, 0);
}

void PageFileBuilder::label(std::string_view text) {
    std::string p;
    append_le32(p, 1);
    append_le32(p, static_cast<std::uint32_t>(text.size()));
    bytes_ += make_page_record(PageRecordKind::Label, p + std::string(text), 0, 0, 0);
}

}  // namespace tv
