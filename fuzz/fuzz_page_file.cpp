// Page files: the record parser, then every item drawn, hit-tested and written back, on a
// recording draw context (no window system).
#include <cstdint>

#include "framework/core/recording_draw_context.h"
#include "fuzz/fuzz_support.h"
#include "tolbex/reports/page_items.h"
#include "tolbex/reports/rtf_export.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    if (size == 0) return 0;
    const bool oem = data[0] & 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    tv::PageFileContents page = tv::parse_page_file(bytes, oem);
    static const tv::PageFonts fonts = tv::default_page_fonts();
    tv::fw::RecordingDrawContext dc;
    dc.set_map_mode(tv::fw::MapMode::Anisotropic);
    dc.set_window_ext({8000, 11000});
    dc.set_viewport_ext({2496, 3520});
    tv::PageDrawState state;
    tv::RtfWriter rtf;
    for (const auto& item : page.items) {
        item->draw(dc, fonts, state);
        (void)item->hit_test(dc, fonts, {100, 100});
        (void)item->record_bytes(oem);
        item->write_rtf(rtf);
        if (dc.commands().size() > 4096) dc.clear();
    }
    return 0;
}
