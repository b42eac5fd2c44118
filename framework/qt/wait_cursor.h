// The wait cursor for the lifetime of an object; nests. Does nothing without a QApplication.
#pragma once

namespace tv::fw {

void begin_wait_cursor();
void end_wait_cursor();
int wait_cursor_depth();

class WaitCursor {
public:
    WaitCursor() { begin_wait_cursor(); }
    ~WaitCursor() { end_wait_cursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace tv::fw
