// The BMP decoder, as a page draws it: a bitmap shape of a page file names the BMP file in the
// page's folder.
#include <cstdint>

#include "framework/core/recording_draw_context.h"
#include "fuzz/fuzz_support.h"
#include "tolbex/reports/page_items.h"
#include "tolbex/reports/report_page.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("page");
    static const std::unique_ptr<tv::CReportPage> page = tv::CReportPage::make_builtin(folder + "PAGE.0");
    static const tv::PageFonts fonts = tv::default_page_fonts();
    tv::fuzz::put_file(folder + "SHAPE.BMP", data, size);
    tv::ShapeData shape;
    shape.code = static_cast<std::uint32_t>(tv::ShapeCode::Bitmap);
    shape.x1 = 100;
    shape.y1 = 100;
    shape.x2 = 900;
    shape.y2 = 500;
    shape.file_name = "shape.bmp";  // found without regard to case
    const tv::PageItem item(tv::PageRecordKind::Shape, shape, page.get());
    tv::fw::RecordingDrawContext dc;
    tv::PageDrawState state;
    item.draw(dc, fonts, state);
    return 0;
}
