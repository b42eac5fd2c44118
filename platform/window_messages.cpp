#include "platform/window_messages.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/ascii.h"
#include "platform/byte_order.h"
#include "platform/handles.h"
#include "platform/paths.h"

#include <vector>

namespace tv::platform {
namespace {

constexpr std::uint32_t kMagic = 0x4D575654;       // "TVWM"
constexpr std::uint32_t kReplyMagic = 0x52575654;  // "TVWR"
constexpr std::uint32_t kVersion = 1;
// A sender that connects but stalls must not block the window for long.
constexpr int kServerReadLimitMs = 2000;

using Clock = std::chrono::steady_clock;

std::uint64_t fnv1a64(std::string_view s, bool fold) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(fold ? ascii_upper(c) : c);
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string hex16(std::uint64_t v) {
    static const char* digits = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i) {
        out[i] = digits[v & 15];
        v >>= 4;
    }
    return out;
}

// Class names compare without regard to case, titles exactly.
std::string class_part(const std::string& class_name) { return hex16(fnv1a64(class_name, true)); }
std::string title_part(const std::string& title) { return hex16(fnv1a64(title, false)); }

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool fill_address(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

bool wait_fd(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, remaining_ms(deadline));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool send_bytes(int fd, const char* data, std::size_t size, Clock::time_point deadline) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_fd(fd, POLLOUT, deadline)) return false;
            continue;
        }
        return false;
    }
    return true;
}

// false on error, end of stream or time-out.
bool recv_bytes(int fd, void* buffer, std::size_t size, Clock::time_point deadline) {
    auto* data = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t n = ::recv(fd, data, size, 0);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait_fd(fd, POLLIN, deadline)) return false;
            continue;
        }
        return false;
    }
    return true;
}

void put_text(std::string& out, const std::string& s) {
    append_le32(out, static_cast<std::uint32_t>(s.size()));
    out += s;
}

// A connected, non-blocking stream socket to the window; empty when there is none.
UniqueFd connect_window(const std::string& path, Clock::time_point deadline) {
    sockaddr_un addr;
    if (!fill_address(path, addr)) return {};
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return {};
    for (;;) {
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
        if (errno == EINTR) continue;
        // A full backlog: the window is busy; retry until the time is up.
        if (errno == EAGAIN && remaining_ms(deadline) > 0) {
            ::usleep(2000);
            continue;
        }
        return {};
    }
}

bool window_alive(const std::string& path) {
    return static_cast<bool>(connect_window(path, Clock::now() + std::chrono::milliseconds(200)));
}

std::optional<std::int64_t> transact(const WindowAddress& to, const std::string& request, int timeout_ms) {
    if (!to) return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    const UniqueFd fd = connect_window(to.socket_path, deadline);
    if (!fd) return std::nullopt;
    std::optional<std::int64_t> result;
    std::uint8_t reply[12];
    if (send_bytes(fd.get(), request.data(), request.size(), deadline) &&
        recv_bytes(fd.get(), reply, sizeof reply, deadline) && load_le32(reply) == kReplyMagic)
        result = static_cast<std::int64_t>(load_le64(reply + 4));
    return result;
}

std::string build_request(WindowMessage::Kind kind, const std::string& name, std::uint64_t a, std::uint64_t b,
                          const std::string& data, const SenderIdentity& from) {
    std::string out;
    append_le32(out, kMagic);
    append_le32(out, kVersion);
    append_le32(out, static_cast<std::uint32_t>(kind));
    append_le64(out, a);
    append_le64(out, b);
    put_text(out, name);
    put_text(out, from.class_name);
    put_text(out, from.title);
    put_text(out, data);
    return out;
}

bool read_text(int fd, std::string& out, std::size_t limit, Clock::time_point deadline) {
    std::uint8_t len[4];
    if (!recv_bytes(fd, len, 4, deadline)) return false;
    std::uint32_t n = load_le32(len);
    if (n > limit) return false;
    out.resize(n);
    return n == 0 || recv_bytes(fd, out.data(), n, deadline);
}

bool read_request(int fd, WindowMessage& m) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kServerReadLimitMs);
    std::uint8_t head[28];
    if (!recv_bytes(fd, head, sizeof head, deadline)) return false;
    if (load_le32(head) != kMagic || load_le32(head + 4) != kVersion) return false;
    std::uint32_t kind = load_le32(head + 8);
    if (kind > 1) return false;
    m.kind = static_cast<WindowMessage::Kind>(kind);
    std::uint64_t a = load_le64(head + 12), b = load_le64(head + 20);
    if (!read_text(fd, m.name, kMaxWindowName, deadline) || !read_text(fd, m.sender_class, kMaxWindowName, deadline) ||
        !read_text(fd, m.sender_title, kMaxWindowName, deadline) || !read_text(fd, m.data, kMaxCopyData, deadline))
        return false;
    if (m.kind == WindowMessage::Kind::Registered) {
        if (m.name.empty()) return false;
        m.wparam = a;
        m.lparam = b;
    } else {
        m.dw_data = a;
    }
    return true;
}

}  // namespace

