// A small player for enhanced metafiles (.emf): the record kinds the 12-lead pages use (lines,
// polylines, polygons, rectangles, pens, brushes, fonts, text, mapping, saved states). Other
// records are skipped. Every record length is checked against the file.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/draw_context.h"

namespace tv {

// Record types and signatures of the metafile format.
enum : std::uint32_t {
    kEmrHeader = 1,
    kEmrPolygon = 3,
    kEmrPolyline = 4,
    kEmrSetWindowExt = 9,
    kEmrSetWindowOrg = 10,
    kEmrSetViewportExt = 11,
    kEmrSetViewportOrg = 12,
    kEmrEof = 14,
    kEmrSetMapMode = 17,
    kEmrSetTextAlign = 22,
    kEmrSetTextColor = 24,
    kEmrMoveTo = 27,
    kEmrSaveDc = 33,
    kEmrRestoreDc = 34,
    kEmrSelectObject = 37,
    kEmrCreatePen = 38,
    kEmrCreateBrush = 39,
    kEmrDeleteObject = 40,
    kEmrRectangle = 43,
    kEmrLineTo = 54,
    kEmrCreateFont = 82,
    kEmrExtTextOutW = 84,
    kEmrPolygon16 = 86,
    kEmrPolyline16 = 87,
};
constexpr std::uint32_t kEmfSignature = 0x464D4520;
constexpr std::uint32_t kStock = 0x80000000;

struct EmfHeader {
    fw::Rc bounds;           // device units of the reference device
    fw::Rc frame;            // 0.01 mm
    std::uint32_t size = 0;  // bytes, as the header says
    std::uint32_t records = 0;
    fw::Sz device_pixels;  // reference device
    fw::Sz device_mm;
};

class EmfFile {
public:
    // nullopt when the bytes are not a metafile (no header record, bad signature).
    static std::optional<EmfFile> parse(std::string bytes);
    static std::optional<EmfFile> load(const std::string& path);
    const EmfHeader& header() const { return header_; }
    const std::string& bytes() const { return bytes_; }

private:
    EmfHeader header_;
    std::string bytes_;
};

// Plays the metafile with its frame mapped onto `dst` (logical units of `dc`).
void play_metafile(fw::DrawContext& dc, const EmfFile& emf, const fw::Rc& dst);

}  // namespace tv
