#include "tolbex/browser/ui/browser_data_view.h"

#include <algorithm>

#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextOption>
#include <QVBoxLayout>

#include "framework/qt/qt_text.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"

namespace tv::gui {
namespace {

constexpr int kMargin = 8;
constexpr int kMinWidth = 600;
constexpr int kMinHeight = 50;
constexpr int kTabChars = 25;

QString pane_text(const std::string& cp1252) {
    std::string text;
    text.reserve(cp1252.size());
    for (char c : cp1252)
        if (c != '\r') text.push_back(c);
    return to_qstring(text);
}

int tab_distance(const QFontMetrics& fm) { return kTabChars * fm.averageCharWidth(); }

}  // namespace

class BrowserDataView::Canvas : public QWidget {
public:
    explicit Canvas(BrowserDataView& view) : view_(view) {
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Base);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QTextOption option;
        option.setWrapMode(QTextOption::WordWrap);
        option.setTabStopDistance(tab_distance(fontMetrics()));
        const QRectF box(kMargin, kMargin, width() - 2 * kMargin, height() - 2 * kMargin);
        p.drawText(box, pane_text(view_.display_text()), option);
    }

private:
    BrowserDataView& view_;
};

BrowserDataView::BrowserDataView(CBrowserListDoc& doc, QWidget* parent)
    : fw::View(parent), doc_(doc), scroll_(new QScrollArea(this)), canvas_(new Canvas(*this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);
    scroll_->setWidget(canvas_);
    scroll_->setWidgetResizable(false);
    resize(400, 500);
    layout_text();
}

BrowserDataView::~BrowserDataView() = default;

std::string BrowserDataView::display_text() const {
    const BrowserListCore& core = doc_.core();
    return core.get_current_row() != -1 ? core.get_current_details() : std::string(kNoSingleItemText);
}

void BrowserDataView::layout_text() {
    const int width = std::max(scroll_->viewport()->width(), kMinWidth) - 2 * kMargin;
    const QFontMetrics fm = canvas_->fontMetrics();
    const QRect needed = fm.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap | Qt::TextExpandTabs,
                                         pane_text(display_text()), tab_distance(fm));
    total_ = QSize(std::max(width, kMinWidth) + 2 * kMargin, std::max(needed.height(), kMinHeight) + 2 * kMargin);
    canvas_->resize(total_);
    scroll_->horizontalScrollBar()->setSingleStep(16);
    scroll_->verticalScrollBar()->setSingleStep(fm.lineSpacing());
    canvas_->update();
}

void BrowserDataView::on_initial_update() { layout_text(); }

void BrowserDataView::on_update(fw::View*, long, void*) { layout_text(); }

void BrowserDataView::resizeEvent(QResizeEvent* event) {
    fw::View::resizeEvent(event);
    layout_text();
}

}  // namespace tv::gui
