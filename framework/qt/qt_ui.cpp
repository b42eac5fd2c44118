#include "framework/qt/qt_ui.h"

#include <cstdlib>

#include <QApplication>

#include "framework/qt/qt_text.h"
#include "framework/qt/window_helpers.h"

namespace tv::fw {

MsgResult to_msg_result(QMessageBox::StandardButton button, MsgButtons buttons) {
    switch (button) {
        case QMessageBox::Ok: return MsgResult::Ok;
        case QMessageBox::Yes: return MsgResult::Yes;
        case QMessageBox::No: return MsgResult::No;
        case QMessageBox::Retry: return MsgResult::Retry;
        case QMessageBox::Cancel: return MsgResult::Cancel;
        default: return safe_answer(buttons);
    }
}

namespace {

QMessageBox::StandardButton to_standard_button(MsgResult answer) {
    switch (answer) {
        case MsgResult::Ok: return QMessageBox::Ok;
        case MsgResult::Cancel: return QMessageBox::Cancel;
        case MsgResult::Yes: return QMessageBox::Yes;
        case MsgResult::No: return QMessageBox::No;
        case MsgResult::Retry: return QMessageBox::Retry;
    }
    return QMessageBox::Ok;
}

}  // namespace

MsgResult QtUi::message_box(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
                            MsgDefault def) {
    if (!qApp) return safe_answer(buttons);
    QMessageBox box(active_or_main_window());
    box.setText(to_qstring(text));
    box.setTextFormat(Qt::PlainText);
    std::string title = caption;
    if (title.empty()) title = from_qstring(QApplication::applicationDisplayName());
    box.setWindowTitle(to_qstring(title));
    switch (icon) {
        case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
        case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    }
    QMessageBox::StandardButtons set;
    QMessageBox::StandardButton escape = QMessageBox::Cancel;
    switch (buttons) {
        case MsgButtons::Ok:
            set = QMessageBox::Ok;
            escape = QMessageBox::Ok;
            break;
        case MsgButtons::OkCancel: set = QMessageBox::Ok | QMessageBox::Cancel; break;
        case MsgButtons::YesNo:
            set = QMessageBox::Yes | QMessageBox::No;
            escape = QMessageBox::No;
            break;
        case MsgButtons::YesNoCancel: set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
        case MsgButtons::RetryCancel: set = QMessageBox::Retry | QMessageBox::Cancel; break;
    }
    box.setStandardButtons(set);
    box.setEscapeButton(escape);
    // Named every time, not left to the toolkit, whose own choice need not be the first button.
    box.setDefaultButton(to_standard_button(default_button(buttons, def)));
    if (hook_) return to_msg_result(hook_(box), buttons);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    return to_msg_result(clicked ? box.standardButton(clicked) : escape, buttons);
}

bool display_available() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace tv::fw
