// The Qt implementation of Ui: QMessageBox, parented on the application's active window.
// A test hook receives the built box and answers in place of the user.
#pragma once
#include <functional>

#include <QMessageBox>

#include "common/ui.h"

namespace tv::fw {

class QtUi : public Ui {
public:
    // Returns the button the "user" pressed.
    using Hook = std::function<QMessageBox::StandardButton(QMessageBox&)>;
    MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
                          MsgDefault def = MsgDefault::First) override;
    void set_hook(Hook hook) { hook_ = std::move(hook); }

private:
    Hook hook_;
};

// Whether windows can be shown: a display (DISPLAY, WAYLAND_DISPLAY) or a chosen platform
// (QT_QPA_PLATFORM, offscreen in tests) is set. Qt ends the process when it finds none.
bool display_available();

// Maps a pressed button to the Ui result (Escape/close gives the safe answer).
MsgResult to_msg_result(QMessageBox::StandardButton button, MsgButtons buttons);

}  // namespace tv::fw
