// The card program's user-interface texts, its message boxes and its diagnostic trace.
#pragma once
#include <string>

#include "common/ui.h"

namespace tv::vond {

// The text of a string-table entry of the card program.
std::string message_text(unsigned id);
// Shows string `id` (printf arguments are filled in by the caller with format_message).
// Every message leaves a "message <id>" line in the trace, so hidden runs can be followed.
MsgResult show_message(unsigned id, MsgIcon icon, MsgButtons buttons, const std::string& text = {});
std::string format_message(unsigned id, ...);

// Diagnostic output, never shown to the user: on stderr when VOND_TRACE is set (and not "0"), else nowhere.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The analysis system's main window (title "Quorril", any class). Without that window nothing
// happens and the notification returns 0; otherwise it returns the window's answer to
// "MSG_TOLBEX_CLOSED" (0 when the send failed or timed out).
void minimise_analysis_window();
int notify_analysis_window();
// A message box of the card and ECG operations: the analysis window is minimised first, so the box
// is not hidden behind it, and told "MSG_TOLBEX_CLOSED" afterwards when `notify` is set.
MsgResult show_card_message(unsigned id, MsgIcon icon, MsgButtons buttons, bool notify, const std::string& text = {});

}  // namespace tv::vond
