// tolbex. The command line is read before anything of the window toolkit is built: a hidden
// start with an action runs that action without a window and answers with its exit code.
// What would be a message box goes to stderr and every question takes its safe answer, unless
// the action needs the operator and brings up its own windows for that (a "/compresscf" to confirm).
#include <clocale>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <memory>
#include <utility>
#include <vector>

#include "tolbex/app/command_line.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/intake/ui/intake_dialogs.h"
#include "tolbex/reports/render/page_render.h"

#include <QApplication>
#include <QSocketNotifier>

#include "common/files.h"
#include "common/ui.h"
#include "framework/qt/message_pump.h"
#include "framework/qt/program_icon.h"
#include "framework/qt/qt_ui.h"

namespace {

// A desktop logout ends us with SIGTERM (SIGHUP where the terminal goes): the window's event loop
// ends as after a close, so that the exit step writes its end entry and our folders go.
int g_stop_pipe[2] = {-1, -1};
bool g_stopping = false;  // a stop before the main loop runs: the loop is not started
void on_stop_signal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_stop_pipe[1], &c, 1);
}

class StopSignals {
public:
    StopSignals() {
        if (::pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        notifier_ = std::make_unique<QSocketNotifier>(g_stop_pipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [] {
            char drain[16];
            while (::read(g_stop_pipe[0], drain, sizeof drain) > 0) {}
            g_stopping = true;
            QCoreApplication::quit();
        });
        struct sigaction action {};
        action.sa_handler = on_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int sig : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(sig, &action, nullptr);
    }
    ~StopSignals() {
        for (int sig : {SIGTERM, SIGHUP, SIGINT}) std::signal(sig, SIG_DFL);
        notifier_.reset();
        for (int& fd : g_stop_pipe)
            if (fd >= 0) ::close(std::exchange(fd, -1));
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

// A start that needs the main window; the toolkit is built here for it.
int run_with_main_window(int argc, char** argv, std::vector<std::string> args) {
    // Qt ends the process when it finds no display; say why instead.
    if (!tv::fw::display_available()) {
        std::fprintf(stderr,
                     "tolbex: the main window is not available in this build without a display (set DISPLAY "
                     "or WAYLAND_DISPLAY, or QT_QPA_PLATFORM=offscreen); only hidden command-line actions "
                     "run.\n");
        return 1;
    }
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(tv::kAppName);
    // The installed menu entry names this application's windows (its StartupWMClass is the
    // application name, which Qt makes the windows' WM_CLASS).
    tv::fw::set_program_identity("torvane-tolbex");
    tv::fw::QtUi qt_ui;
    tv::set_ui(&qt_ui);
    StopSignals stop_signals;
    int code = 0;
    tv::fw::ScopedMessagePump pump;
    {
        tv::CTolbexApp core;
        tv::TolbexWindowApp windows(core);
        if (!windows.init_instance(std::move(args), true)) {
            code = core.exit_code() == 0 ? 1 : core.exit_code();
        } else {
            if (!g_stopping) qapp.exec();
            code = core.exit_instance();
        }
    }
    tv::set_ui(nullptr);
    return code & 0xFF;
}

}  // namespace

int main(int argc, char** argv) {
    // The user's locale as the toolkit takes it for a windowed start, hidden runs too (dates in
    // logs and lists), with '.' as the point in every number written to a file.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    // What an earlier run killed or ended by a signal left of its own.
    tv::remove_stale_temp_folders();
    tv::register_tolbex_strings();
    tv::gui::connect_intake_to_application();
    // Pictures and print-outs of pages, for hidden runs and windows alike.
    tv::install_page_renderer();
    // A hidden "/compresscf" that needs the operator brings up its own windows.
    tv::gui::offer_request_windows();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tv::expand_parameter_files(args);
    bool preview = false;
    if (tv::prescan_show_state(args, preview) != tv::kShowHidden || !tv::has_command_line_action(args))
        return run_with_main_window(argc, argv, std::move(args));

    tv::CTolbexApp app;
    if (!app.init_instance_headless(std::move(args), true)) return app.exit_code() == 0 ? 1 : app.exit_code() & 0xFF;
    // The process status holds 8 bits: "/find" errors -1..-4 leave as 255..252.
    return app.exit_instance() & 0xFF;
}
