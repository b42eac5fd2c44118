#include "framework/qt/program_icon.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <iterator>

namespace tv::fw {
namespace {

// The picture of desktop/torvane-tolbex.svg, on its 48-unit grid.
QPixmap draw_icon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    p.setPen(QPen(QColor(0x2f, 0x5f, 0x7f), 2));
    p.setBrush(QColor(0xf4, 0xf7, 0xf9));
    p.drawRoundedRect(QRectF(3, 5, 42, 38), 4, 4);
    p.setPen(QPen(QColor(0xe7, 0xa9, 0xa9), 0.8));
    for (double y : {16.0, 28.0, 40.0}) p.drawLine(QPointF(3, y), QPointF(45, y));
    for (double x : {15.0, 27.0, 39.0}) p.drawLine(QPointF(x, 5), QPointF(x, 43));
    static const QPointF trace[] = {{5, 27},  {13, 27}, {16, 22}, {19, 27}, {22, 27}, {25, 9},
                                    {28, 36}, {31, 27}, {35, 27}, {37, 24}, {39, 27}, {43, 27}};
    p.setPen(QPen(QColor(0xb3, 0x12, 0x2e), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(trace, static_cast<int>(std::size(trace)));
    return pixmap;
}

}  // namespace

QIcon program_icon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(draw_icon(size));
    return icon;
}

void set_program_identity(const char* desktop_entry) {
    QGuiApplication::setWindowIcon(program_icon());
    if (desktop_entry && *desktop_entry) QGuiApplication::setDesktopFileName(QString::fromUtf8(desktop_entry));
}

}  // namespace tv::fw
