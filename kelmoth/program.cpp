// Start-up, the console loop with its keys, and the shutdown.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform/ascii.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "kelmoth/kelmoth.h"
#include "common/text.h"

namespace tv::kelmoth {
namespace {

volatile std::sig_atomic_t g_stop_signal = 0;
void on_stop_signal(int) { g_stop_signal = 1; }

// Shown indented at start-up and after "? " for a key that has no use.
const char kKeyHelp[] =
    "Use \"X\" to exit, \"W\" for USB debug display \n    \"T\" for prodn test  or \"V\" to set run speed "
    "(velocity) \n    \"R\" for start analysis\n";

// Keys come one at a time without echo from a terminal, or as bytes from a pipe.
class Console {
public:
    Console() {
        if (::isatty(0) && ::tcgetattr(0, &saved_) == 0) {
            termios raw = saved_;
            raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            restore_ = ::tcsetattr(0, TCSANOW, &raw) == 0;
        }
    }
    ~Console() {
        if (restore_) ::tcsetattr(0, TCSANOW, &saved_);
    }
    // A waiting key, or -1.
    int key() {
        if (eof_) return -1;
        pollfd p{0, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLHUP))) return -1;
        return byte();
    }
    // A line of at most `limit` characters (the rest of a longer one is dropped); false at end of input.
    bool line(std::string& text, std::size_t limit) {
        text.clear();
        for (;;) {
            const int c = byte();
            if (c < 0) return !text.empty();
            if (c == '\n' || c == '\r') {
                if (c == '\r' || !text.empty() || !last_was_cr_) {
                    last_was_cr_ = c == '\r';
                    return true;
                }
                last_was_cr_ = false;
                continue;
            }
            last_was_cr_ = false;
            if (text.size() < limit) text.push_back(static_cast<char>(c));
        }
    }
    bool at_end() const { return eof_; }

private:
    int byte() {
        unsigned char c;
        for (;;) {
            const ssize_t n = ::read(0, &c, 1);
            if (n == 1) return c;
            if (n < 0 && errno == EINTR) continue;
            eof_ = true;
            return -1;
        }
    }
    termios saved_{};
    bool restore_ = false;
    bool eof_ = false;
    bool last_was_cr_ = false;
};

int parse_speed(const std::string& text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == 'v' || text[i] == 'V')) ++i;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == text.size() || !platform::is_digit(text[i])) return 0;
    return static_cast<int>(parse_integer(std::string_view(text).substr(i, 9)).value);
}

void handle_key(Kelmoth& k, Console& console, int c) {
    if (c >= 0 && c < 0x80) c = platform::ascii_upper(static_cast<char>(c));
    say(k, "%c", c);
    switch (c) {
        case 'X':
            say(k, " - Exit\n");
            k.running = 0;
            break;
        case 'W':
            k.debug_display = !k.debug_display;
            say(k, k.debug_display ? " Display debug data now ON\n" : " Display debug data now OFF\n");
            break;
        case 'T':
            k.production_test = !k.production_test;
            say(k, k.production_test ? " USB Replay production test mode now ON\n"
                                     : " USB Replay production test mode now OFF\n");
            break;
        case 'V': {
            std::string answer;
            for (;;) {
                say(k, " Enter desired run speed (125, 250, 500 or 1000)  : ");
                if (!console.line(answer, 64)) {
                    say(k, "\n");
                    return;  // no more input: the speed stays as it was
                }
                const int speed = parse_speed(answer);
                if (speed == 125 || speed == 250 || speed == 500 || speed == 1000) {
                    k.run_speed = speed;
                    say(k, "\n Next run will be at speed %d\n", speed);
                    return;
                }
            }
        }
        case 'R':
            say(k, "   Starting Analysis\n");
            k.start_request = 1;
            break;
        case '?': serial_block_search(k); break;
        default: say(k, "? %s", kKeyHelp); break;
    }
}

std::string wendle_report_path() {
    // The analysis system's own folder, found as its spelling on disk has it.
    const std::string root = platform::analyser_default_root();
    auto system = platform::find_name_ci(root, "system");
    return (system ? *system : root + "/system") + "/wendle.txt";
}

int exit_code_for_status(Kelmoth& k, std::int32_t status) {
    if (status >= 1 && status <= 254) return status;
    say(k, "Deck status %d cannot be given as an exit code\n", status);
    return kExitUnexpected;
}

}  // namespace

void install_stop_signals() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

