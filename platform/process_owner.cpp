#include "platform/process_owner.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/fs.h"

namespace tv::platform {

namespace {

// Field 22 of /proc/<pid>/stat: the start time in clock ticks since boot. The command name
// before it may hold anything, so the fields are counted from its closing parenthesis.
std::optional<unsigned long long> start_of(long pid) {
    const auto text = read_whole_file("/proc/" + std::to_string(pid) + "/stat");
    if (!text) return std::nullopt;
    const std::size_t close = text->rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::size_t pos = close + 1;
    for (int field = 3; field < 22; ++field) {
        pos = text->find(' ', pos + 1);
        if (pos == std::string::npos) return std::nullopt;
    }
    return std::strtoull(text->c_str() + pos + 1, nullptr, 10);
}

std::string boot_tag() {
    const auto id = read_whole_file("/proc/sys/kernel/random/boot_id");
    std::string tag;
    if (id)
        for (char c : *id) {
            if (tag.size() == 8) break;
            if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) tag += c;
        }
    return tag.size() == 8 ? tag : "00000000";
}

}  // namespace

const std::string& own_process_token() {
    // Computed per process: a forked child gets its own.
    static thread_local long cached_pid = 0;
    static thread_local std::string token;
    const long pid = static_cast<long>(::getpid());
    if (cached_pid != pid) {
        token = std::to_string(pid) + "-" + std::to_string(start_of(pid).value_or(0)) + "-" + boot_tag();
        cached_pid = pid;
    }
    return token;
}

OwnerState owner_state(std::string_view token) {
    const std::size_t a = token.find('-');
    const std::size_t b = a == std::string_view::npos ? a : token.find('-', a + 1);
    if (b == std::string_view::npos || token.size() - b - 1 != 8) return OwnerState::Unknown;
    static const std::string boot = boot_tag();
    if (token.substr(b + 1) != boot) return OwnerState::Unknown;
    const std::string pid_text(token.substr(0, a)), start_text(token.substr(a + 1, b - a - 1));
    char* end = nullptr;
    const long pid = std::strtol(pid_text.c_str(), &end, 10);
    if (pid_text.empty() || *end || pid <= 0) return OwnerState::Unknown;
    const unsigned long long start = std::strtoull(start_text.c_str(), &end, 10);
    if (start_text.empty() || *end) return OwnerState::Unknown;
    const auto now = start_of(pid);
    if (!now) return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? OwnerState::Alive : OwnerState::Gone;
    return *now == start ? OwnerState::Alive : OwnerState::Gone;
}

std::string_view token_after(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) return {};
    name.remove_prefix(prefix.size());
    return name.substr(0, name.find('.'));
}

}  // namespace tv::platform
