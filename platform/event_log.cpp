#include "platform/event_log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/paths.h"

namespace tv::platform {
namespace {

const char* type_name(EventType t) {
    switch (t) {
        case EventType::Error: return "Error";
        case EventType::Warning: return "Warning";
        case EventType::Information: return "Information";
    }
    return "Information";
}

int syslog_level(EventType t) {
    switch (t) {
        case EventType::Error: return LOG_ERR;
        case EventType::Warning: return LOG_WARNING;
        case EventType::Information: return LOG_INFO;
    }
    return LOG_INFO;
}

// One event is one line: control characters in the caller's texts become blanks.
std::string one_line(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

bool make_dirs(const std::string& dir) {
    std::size_t i = 0;
    while (i <= dir.size()) {
        std::size_t end = dir.find('/', i);
        if (end == std::string::npos) end = dir.size();
        std::string cur = dir.substr(0, end);
        if (!cur.empty() && ::mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST) return false;
        i = end + 1;
    }
    return true;
}

bool report_to_file(const std::string& file, const std::string& source, EventType type, int category, int event_id,
                    const std::string& user) {
    std::size_t slash = file.rfind('/');
    if (slash != std::string::npos && slash > 0 && !make_dirs(file.substr(0, slash))) return false;
    time_t t = ::time(nullptr);
    struct tm tm {};
    if (t == static_cast<time_t>(-1) || !::localtime_r(&t, &tm)) return false;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string line = std::string(stamp) + '\t' + one_line(source) + '\t' + type_name(type) + '\t' +
                       std::to_string(category) + '\t' + std::to_string(event_id) + '\t' + one_line(user) + "\r\n";
    // Every account of the group appends here: made 0666 less the umask before the lock or the
    // append make it with a mode of their own.
    { const UniqueFd made(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)); }
    // Writers in several processes take turns, so the line-end repair of one never splits
    // another's line.
    FileLock lock;
    if (!lock.lock(file, true, true)) return false;
    return append_to_file(file, line);
}

class DefaultEventLog final : public EventLog {
public:
    bool report(const std::string& source, EventType type, int category, int event_id,
                const std::string& user) override {
        std::string file = event_log_file();
        if (!file.empty()) return report_to_file(file, source, type, category, event_id, user);
        std::lock_guard<std::mutex> g(mutex_);
        if (!opened_ || ident_ != source) {
            // openlog keeps the pointer: let go of the old one before the string changes.
            if (opened_) ::closelog();
            ident_ = source;
            ::openlog(ident_.c_str(), LOG_PID, LOG_USER);
            opened_ = true;
        }
        ::syslog(syslog_level(type), "category %d event %d user %s", category, event_id, one_line(user).c_str());
        return true;
    }

private:
    std::mutex mutex_;
    std::string ident_;
    bool opened_ = false;
};

std::atomic<EventLog*> g_override{nullptr};

}  // namespace

EventLog& event_log() {
    static DefaultEventLog real;
    EventLog* l = g_override.load(std::memory_order_acquire);
    return l ? *l : real;
}

void set_event_log(EventLog* log) { g_override.store(log, std::memory_order_release); }

}  // namespace tv::platform