int kelmoth_main(Kelmoth& k, const std::vector<std::string>& args) {
    say(k, "\n\n\n");
    say(k, "USB Tape Replay Interface : KELMOTH  Version: %3.1f\n", kVersion);
    say(k, "==============================================\n");
    k.skip_start = 0;
    if (args.empty()) {
        print_usage(k);
        return kExitUsage;
    }
    if (parse_command_line(k, args) != CommandLine::accepted) return kExitUsage;

    // The deck first: a run that cannot have it touches nothing another run uses, not even the
    // shared events.
    int error = 0;
    {
        auto command = k.driver->open(k.device, platform::DeckAccess::command, error);
        if (!command && error == EBUSY) {
            say(k, "\n\n **** The tape replay is in use by another program ****\n");
            return kExitDeckBusy;
        }
        if (!command && error == ETIMEDOUT) {
            say(k, "The replay deck stopped answering\n");
            return kExitDeckSilent;
        }
        if (!command) {
            say(k, "\n\n **** No tape replay was found. Tape support is unavailable ****\n");
            return kExitNoDeck;
        }
        std::lock_guard<std::mutex> lock(k.handles_mutex);
        k.command = std::move(command);
    }

    k.read_shutdown = platform::NamedEvent::open(kReadShutdownEvent, true, false);
    k.shutdown_request = platform::NamedEvent::open(kShutdownRequestEvent, true, false);
    if (k.read_shutdown) k.read_shutdown->reset();
    if (k.shutdown_request) k.shutdown_request->reset();
    k.running = 1;
    if (k.wendle_path.empty()) k.wendle_path = wendle_report_path();
    std::uint8_t out[platform::kDeckControlOut];
    if (!k.command->control(platform::kIoctlMapBuffer, out, error)) {
        say(k, "IOCTL_TVREPLAY_MAP_BUFFER failed:  %d\n", error);
        note_deck_error(k, error);
        return k.deck_silent ? kExitDeckSilent : kExitDriver;
    }
    {
        std::uint32_t words[3];
        std::memcpy(words, out, sizeof words);
        const platform::DeckRegion region = k.command->region();
        if (!region.base || words[0] > region.size || region.size - words[0] < platform::ring::kHeaderBytes ||
            words[0] % 4 || words[1] % 4 || words[1] > region.size) {
            say(k, "IOCTL_TVREPLAY_MAP_BUFFER failed:  %d\n", EINVAL);
            return kExitDriver;
        }
        k.ring_header = region.base + words[0];
        k.ring_buffer = region.base + words[1];
        k.ring_buffer_bytes = region.size - words[1];
    }

    say(k, "\n\n **** USB Replay found and opened **** \n");
    if (!create_mappings(k)) {
        say(k, "Failed to open memory mapped files\n");
        return kExitMappings;
    }
    if (!map_views(k)) {
        say(k, "Failed to map view of MMFs\n");
        return kExitViews;
    }
    init_tape_data(k);
    k.memory_full = 0;
    k.running = 1;
    // Mappings that another process holds are its caller's: the run lasts while they are held.
    const bool watch_caller = k.maps[5].held_elsewhere();
    if (const int dropped = clear_deck(k)) say(k, "Deck stopped, %d earlier messages dropped\n", dropped);
    k.run_deck_thread = std::thread([&k] { run_deck(k); });
    say(k, "\nWaiting for command: Use \"W\" to turn on USB debugging\n");
    say(k, "  %s", kKeyHelp);

    {
        Console console;
        while (k.running) {
            const int c = console.key();
            if (c >= 0) handle_key(k, console, c);
            if (k.shutdown_request && k.shutdown_request->wait(100)) {
                k.running = 0;
                break;
            }
            if (!k.shutdown_request) sleep_ms(100);
            if (g_stop_signal) {
                say(k, "Stop signal received\n");
                k.running = 0;
                break;
            }
            if (watch_caller && !k.maps[5].held_elsewhere()) {
                say(k, "The program that started KELMOTH has gone\n");
                k.caller_gone = 1;
                k.running = 0;
                break;
            }
        }
    }

    sleep_ms(200);
    EnableReadUSB(k);
    send_stop_command(k);
    k.running = 0;  // a failed write clears it too; the stop is all that is left to say
    if (k.read_shutdown) k.read_shutdown->wait(60000);
    if (k.run_deck_thread.joinable()) k.run_deck_thread.join();
    sleep_ms(100);
    int code = kExitOk;
    {
        std::shared_ptr<platform::DeckHandle> control;
        {
            std::lock_guard<std::mutex> lock(k.handles_mutex);
            control = k.control;
        }
        error = EBADF;
        if (!control || !control->control(platform::kIoctlUnmapBuffer, out, error)) {
            say(k, "IOCTL_TVREPLAY_UNMAP_BUFFER failed:  %d\n", error);
            note_deck_error(k, error);
            code = kExitDriver;
        }
        close_handles(k);
    }
    // A silent deck also fails the unmap; what was stored before it fell silent still counts.
    // Samples that did not follow on, or a caller that left, make a tape that was not read whole.
    if (k.stream_broken) {
        say(k, "The tape was not read whole: its sample numbers jumped\n");
        k.tape->deck_state = kDeckError;
        code = kExitNotWhole;
    } else if (k.caller_gone) {
        k.tape->deck_state = kDeckError;
        code = kExitCallerGone;
    } else if (k.memory_full && (code == kExitOk || k.deck_silent)) {
        k.tape->deck_state = kDeckError;
        code = kExitFull;
    } else if (k.deck_silent) {
        say(k, "The replay deck stopped answering\n");
        k.tape->deck_state = kDeckError;
        code = kExitDeckSilent;
    } else if (code == kExitOk) {
        if (k.tape->status != 0) {
            k.tape->deck_state = kDeckError;
            code = exit_code_for_status(k, k.tape->status);
        } else if (k.runs_started && k.ctrl[0].samples_written == 0) {
            say(k, "No ECG was stored from the tape\n");
            k.tape->deck_state = kDeckError;
            code = kExitNothingRead;
        } else {
            k.tape->deck_state = kDeckFinished;
        }
    }
    say(k, "Closing MMFs\n");
    release_mappings(k);
    {
        std::lock_guard<std::mutex> lock(k.handles_mutex);
        k.command.reset();
    }
    k.read_shutdown.reset();
    k.shutdown_request.reset();
    return code;
}

}  // namespace tv::kelmoth
