// The letters stored with a report, and handing a document to the desktop's word processor.
#pragma once
#include <string>
#include <vector>

namespace tv::letters {

// The report folder's letters: regular files named *.doc (any case), sorted by name.
std::vector<std::string> list_letters(const std::string& report_folder);

// Whether a desktop is there to show documents on ($DISPLAY or $WAYLAND_DISPLAY set).
bool desktop_present();

enum class OpenResult { Started, NotStarted, NoProgram };

// Opens the document with the desktop's opener (xdg-open, as one argument, no shell); the opener
// is reaped in the background. xdg-open says nothing to us when no program takes the document's
// type, so that is asked first (xdg-mime): NoProgram when the desktop names none, NotStarted
// when the opener could not be started. When xdg-mime cannot tell, the opener is tried.
OpenResult open_document(const std::string& path);

}  // namespace tv::letters
