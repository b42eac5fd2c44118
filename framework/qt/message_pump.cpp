#include "framework/qt/message_pump.h"

#include <QApplication>
#include <QCursor>
#include <QPointer>

#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/wait_cursor.h"

namespace tv::fw {

void QtMessagePump::pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); }

void QtMessagePump::restore_wait_cursor() {
    if (wait_cursor_depth() > 0 && qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        !QApplication::overrideCursor())
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtMessagePump::begin_wait_cursor() { fw::begin_wait_cursor(); }
void QtMessagePump::end_wait_cursor() { fw::end_wait_cursor(); }

void QtMessagePump::child_runs_changed() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app,
        [] {
            Application* fwapp = Application::current();
            if (MainFrame* frame = fwapp ? fwapp->main_frame() : nullptr) frame->update_command_ui();
        },
        Qt::QueuedConnection);
}

namespace {
QtMessagePump* g_installed = nullptr;
}  // namespace

ScopedMessagePump::ScopedMessagePump() {
    // The runner reads the installed pump; only one is ever installed by these scopes.
    if (g_installed) return;
    set_message_pump(&pump_);
    g_installed = &pump_;
    installed_ = true;
}

ScopedMessagePump::~ScopedMessagePump() {
    if (!installed_) return;
    set_message_pump(nullptr);
    g_installed = nullptr;
}

}  // namespace tv::fw
