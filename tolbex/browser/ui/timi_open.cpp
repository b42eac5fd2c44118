#include "tolbex/browser/ui/timi_open.h"

namespace tv::gui {

namespace {
TimiOpener& opener_slot() {
    static TimiOpener opener;
    return opener;
}
}  // namespace

void set_timi_opener(TimiOpener opener) { opener_slot() = std::move(opener); }
const TimiOpener& timi_opener() { return opener_slot(); }

}  // namespace tv::gui
