// Monochrome pictures of report pages (BMP and PCX, 2496 x 3520 by default): the picture, its
// encodings and the file names. The pages are drawn by the installed renderer (page_renderer.h;
// the drawing itself is tolbex/reports/render/page_render.h).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/draw_context.h"
#include "tolbex/reports/page_items.h"

namespace tv {

class CReportPage;

constexpr int kPageBitmapWidth = 2496;
constexpr int kPageBitmapHeight = 3520;

// A 1-bit picture, rows top-down, each `stride` bytes (a multiple of 4), most significant bit
// first, bit 1 = white.
struct MonoImage {
    int width = 0, height = 0, stride = 0;
    std::vector<std::uint8_t> bits;
    static MonoImage white(int width, int height);
    const std::uint8_t* row(int y) const { return bits.data() + static_cast<std::size_t>(y) * stride; }
};

enum class BitmapFormat { Bmp, Pcx };

// BMP: "BM", 62-byte header with colour table (0 black, 1 white), rows bottom-up padded to 4.
std::string encode_bmp(const MonoImage& image);
// PCX: 128-byte header, one run-length line per row, top first, lines padded to an even length.
std::string encode_pcx(const MonoImage& image);
void pcx_encode_line(const std::uint8_t* bytes, std::size_t count, std::string& out);

// "PAGE%04d.BMP" / "PAGE%04d.PCX".
std::string page_bitmap_file_name(int page_number, BitmapFormat format);
// Exports pages[i] as file_name(i) through the installed renderer: rendered, encoded and written on
// all cores, one file at a time in page order (file_name is called from the workers). Stops at the
// first failure with `error`, later pages unwritten; without a renderer nothing is written.
bool export_page_bitmaps(const std::vector<const CReportPage*>& pages, const PageFonts& fonts, int width, int height,
                         const std::function<std::string(std::size_t)>& file_name, BitmapFormat format,
                         std::string* error = nullptr);

}  // namespace tv
