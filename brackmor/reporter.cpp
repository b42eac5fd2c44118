#include "brackmor/reporter.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "brackmor/folder_tools.h"
#include "common/generations.h"
#include "platform/fs.h"

namespace tv::brackmor {

namespace {

// The terminal mode to put back when a signal ends the program during a question.
struct termios g_saved_mode;
volatile sig_atomic_t g_mode_fd = -1;

extern "C" void restore_mode_and_reraise(int sig) {
    if (g_mode_fd >= 0) ::tcsetattr(g_mode_fd, TCSANOW, &g_saved_mode);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// Single keys without echo for the lifetime of the object.
class RawKeys {
public:
    explicit RawKeys(int fd) : fd_(fd) {
        if (::tcgetattr(fd, &g_saved_mode) != 0) return;
        struct termios raw = g_saved_mode;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        struct sigaction sa {};
        sa.sa_handler = restore_mode_and_reraise;
        sigemptyset(&sa.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndSignals); ++i) ::sigaction(kEndSignals[i], &sa, &old_[i]);
        g_mode_fd = fd;
        active_ = ::tcsetattr(fd, TCSANOW, &raw) == 0;
    }
    ~RawKeys() {
        if (g_mode_fd < 0) return;
        ::tcsetattr(fd_, TCSANOW, &g_saved_mode);
        g_mode_fd = -1;
        for (std::size_t i = 0; i < std::size(kEndSignals); ++i) ::sigaction(kEndSignals[i], &old_[i], nullptr);
    }
    RawKeys(const RawKeys&) = delete;
    RawKeys& operator=(const RawKeys&) = delete;

private:
    int fd_;
    bool active_ = false;
    struct sigaction old_[std::size(kEndSignals)]{};
};

// One byte, retried when interrupted; false at the end of input or on an error.
bool read_byte(int fd, char& c) {
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n == 1) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

}  // namespace

bool read_yes(int fd) {
    char c = 0;
    if (::isatty(fd)) {
        RawKeys keys(fd);
        if (!read_byte(fd, c)) return false;
        return c == 'Y' || c == 'y';
    }
    // A line: its first character answers; the rest of the line is read so the next question
    // gets the next line.
    if (!read_byte(fd, c)) return false;
    const char first = c;
    while (c != '\n' && read_byte(fd, c)) {}
    return first == 'Y' || first == 'y';
}

Reporter::Reporter(std::FILE* console, int input_fd) : console_(console), input_fd_(input_fd) {}

Reporter::~Reporter() = default;

bool Reporter::open_log(const std::string& folder) {
    // The new log is written beside the old one and takes its place only when whole, so that a
    // full disk costs no earlier generation.
    auto replace = std::make_unique<GenerationReplace>(folder, "BRACKMOR.LOG");
    if (!replace->ready()) return false;
    platform::UniqueFd fd(::fcntl(replace->fd(), F_DUPFD_CLOEXEC, 0));
    if (!fd) return false;
    log_.reset(::fdopen(fd.get(), "wb"));
    if (!log_) return false;
    fd.release();  // the stream owns it now
    pending_ = std::move(replace);
    return true;
}

bool Reporter::close_log() {
    std::fflush(console_);
    if (!log_) return false;
    const bool closed = platform::close_file(log_);
    std::unique_ptr<GenerationReplace> replace = std::move(pending_);
    return closed && !log_failed_ && replace && replace->commit(true);
}

void Reporter::console(std::string_view text) { std::fwrite(text.data(), 1, text.size(), console_); }

// The log is a text file of this system's kind: CR LF line ends.
void Reporter::log(std::string_view text) {
    if (!log_) return;
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    if (std::fwrite(out.data(), 1, out.size(), log_.get()) != out.size()) log_failed_ = true;
}

void Reporter::both(std::string_view text) {
    console(text);
    log(text);
}

void Reporter::event_once(std::string_view sentence, std::string_view tag_text) {
    if (once_.emplace(tag_text).second) event(sentence, tag_text);
}

void Reporter::event(std::string_view sentence, std::string_view tag_text) {
    std::string line(sentence);
    line += '\n';
    console(line);
    if (tagged_) {
        std::string tag(tag_text);
        tag += '\n';
        log(tag);
    } else {
        log(line);
    }
}

bool Reporter::ask(std::string_view prompt) {
    console(prompt);
    std::fflush(console_);
    return read_yes(input_fd_);
}

bool Reporter::confirm_deletion(const std::string& path) {
    console("\nConfirm Folder Deletion\n");
    const bool yes = ask("Please confirm that you want to delete this folder:\n\n\t" + path +
                         "\n\nThis will permanantly delete the folder and all the files and folders that it "
                         "contains!\n(Y/N)? ");
    console("\n");
    return yes;
}

}  // namespace tv::brackmor
