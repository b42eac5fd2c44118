// Holding a stop until a change to a folder is whole or undone. While a DeferredStop lives,
// SIGTERM and SIGINT only mark the stop as asked for: the change sees requested(), stops at its
// next step and puts the folder back. When the outermost one goes, the signal is raised again
// and takes the course it had before (the process ends by it, or the window's own handler runs).
// For the main thread's all-or-nothing work; the handlers are the process's.
#pragma once

namespace tv {

class DeferredStop {
public:
    DeferredStop();
    ~DeferredStop();
    DeferredStop(const DeferredStop&) = delete;
    DeferredStop& operator=(const DeferredStop&) = delete;

    // True when a stop came while one lives.
    static bool requested();
};

}  // namespace tv
