// tvdemo [--force-check]: makes the demo root under TORVANE_ROOT when it is missing, and the tape
// trace that tools/deck-sim plays for the tape commands.
#include <cstdio>
#include <string>

#include "common/ui.h"
#include "tools/demo/demo_root.h"
#include "tools/demo/demo_tape.h"
#include "tolbex/app/tolbex_strings.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::printf("usage: tvdemo\nMakes the demo archive groups under TORVANE_ROOT when they are missing.\n");
            return 0;
        }
        std::fprintf(stderr, "tvdemo: unknown argument %s\n", argv[i]);
        return 2;
    }
    tv::register_tolbex_strings();
    tv::ConsoleUi console;
    tv::set_ui(&console);
    std::string error;
    if (!tv::demo::make_demo_tape(&error)) {
        std::fprintf(stderr, "tvdemo: %s\n", error.c_str());
        return 1;
    }
    std::printf("tvdemo: tape for the simulated deck: %s\n", tv::demo::demo_tape_path().c_str());
    if (tv::demo::demo_root_exists()) {
        std::printf("tvdemo: the demo root exists (%s)\n", tv::demo::device_dat_path().c_str());
        return 0;
    }
    tv::demo::DemoSummary summary;
    if (!tv::demo::make_demo_root(&summary, &error)) {
        std::fprintf(stderr, "tvdemo: %s\n", error.c_str());
        return 1;
    }
    std::printf("tvdemo: %d reports in %zu archive groups\n", summary.reports, summary.group_folders.size());
    for (const auto& g : summary.group_folders) std::printf("  %s\n", g.c_str());
    return 0;
}
