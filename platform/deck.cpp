#include "platform/deck.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "platform/ascii.h"
#include "platform/byte_order.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/shared_memory.h"

namespace tv::platform {

std::string deck_unit_name(const std::string& device) {
    static const std::string prefix = "\\\\.\\Tvreplay";
    if (device.size() <= prefix.size() || device.size() > prefix.size() + 3) return {};
    if (!iequals(std::string_view(device).substr(0, prefix.size()), prefix)) return {};
    for (std::size_t i = prefix.size(); i < device.size(); ++i)
        if (!is_digit(device[i])) return {};
    return "Tvreplay" + device.substr(prefix.size());
}

std::string deck_socket_path(const std::string& device) {
    std::string unit = deck_unit_name(device);
    return unit.empty() ? std::string() : run_dir() + "/deck/" + unit;
}

std::string deck_ring_name(const std::string& unit) { return unit + " ring"; }

int deck_reply_timeout_ms() {
    const char* text = std::getenv("TV_DECK_TIMEOUT_MS");
    if (text && *text) {
        char* end = nullptr;
        const long v = std::strtol(text, &end, 10);
        if (*end == '\0' && v > 0 && v <= 600000) return static_cast<int>(v);
    }
    return 10000;
}

namespace {

constexpr std::size_t kMaxRegion = std::size_t(1) << 30;

// One connection per handle; requests and replies alternate, one at a time.
class SocketHandle : public DeckHandle {
public:
    SocketHandle(UniqueFd fd, std::string unit) : fd_(std::move(fd)), unit_(std::move(unit)) {}
    ~SocketHandle() override { ::shutdown(fd_.get(), SHUT_RDWR); }

    bool write(const void* data, std::size_t size, int& error) override {
        std::vector<std::uint8_t> req(1 + size);
        req[0] = 'W';
        std::memcpy(req.data() + 1, data, size);
        std::vector<std::uint8_t> reply;
        if (!transact(req, reply, deck_reply_timeout_ms(), error)) return false;
        if (reply.size() < 5 || reply[0] != 1) {
            error = reply.size() >= 5 ? static_cast<int>(load_le32(reply.data() + 1)) : EPROTO;
            return false;
        }
        return true;
    }

    int read(void* buffer, std::size_t capacity, int timeout_ms, int& error) override {
        std::vector<std::uint8_t> req(5);
        req[0] = 'R';
        store_le32(req.data() + 1, static_cast<std::uint32_t>(timeout_ms < 0 ? 0 : timeout_ms));
        std::vector<std::uint8_t> reply;
        if (!transact(req, reply, std::max(timeout_ms, 0) + deck_reply_timeout_ms(), error)) return -1;
        if (reply.size() < 5) {
            error = EPROTO;
            return -1;
        }
        if (reply[0] == 'T') return 0;
        if (reply[0] != 'D' || reply.size() == 5) {
            error = EPROTO;
            return -1;
        }
        std::size_t n = std::min(reply.size() - 5, capacity);
        std::memcpy(buffer, reply.data() + 5, n);
        return static_cast<int>(n);
    }

    bool control(std::uint32_t code, std::uint8_t (&out)[kDeckControlOut], int& error) override {
        std::vector<std::uint8_t> req(5);
        req[0] = 'I';
        store_le32(req.data() + 1, code);
        std::vector<std::uint8_t> reply;
        if (!transact(req, reply, deck_reply_timeout_ms(), error)) return false;
        if (reply.size() < 5 + kDeckControlOut) {
            error = EPROTO;
            return false;
        }
        if (reply[0] != 1) {
            error = static_cast<int>(load_le32(reply.data() + 1));
            return false;
        }
        std::memcpy(out, reply.data() + 5, kDeckControlOut);
        if (code == kIoctlMapBuffer) {
            const std::size_t size = load_le32(out + 8);
            if (size < 64 || size > kMaxRegion) {
                error = EPROTO;
                return false;
            }
            auto mem = SharedMemory::open_existing(deck_ring_name(unit_), size, true);
            if (!mem) {
                error = errno ? errno : ENOENT;
                return false;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            ring_ = std::move(mem);
        } else if (code == kIoctlUnmapBuffer) {
            // The views stay valid for other handles: each handle maps its own.
        }
        return true;
    }

    DeckRegion region() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ring_) return {};
        return {static_cast<std::uint8_t*>(ring_->data()), ring_->size()};
    }

private:
    bool transact(const std::vector<std::uint8_t>& req, std::vector<std::uint8_t>& reply, int limit_ms, int& error) {
        std::lock_guard<std::mutex> lock(io_);
        if (broken_) {
            error = broken_;
            return false;
        }
        if (::send(fd_.get(), req.data(), req.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(req.size())) {
            error = errno;
            return false;
        }
        pollfd p{fd_.get(), POLLIN, 0};
        int ready;
        do ready = ::poll(&p, 1, limit_ms);
        while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            error = ready == 0 ? ETIMEDOUT : errno;
            if (ready == 0) broken_ = ETIMEDOUT;
            return false;
        }
        reply.resize(8 + kDeckMessageMax);
        ssize_t n = ::recv(fd_.get(), reply.data(), reply.size(), 0);
        if (n <= 0) {
            error = n == 0 ? EPIPE : errno;
            broken_ = error;
            return false;
        }
        reply.resize(static_cast<std::size_t>(n));
        return true;
    }

    UniqueFd fd_;
    std::string unit_;
    std::mutex io_;
    int broken_ = 0;  // the error every request gives once the exchange is out of step or gone
    mutable std::mutex mutex_;
    std::unique_ptr<SharedMemory> ring_;
};

class SocketDeckDriver : public DeckDriver {
    static bool claimed(int fd, int& error) {
        pollfd p{fd, POLLIN, 0};
        int ready;
        do ready = ::poll(&p, 1, deck_reply_timeout_ms());
        while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            error = ready == 0 ? ETIMEDOUT : errno;
            return false;
        }
        std::uint8_t reply[8];
        const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
        if (n < 5) {
            error = n < 0 ? errno : n == 0 ? EPIPE : EPROTO;
            return false;
        }
        if (reply[0] != 1) {
            error = static_cast<int>(load_le32(reply + 1));
            return false;
        }
        return true;
    }

public:
    std::unique_ptr<DeckHandle> open(const std::string& device, DeckAccess access, int& error) override {
        const std::string unit = deck_unit_name(device);
        const std::string path = deck_socket_path(device);
        sockaddr_un addr{};
        if (unit.empty()) {
            error = ENOENT;
            return nullptr;
        }
        if (path.size() >= sizeof addr.sun_path) {
            error = ENAMETOOLONG;
            return nullptr;
        }
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (!fd) {
            error = errno;
            return nullptr;
        }
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            error = errno;
            return nullptr;
        }
        const char role = access == DeckAccess::command ? 'c'
                          : access == DeckAccess::read  ? 'r'
                                                        : 'k';  // never a request byte
        if (::send(fd.get(), &role, 1, MSG_NOSIGNAL) != 1) {
            error = errno;
            return nullptr;
        }
        // The deck answers a command opener: taken, or held by another.
        if (access == DeckAccess::command && !claimed(fd.get(), error)) return nullptr;
        return std::make_unique<SocketHandle>(std::move(fd), unit);
    }
};

}  // namespace

DeckDriver& socket_deck_driver() {
    static SocketDeckDriver driver;
    return driver;
}

}  // namespace tv::platform
