// The window thread's message pump for waits that run other programs (common/runner.h): handles
// queued events, keeps the wait cursor, and refreshes the main frame's commands when a guarded
// wait begins or ends.
#pragma once
#include "common/runner.h"

namespace tv::fw {

class QtMessagePump : public MessagePump {
public:
    void pump() override;
    void restore_wait_cursor() override;
    void begin_wait_cursor() override;
    void end_wait_cursor() override;
    // Queued to the window thread: the guard may change on another thread.
    void child_runs_changed() override;
};

// Installs a QtMessagePump for the object's lifetime when none is installed yet.
class ScopedMessagePump {
public:
    ScopedMessagePump();
    ~ScopedMessagePump();
    ScopedMessagePump(const ScopedMessagePump&) = delete;
    ScopedMessagePump& operator=(const ScopedMessagePump&) = delete;

private:
    QtMessagePump pump_;
    bool installed_ = false;
};

}  // namespace tv::fw