unsigned register_window_message(const std::string& name) {
    if (name.empty()) return 0;
    return 0xC000u + static_cast<unsigned>(fnv1a64(name, true) % 0x4000u);
}

std::string window_socket_path(const std::string& class_name, const std::string& title) {
    return windows_socket_dir() + "/" + class_part(class_name) + "-" + title_part(title) + ".sock";
}

WindowAddress find_window(const std::string& class_name, const std::string& title) {
    if (!class_name.empty()) {
        std::string path = window_socket_path(class_name, title);
        if (window_alive(path)) return {class_name, title, path};
        return {};
    }
    const std::string dir = windows_socket_dir();
    const std::string suffix = "-" + title_part(title) + ".sock";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return {};
    std::vector<std::string> candidates;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n.size() == 16 + suffix.size() && n.compare(16, suffix.size(), suffix) == 0) candidates.push_back(n);
    }
    ::closedir(d);
    std::sort(candidates.begin(), candidates.end());
    for (const auto& n : candidates) {
        std::string path = dir + "/" + n;
        if (window_alive(path)) return {{}, title, path};
    }
    return {};
}

std::optional<std::int64_t> send_window_message(const WindowAddress& to, const std::string& name, std::uint64_t wparam,
                                                std::uint64_t lparam, int timeout_ms, const SenderIdentity& from) {
    if (name.empty() || name.size() > kMaxWindowName || from.class_name.size() > kMaxWindowName ||
        from.title.size() > kMaxWindowName)
        return std::nullopt;
    return transact(to, build_request(WindowMessage::Kind::Registered, name, wparam, lparam, {}, from), timeout_ms);
}

std::optional<std::int64_t> send_copy_data(const WindowAddress& to, std::uint64_t dw_data, const std::string& data,
                                           int timeout_ms, const SenderIdentity& from) {
    if (data.size() > kMaxCopyData || from.class_name.size() > kMaxWindowName || from.title.size() > kMaxWindowName)
        return std::nullopt;
    return transact(to, build_request(WindowMessage::Kind::CopyData, {}, dw_data, 0, data, from), timeout_ms);
}

WindowEndpoint::WindowEndpoint(UniqueFd fd, std::string class_name, std::string title, std::string path)
    : fd_(std::move(fd)), class_name_(std::move(class_name)), title_(std::move(title)), path_(std::move(path)) {}

std::unique_ptr<WindowEndpoint> WindowEndpoint::create(const std::string& class_name, const std::string& title,
                                                       std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<WindowEndpoint> {
        if (error) *error = why;
        return nullptr;
    };
    if (class_name.size() > kMaxWindowName || title.size() > kMaxWindowName) return fail("window name too long");
    const std::string dir = windows_socket_dir();
    std::string partial;
    for (std::size_t i = 0; i <= dir.size(); ++i) {
        if (i == dir.size() || (dir[i] == '/' && i > 0)) {
            partial = dir.substr(0, i);
            if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return fail("cannot create " + partial);
        }
    }
    const std::string path = window_socket_path(class_name, title);
    sockaddr_un addr;
    if (!fill_address(path, addr)) return fail("socket path too long: " + path);
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (window_alive(path)) return fail("a window of that class and title exists");
        if (!S_ISSOCK(st.st_mode)) return fail("not a socket: " + path);
        ::unlink(path.c_str());  // left behind by an ended program
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return fail(std::strerror(errno));
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd.get(), 32) != 0)
        return fail(std::strerror(errno));
    return std::unique_ptr<WindowEndpoint>(new WindowEndpoint(std::move(fd), class_name, title, path));
}

WindowEndpoint::~WindowEndpoint() {
    fd_.reset();
    ::unlink(path_.c_str());
}

int WindowEndpoint::process(const Handler& handler, int wait_ms) {
    if (wait_ms != 0) {
        pollfd p{fd_.get(), POLLIN, 0};
        int r;
        do r = ::poll(&p, 1, wait_ms);
        while (r < 0 && errno == EINTR);
        if (r <= 0) return 0;
    }
    int handled = 0;
    for (;;) {
        const UniqueFd c(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!c) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            break;  // EAGAIN: nobody else waiting
        }
        WindowMessage m;
        if (read_request(c.get(), m)) {
            std::int64_t result = handler ? handler(m) : 0;
            std::string reply;
            append_le32(reply, kReplyMagic);
            append_le64(reply, static_cast<std::uint64_t>(result));
            send_bytes(c.get(), reply.data(), reply.size(),
                       Clock::now() + std::chrono::milliseconds(kServerReadLimitMs));
            ++handled;
        }
    }
    return handled;
}

}  // namespace tv::platform
