// Monochrome pictures of report pages (BMP and PCX, 2496 x 3520 by default) and page rendering
// into images. A page is drawn as for printing, without true scale and with zero margins,
// in screen style; a pixel whose luminance is below half becomes black. Rendering uses Qt's
// fonts: a QGuiApplication must exist (ensure_render_application makes an offscreen one when
// the program has none).
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
    bool is_black(int x, int y) const;
    void set_black(int x, int y);
    const std::uint8_t* row(int y) const { return bits.data() + static_cast<std::size_t>(y) * stride; }
};

enum class BitmapFormat { Bmp, Pcx };

// BMP: "BM", 62-byte header with colour table (0 black, 1 white), rows bottom-up padded to 4.
std::string encode_bmp(const MonoImage& image);
// PCX: 128-byte header, one run-length line per row, top first, lines padded to an even length.
std::string encode_pcx(const MonoImage& image);
void pcx_encode_line(const std::uint8_t* bytes, std::size_t count, std::string& out);

// Makes an offscreen QGuiApplication when the process has no Qt application yet.
void ensure_render_application();

MonoImage render_page_mono(const CReportPage& page, const PageFonts& fonts, int width = kPageBitmapWidth,
                           int height = kPageBitmapHeight);
// Renders every page on all cores, each worker on its own picture; the results are in page order
// and the same bits as render_page_mono page by page. Pages must not change meanwhile.
std::vector<MonoImage> render_pages_mono(const std::vector<const CReportPage*>& pages, const PageFonts& fonts,
                                         int width = kPageBitmapWidth, int height = kPageBitmapHeight);

// "PAGE%04d.BMP" / "PAGE%04d.PCX".
std::string page_bitmap_file_name(int page_number, BitmapFormat format);
// Renders and writes one page, replacing the file atomically. False with `error` on failure.
bool export_page_bitmap(const CReportPage& page, const PageFonts& fonts, int width, int height,
                        const std::string& file_name, BitmapFormat format, std::string* error = nullptr);
// Exports pages[i] as file_name(i): rendered, encoded and written on all cores, one file at a time
// in page order (file_name is called from the workers). Stops at the first failure with `error`,
// later pages unwritten, as export_page_bitmap page by page would.
bool export_page_bitmaps(const std::vector<const CReportPage*>& pages, const PageFonts& fonts, int width, int height,
                         const std::function<std::string(std::size_t)>& file_name, BitmapFormat format,
                         std::string* error = nullptr);

}  // namespace tv
