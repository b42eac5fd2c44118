// The TIMI grid in a window, made one way for the TIMI window and the grid demo: the TIMI rules on
// the window layer's control, set up as the control is created, the columns fitted on a screen
// context of its own after every load, and typing on the cells selecting rows instead of editing.
#pragma once
#include <QImage>
#include <functional>
#include <memory>

#include "tolbex/timi/grid/ui/grid_widget.h"
#include "tolbex/timi/timi_grid_wnd.h"

class QPainter;

namespace tv {

namespace fw {
class PainterDrawContext;
}  // namespace fw

// The grid window in a window: the TIMI rules on the window layer's control.
using TIMIGridWindow = TIMIGridWndOf<GridWindowCtrl>;

class TIMIGridWidget : public GridWidget {
public:
    // The hooks (see TIMIGridWndOf::set_document_hooks) are in place before the set-up, which
    // already hands its empty table to `set_data`.
    explicit TIMIGridWidget(std::function<void(TimiData*)> set_data = {}, std::function<void()> modified = {},
                            QWidget* parent = nullptr);
    ~TIMIGridWidget() override;

    TIMIGridWindow& timi_grid() { return *timi_; }

private:
    TIMIGridWindow* timi_;  // owned by the widget
    QImage measure_image_{1, 1, QImage::Format_RGB32};
    std::unique_ptr<QPainter> measure_painter_;
    std::unique_ptr<fw::PainterDrawContext> measure_;
};

}  // namespace tv
