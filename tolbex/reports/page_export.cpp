#include "tolbex/reports/page_export.h"

#include <algorithm>
#include <atomic>

#include "common/bytes.h"
#include "common/text.h"
#include "tolbex/reports/page_renderer.h"

namespace tv {

MonoImage MonoImage::white(int width, int height) {
    MonoImage m;
    m.width = std::max(width, 0);
    m.height = std::max(height, 0);
    m.stride = ((m.width + 31) / 32) * 4;
    m.bits.assign(static_cast<std::size_t>(m.stride) * static_cast<std::size_t>(m.height), 0xFF);
    return m;
}

std::string encode_bmp(const MonoImage& image) {
    const std::uint32_t image_size =
        static_cast<std::uint32_t>(image.stride) * static_cast<std::uint32_t>(image.height);
    std::string out;
    out.reserve(62 + image_size);
    append_le16(out, 0x4D42);
    append_le32(out, image_size + 62);
    append_le16(out, 0);
    append_le16(out, 0);
    append_le32(out, 62);
    append_le32(out, 40);
    append_le32(out, static_cast<std::uint32_t>(image.width));
    append_le32(out, static_cast<std::uint32_t>(image.height));
    append_le16(out, 1);
    append_le16(out, 1);
    append_le32(out, 0);
    append_le32(out, image_size);
    for (int i = 0; i < 4; ++i) append_le32(out, 0);
    append_le32(out, 0x00000000);  // index 0: black
    append_le32(out, 0x00FFFFFF);  // index 1: white
    for (int y = image.height - 1; y >= 0; --y)
        out.append(reinterpret_cast<const char*>(image.row(y)), static_cast<std::size_t>(image.stride));
    return out;
}

void pcx_encode_line(const std::uint8_t* bytes, std::size_t count, std::string& out) {
    std::size_t i = 0;
    while (i < count) {
        const std::uint8_t v = bytes[i];
        std::size_t run = 1;
        while (i + run < count && bytes[i + run] == v && run < 63) ++run;
        if (run >= 2) {
            out.push_back(static_cast<char>(0xC0 | run));
        } else if (v >= 0xC0) {
            out.push_back(static_cast<char>(0xC1));
        }
        out.push_back(static_cast<char>(v));
        i += run;
    }
}

std::string encode_pcx(const MonoImage& image) {
    const int bytes_per_line = ((image.width + 15) / 16) * 2;
    std::string out;
    out.push_back(10);
    out.push_back(3);
    out.push_back(1);
    out.push_back(1);
    append_le16(out, 0);
    append_le16(out, 0);
    append_le16(out, static_cast<std::uint16_t>(image.width - 1));
    append_le16(out, static_cast<std::uint16_t>(image.height - 1));
    append_le16(out, static_cast<std::uint16_t>(image.width - 1));
    append_le16(out, static_cast<std::uint16_t>(image.height - 1));
    out.append(48, '\0');
    out.push_back(0);
    out.push_back(1);
    append_le16(out, static_cast<std::uint16_t>(bytes_per_line));
    append_le16(out, 1);
    out.append(58, '\0');
    std::vector<std::uint8_t> line(static_cast<std::size_t>(bytes_per_line), 0xFF);
    const std::size_t copy = std::min<std::size_t>(line.size(), static_cast<std::size_t>(image.stride));
    for (int y = 0; y < image.height; ++y) {
        std::copy(image.row(y), image.row(y) + copy, line.begin());
        pcx_encode_line(line.data(), line.size(), out);
    }
    return out;
}

std::string page_bitmap_file_name(int page_number, BitmapFormat format) {
    return format_string("PAGE%04d.%s", page_number, format == BitmapFormat::Pcx ? "PCX" : "BMP");
}

namespace {
std::atomic<const PageRenderer*> g_renderer{nullptr};
}  // namespace

void set_page_renderer(const PageRenderer* renderer) { g_renderer = renderer; }

const PageRenderer* page_renderer() { return g_renderer; }

bool export_page_bitmaps(const std::vector<const CReportPage*>& pages, const PageFonts& fonts, int width, int height,
                         const std::function<std::string(std::size_t)>& file_name, BitmapFormat format,
                         std::string* error) {
    if (const PageRenderer* renderer = page_renderer())
        return renderer->export_page_bitmaps(pages, fonts, width, height, file_name, format, error);
    if (error) *error = kNoPageRenderer;
    return false;
}

}  // namespace tv
