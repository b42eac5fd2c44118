// The patient-details pane of an archive browser: the details text of the selected report,
// word-wrapped with tab stops every 25 average character widths, in a scrollable area at least
// 616 by 66 pixels.
#pragma once
#include <string>

#include <QSize>

#include "framework/qt/document.h"

class QScrollArea;

namespace tv::gui {

class CBrowserListDoc;

inline constexpr const char* kNoSingleItemText = "No Single Item Selected";

class BrowserDataView : public fw::View {
public:
    explicit BrowserDataView(CBrowserListDoc& doc, QWidget* parent = nullptr);
    ~BrowserDataView() override;

    // The details text when a report's details are shown, else "No Single Item Selected".
    std::string display_text() const;
    // Measures the text for the current width and sizes the scrollable area; then repaints.
    void layout_text();
    // The scrollable area's size (the layout's result).
    QSize total_size() const { return total_; }
    QScrollArea* scroll_area() const { return scroll_; }

    void on_initial_update() override;
    void on_update(fw::View* sender, long hint, void* extra) override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class Canvas;
    CBrowserListDoc& doc_;
    QScrollArea* scroll_;
    Canvas* canvas_;
    QSize total_{600, 50};
};

}  // namespace tv::gui
