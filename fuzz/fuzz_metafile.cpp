// Enhanced metafiles: the header check and the player, on a recording draw context.
#include <cstdint>

#include "framework/core/recording_draw_context.h"
#include "fuzz/fuzz_support.h"
#include "tolbex/reports/metafile_player.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    auto emf = tv::EmfFile::parse(std::string(reinterpret_cast<const char*>(data), size));
    if (!emf) return 0;
    tv::fw::RecordingDrawContext dc;
    dc.set_map_mode(tv::fw::MapMode::Anisotropic);
    dc.set_window_ext({2100, 2970});
    dc.set_viewport_ext({2496, 3520});
    tv::play_metafile(dc, *emf, tv::fw::Rc{0, 0, 2100, 2970});
    return 0;
}
