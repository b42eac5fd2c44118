#include "platform/paths.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include "platform/fs.h"

namespace tv::platform {
namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string home_dir() {
    std::string home = env("HOME");
    if (!home.empty()) return home;
    long n = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(n > 0 ? static_cast<std::size_t>(n) : 16384);
    passwd pw{};
    passwd* out = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &out) == 0 && out && out->pw_dir) return out->pw_dir;
    return "/";
}

// The root may be given relative; kernel-object names must not depend on the current folder.
std::string absolute_dir(const std::string& dir) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(dir, ec);
    if (ec) p = dir;
    return strip_trailing_slashes(p.lexically_normal().string());
}

}  // namespace

std::string root() { return env("TORVANE_ROOT"); }

std::string machine_dir() {
    std::string r = root();
    return r.empty() ? std::string("/var/lib/torvane") : r;
}

std::string user_dir() {
    std::string r = root();
    if (!r.empty()) return r + "/user";
    std::string xdg = env("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg.front() == '/') return xdg + "/torvane";
    return home_dir() + "/.config/torvane";
}

std::string machine_registry_dir() { return machine_dir() + "/registry"; }
std::string user_registry_dir() { return user_dir() + "/registry"; }
std::string analyser_default_root() { return machine_dir() + "/ANALYSER"; }
std::string drives_dir() { return machine_dir() + "/drives"; }
std::string windows_socket_dir() { return machine_dir() + "/run/windows"; }

std::string event_log_file() {
    std::string r = root();
    return r.empty() ? std::string() : r + "/log/eventlog.txt";
}

std::string ipc_prefix() {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : absolute_dir(machine_dir())) {
        h ^= c;
        h *= 16777619u;
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(h));
    return std::string("/tv") + hex + "-";
}

std::string ipc_name(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) return {};
    std::string out = ipc_prefix();
    for (char c : name) out += (c == '/' || c == '\\') ? '_' : c;
    if (out.size() - 1 > NAME_MAX) return {};
    return out;
}

std::string run_dir() { return machine_dir() + "/run"; }

std::string trust_store_dir() {
    const std::string r = root();
    return r.empty() ? std::string("/etc/torvane/trust") : r + "/trust";
}

}  // namespace tv::platform
