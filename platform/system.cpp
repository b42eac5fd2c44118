#include "platform/system.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace tv::platform {
namespace {

std::string dotted(const in_addr& a) {
    const auto* b = reinterpret_cast<const unsigned char*>(&a.s_addr);  // network order
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return buf;
}

bool is_loopback(const in_addr& a) { return (ntohl(a.s_addr) >> 24) == 127; }

std::atomic<System*> g_override{nullptr};

}  // namespace

std::int64_t RealSystem::now() {
    time_t t = ::time(nullptr);
    return t == static_cast<time_t>(-1) ? -1 : static_cast<std::int64_t>(t);
}

std::string RealSystem::user_name() {
    long n = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(n > 0 ? static_cast<std::size_t>(n) : 1024);
    for (int tries = 0; tries < 8; ++tries) {
        passwd pw{};
        passwd* out = nullptr;
        int rc = ::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &out);
        if (rc == ERANGE) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (rc == 0 && out && out->pw_name && *out->pw_name) return out->pw_name;
        break;
    }
    for (const char* var : {"USER", "LOGNAME"}) {
        const char* v = std::getenv(var);
        if (v && *v) return v;
    }
    return {};
}

std::string RealSystem::host_name() {
    char buf[HOST_NAME_MAX + 2] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    buf[sizeof buf - 1] = '\0';
    return buf;
}

std::string RealSystem::ipv4_address() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        std::string found;
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
            if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
            const auto* sin = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if (is_loopback(sin->sin_addr)) continue;
            found = dotted(sin->sin_addr);
            break;
        }
        ::freeifaddrs(list);
        if (!found.empty()) return found;
    }
    // No configured interface: the resolver's answer for our name, a loopback one only as a
    // last resort (Debian maps the host name to 127.0.1.1).
    std::string host = host_name();
    if (host.empty()) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0) return {};
    std::string loop, other;
    for (addrinfo* a = res; a && other.empty(); a = a->ai_next) {
        if (a->ai_family != AF_INET || !a->ai_addr) continue;
        const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        if (is_loopback(sin->sin_addr)) {
            if (loop.empty()) loop = dotted(sin->sin_addr);
        } else {
            other = dotted(sin->sin_addr);
        }
    }
    ::freeaddrinfo(res);
    return other.empty() ? loop : other;
}

void RealSystem::sleep_ms(int ms) {
    if (ms <= 0) return;
    timespec req{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    timespec rem{};
    while (::nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

System& system() {
    static RealSystem real;
    System* s = g_override.load(std::memory_order_acquire);
    return s ? *s : real;
}

void set_system(System* s) { g_override.store(s, std::memory_order_release); }

}  // namespace tv::platform
