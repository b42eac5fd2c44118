#include "tolbex/timi/ui/timi_grid_widget.h"

#include <QPainter>

#include "framework/qt/painter_draw_context.h"

namespace tv {

namespace {

std::unique_ptr<TIMIGridWindow> make_control(std::function<void(TimiData*)> set_data, std::function<void()> modified) {
    auto ctrl = std::make_unique<TIMIGridWindow>();
    ctrl->set_document_hooks(std::move(set_data), std::move(modified));
    return ctrl;
}

}  // namespace

TIMIGridWidget::TIMIGridWidget(std::function<void(TimiData*)> set_data, std::function<void()> modified, QWidget* parent)
    : GridWidget(make_control(std::move(set_data), std::move(modified)), parent),
      timi_(static_cast<TIMIGridWindow*>(&grid())) {
    measure_painter_ = std::make_unique<QPainter>(&measure_image_);
    measure_ = std::make_unique<fw::PainterDrawContext>(*measure_painter_, fw::DrawContext::Kind::Screen);
    timi_->set_measure_context(measure_.get());
    set_edit_on_typing(false);
    timi_->created();
}

TIMIGridWidget::~TIMIGridWidget() {
    // The context goes before the control, which the base class deletes.
    timi_->set_measure_context(nullptr);
}

}  // namespace tv
