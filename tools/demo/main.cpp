// tvdemo [--media [--recording N]]: makes the demo root under TORVANE_ROOT when it is missing, and
// the tape trace that tools/deck-sim plays for the tape commands; --media writes the recorder card
// and disk again (a card that was read is marked as read), the card at recording N (5; from 65,000
// on a read empties it).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "tools/demo/demo_recordings.h"
#include "tools/demo/demo_root.h"
#include "tools/demo/demo_tape.h"
#include "tolbex/app/tolbex_strings.h"

int main(int argc, char** argv) {
    bool media_only = false;
    unsigned recording = tv::demo::kDemoCardRecording;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::printf(
                "usage: tvdemo [--media [--recording N]]\nMakes the demo archive groups under TORVANE_ROOT when "
                "they are missing;\n--media writes the demo recorder card and disk again, the card at recording N "
                "(1 to 65535).\n");
            return 0;
        }
        if (a == "--media") {
            media_only = true;
            continue;
        }
        if (a == "--recording" && i + 1 < argc) {
            const std::string n = argv[++i];
            const tv::ParsedInteger p = tv::parse_integer(n, 1, 65535);
            if (!p.whole(n.size())) {
                std::fprintf(stderr, "tvdemo: --recording takes a number from 1 to 65535, not %s\n", n.c_str());
                return 2;
            }
            recording = static_cast<unsigned>(p.value);
            continue;
        }
        std::fprintf(stderr, "tvdemo: unknown argument %s\n", argv[i]);
        return 2;
    }
    // Without TORVANE_ROOT every program uses the machine's own state: the demo never goes there,
    // it takes run-demo's default root instead (a reader's new terminal has no TORVANE_ROOT).
    if (const char* root = std::getenv("TORVANE_ROOT"); !root || !*root) {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            std::fprintf(stderr, "tvdemo: set TORVANE_ROOT to the demo root (neither it nor HOME is set)\n");
            return 2;
        }
        const std::string fallback = std::string(home) + "/.local/share/torvane-demo";
        if (!tv::create_folder_path(fallback) || ::setenv("TORVANE_ROOT", fallback.c_str(), 1) != 0) {
            std::fprintf(stderr, "tvdemo: cannot make the demo root %s\n", fallback.c_str());
            return 1;
        }
        std::printf("tvdemo: TORVANE_ROOT is not set: the demo root is %s, as run-demo has it\n", fallback.c_str());
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
    // Every run, on an old root too: the programs may have been built since it was made.
    const auto registered = [] {
        for (const std::string& name : tv::demo::register_demo_programs())
            std::fprintf(stderr,
                         "tvdemo: %s is neither beside tvdemo nor in the build tree: build it, run tvdemo again\n",
                         name.c_str());
        return 0;
    };
    if (media_only) {
        tv::demo::DemoMedia media;
        if (!tv::demo::make_demo_media(&media, &error, recording)) {
            std::fprintf(stderr, "tvdemo: %s\n", error.c_str());
            return 1;
        }
        std::printf("tvdemo: recorder card %s (K:), recorder disk %s (L:)\n", media.card_folder.c_str(),
                    media.disk_folder.c_str());
        return registered();
    }
    if (tv::demo::demo_root_exists()) {
        std::printf("tvdemo: the demo root exists (%s)\n", tv::demo::device_dat_path().c_str());
        return registered();
    }
    tv::demo::DemoSummary summary;
    if (!tv::demo::make_demo_root(&summary, &error)) {
        std::fprintf(stderr, "tvdemo: %s\n", error.c_str());
        return 1;
    }
    std::printf("tvdemo: %d reports in %zu archive groups\n", summary.reports, summary.group_folders.size());
    for (const auto& g : summary.group_folders) std::printf("  %s\n", g.c_str());
    return registered();
}
