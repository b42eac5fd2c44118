#include "framework/qt/wait_cursor.h"

#include <QApplication>
#include <QCursor>

namespace tv::fw {
namespace {
int g_depth = 0;
}  // namespace

void begin_wait_cursor() {
    ++g_depth;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void end_wait_cursor() {
    if (g_depth == 0) return;
    --g_depth;
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::restoreOverrideCursor();
}

int wait_cursor_depth() { return g_depth; }

}  // namespace tv::fw
