// KELMOTH: reads a replayed tape from the deck into the named mappings; the exit code is its result.
#include <cstdio>
#include <string>
#include <vector>

#include "kelmoth/kelmoth.h"

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    tv::kelmoth::install_stop_signals();
    tv::kelmoth::Kelmoth k;
    k.driver = &tv::platform::socket_deck_driver();
    std::vector<std::string> args(argv + 1, argv + argc);
    return tv::kelmoth::kelmoth_main(k, args);
}
