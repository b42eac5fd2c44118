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

// Diagnostic output (stderr), never shown to the user.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The analysis system's main window. The window-socket layer is wired in later; until then
// there is no such window: nothing is minimised and a notification returns 0.
void minimise_analysis_window();
int notify_analysis_window();

}  // namespace tv::vond
