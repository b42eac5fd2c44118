// Helpers between the application's logic and its windows: the main window's placement in the
// profile, fonts in the profile, walking the open documents and views, window texts.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/qt/application.h"
#include "framework/qt/document.h"
#include "framework/core/draw_context.h"

class QComboBox;
class QLineEdit;
class QWidget;

namespace tv::fw {

// The application's main window: the main frame, else the one set here.
QWidget* main_window();
void set_main_window(QWidget* window);
// The application's active top-level window, else its main window; never another program's.
QWidget* active_or_main_window();

// --- placement: profile "WindowPos" / "Settings", "%u %u %u %u %u %u %u %u %u %u"
struct WindowPlacement {
    std::uint32_t flags = 0, show_cmd = 1;
    Pt min_pos{}, max_pos{};
    Rc normal{};
    bool operator==(const WindowPlacement&) const = default;
};
std::string format_window_placement(const WindowPlacement& wp);
// False when the text is empty. Flags and show command are kept to 16 bits.
bool parse_window_placement(const std::string& text, WindowPlacement& wp);
// Skips blanks, an optional '-', "0x" + hex digits or decimal digits, blanks after; advances.
long long parse_int_token(const char*& cursor);

// Reads the window's placement (nullptr = main window); its show command is 3 when maximised,
// 2 when minimised, 0 when hidden, else 1.
WindowPlacement get_window_placement(QWidget* window);
// Applies: maximised for show command 3, else normal, with the normal rectangle.
void set_window_placement(QWidget* window, const WindowPlacement& wp);
bool save_window_placement(QWidget* window = nullptr);
// Restores a usable saved placement; only "normal" (1) and "maximised" (3) are ever restored,
// any other saved show command reads as normal. The main window is shown; a given window that
// has nothing usable is centred and shown normally.
void restore_window_placement(QWidget* window = nullptr);
// With a window: the rectangle must have its current size. Then usable when a corner lies on a
// screen (top-left, top-right, bottom-left, bottom-right).
bool is_saved_rect_usable(QWidget* window, const Rc& rect);

// --- fonts in the profile: "height", "weight", "italic", "strike", "charset", "typeface"
struct LogFont {
    int height = 0, weight = 400;
    bool italic = false, strike = false;
    int charset = 0;
    std::string face;  // at most 31 characters
    bool operator==(const LogFont&) const = default;
};
bool write_profile_font(const std::string& section, const LogFont& font);
// Each entry defaults to the structure's current value.
void read_profile_font(const std::string& section, LogFont& font);

// --- document walkers over every template of the current application
// Stops at the first non-zero result and returns it; 0 when all were visited.
int for_each_document(const std::function<int(Document&)>& callback);
int for_each_view(const std::function<int(View&)>& callback);
int count_documents();
template <class T>
T* find_view_of_class() {
    T* found = nullptr;
    for_each_view([&](View& v) {
        found = dynamic_cast<T*>(&v);
        return found ? 1 : 0;
    });
    return found;
}

// --- long texts in boxes (paths, certificate names): shown whole where the screen allows
// The widest a box grows for its text: half the width of the screen it is on.
int long_text_width_cap(const QWidget* box);
// The box as wide as its longest item up to long_text_width_cap; an item longer than that shows
// with its middle elided. Each item's whole text is its tooltip, and the box's tooltip that of the
// current item. Called again after the box was filled anew.
void fit_items_whole(QComboBox* box);
// The field wide enough for its text up to long_text_width_cap (it scrolls beyond), with the
// whole text as its tooltip, as the text changes.
void fit_field_to_text(QLineEdit* field);

}  // namespace tv::fw
