// A dialog's rules live in a core class that a test drives without a window: the dialog calls
// init() when it opens, ok() on OK (after data exchange; false keeps it open) and cancel().
// Messages go through ui(). No Qt.
#pragma once

namespace tv::fw {

class DialogRules {
public:
    virtual ~DialogRules() = default;
    virtual void init() {}
    virtual bool ok() { return true; }
    virtual void cancel() {}
};

}  // namespace tv::fw
