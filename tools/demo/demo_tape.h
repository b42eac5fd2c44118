// The demo's tape: a deck trace of a two-hour Wendle 3 recording for tools/deck-sim, so that the
// tape commands can read a tape on the demo root (deck-sim plays it; KELMOTH reads it).
#pragma once
#include <string>

namespace tv::demo {

// <machine root>/demo/tape.trace, and its expectations beside it (tape.trace.expect).
std::string demo_tape_path();
// Writes the trace unless it exists; false with `error` when it cannot.
bool make_demo_tape(std::string* error);

}  // namespace tv::demo
