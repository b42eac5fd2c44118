// The programs' icon, drawn here rather than read from the installed picture, so that every
// window carries it whatever image plugins the machine has, and a build folder's programs too.
#pragma once
#include <QIcon>

namespace tv::fw {

// The workstation's icon (an ECG trace on chart paper) at the sizes a window manager and a task
// bar ask for.
QIcon program_icon();

// Gives the running QApplication the icon, which every window without one of its own (the inner
// document windows included) then carries, and, when `desktop_entry` is not empty, the desktop
// entry ("torvane-tolbex") a task bar ties its windows to.
void set_program_identity(const char* desktop_entry);

}  // namespace tv::fw
