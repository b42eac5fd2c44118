// tolbex. The command line is read before anything of the window toolkit is built: a hidden
// start with an action runs that action without a window and answers with its exit code.
// What would be a message box goes to stderr and every question takes its safe answer.
#include <cstdio>
#include <string>
#include <vector>

#include "tolbex/app/command_line.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"

namespace {

// A start that needs the main window.
int run_with_main_window(const std::vector<std::string>&) {
    std::fprintf(stderr, "tolbex: the windowed program is not available in this build; "
                         "only hidden command-line actions run.\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    tv::register_tolbex_strings();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tv::expand_parameter_files(args);
    bool preview = false;
    if (tv::prescan_show_state(args, preview) != tv::kShowHidden || !tv::has_command_line_action(args))
        return run_with_main_window(args);

    tv::CTolbexApp app;
    if (!app.init_instance_headless(std::move(args), true)) return app.exit_code == 0 ? 1 : app.exit_code & 0xFF;
    // The process status holds 8 bits: "/find" errors -1..-4 leave as 255..252.
    return app.exit_instance() & 0xFF;
}
