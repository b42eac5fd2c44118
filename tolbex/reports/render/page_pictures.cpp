// Page pictures through Qt's raster painter: they need real fonts.
#include "tolbex/reports/render/page_render.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "framework/qt/painter_draw_context.h"
#include "platform/fs.h"
#include "tolbex/reports/page_workers.h"
#include "tolbex/reports/report_page.h"

namespace tv {
namespace {

// Each thread paints its own picture, so pages render on several threads at once (Qt paints on
// a QImage and rasterises fonts on any thread). One picture per thread and size, reused: a fresh
// 9 MB picture per page costs more in page faults than the drawing itself.
QImage& render_qimage(const CReportPage& page, const PageFonts& fonts, int width, int height) {
    ensure_render_application();
    thread_local QImage image;
    if (image.width() != width || image.height() != height) image = QImage(width, height, QImage::Format_Grayscale8);
    image.fill(0xFF);
    {
        QPainter painter(&image);
        fw::PainterDrawContext dc(painter, fw::DrawContext::Kind::Bitmap);
        map_page_to_device(dc, {0, 0, width, height});
        page.draw(dc, fonts);
    }
    return image;
}

MonoImage mono_from_qimage(const QImage& image) {
    const int width = image.width(), height = image.height();
    MonoImage m = MonoImage::white(width, height);
    const int whole = width / 8;
    for (int y = 0; y < height; ++y) {
        const uchar* line = image.constScanLine(y);
        std::uint8_t* out = m.bits.data() + static_cast<std::size_t>(y) * m.stride;
        // A grey of 128 or more is white: its top bit is the picture's bit. No branches, so the
        // compiler packs many pixels at a time.
        for (int b = 0; b < whole; ++b) {
            const uchar* eight = line + b * 8;
            unsigned byte = 0;
            for (int i = 0; i < 8; ++i) byte |= static_cast<unsigned>(eight[i] >> 7) << (7 - i);
            out[b] = static_cast<std::uint8_t>(byte);
        }
        if (const int rest = width - whole * 8) {
            unsigned byte = 0xFF;
            for (int i = 0; i < rest; ++i)
                if (line[whole * 8 + i] < 128) byte &= ~(0x80u >> i);
            out[whole] = static_cast<std::uint8_t>(byte);
        }
    }
    return m;
}

bool valid_picture_size(int width, int height, std::string* error) {
    if (width > 0 && height > 0 && width <= 32767 && height <= 32767) return true;
    if (error) *error = "Invalid picture size.";
    return false;
}

std::string encode(const MonoImage& image, BitmapFormat format) {
    return format == BitmapFormat::Pcx ? encode_pcx(image) : encode_bmp(image);
}

bool write_picture(const std::string& file_name, const std::string& bytes, std::string* error) {
    if (platform::atomic_write_file(file_name, bytes)) return true;
    if (error) *error = "Cannot write the file " + file_name + ".";
    return false;
}

}  // namespace

void ensure_render_application() {
    if (QCoreApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tolbex";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

MonoImage render_page_mono(const CReportPage& page, const PageFonts& fonts, int width, int height) {
    return mono_from_qimage(render_qimage(page, fonts, width, height));
}

bool export_page_bitmap(const CReportPage& page, const PageFonts& fonts, int width, int height,
                        const std::string& file_name, BitmapFormat format, std::string* error) {
    if (!valid_picture_size(width, height, error)) return false;
    return write_picture(file_name, encode(render_page_mono(page, fonts, width, height), format), error);
}

bool write_page_bitmaps(const std::vector<const CReportPage*>& pages, const PageFonts& fonts, int width, int height,
                        const std::function<std::string(std::size_t)>& file_name, BitmapFormat format,
                        std::string* error) {
    if (pages.empty()) return true;
    if (!valid_picture_size(width, height, error)) return false;
    ensure_render_application();
    // Each page is rendered and encoded on a worker, which then waits for its turn and writes it:
    // files go out in page order, the write of one overlaps the drawing of the next, and no more
    // pages are held than there are workers.
    std::mutex mutex;
    std::condition_variable turn_changed;
    std::size_t turn = 0;
    bool stop = false;  // a write or a page failed: no further file is written
    bool ok = true;
    for_each_page_parallel(pages.size(), [&](std::size_t i) {
        {
            const std::lock_guard lock(mutex);
            if (stop) return;
        }
        std::string bytes;
        try {
            bytes = encode(render_page_mono(*pages[i], fonts, width, height), format);
        } catch (...) {
            const std::lock_guard lock(mutex);
            stop = true;
            turn_changed.notify_all();
            throw;
        }
        std::unique_lock lock(mutex);
        turn_changed.wait(lock, [&] { return stop || turn == i; });
        if (stop) return;
        // Pages before this one are written and the later ones wait: this write is alone.
        lock.unlock();
        const bool written = write_picture(file_name(i), bytes, error);
        lock.lock();
        if (written) {
            ++turn;
        } else {
            ok = false;
            stop = true;
        }
        turn_changed.notify_all();
    });
    return ok;
}

}  // namespace tv
