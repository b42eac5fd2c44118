// The simulator's socket: each request on a connection is one packet, answered by one.
#include "deck_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "platform/byte_order.h"

namespace tv::platform {

namespace {

bool send_reply(int fd, std::uint8_t kind, std::int32_t error, const void* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    out.push_back(kind);
    append_le32(out, static_cast<std::uint32_t>(error));
    if (size)
        out.insert(out.end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    return ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
}

// The deck has one command connection at a time: it is the run's hold on the deck, and goes with
// the connection however its holder ends.
class CommandClaim {
public:
    CommandClaim(std::atomic<bool>& taken, int fd) : taken_(taken) {
        bool expected = false;
        held_ = taken_.compare_exchange_strong(expected, true);
        send_reply(fd, held_ ? 1 : 0, held_ ? 0 : EBUSY, nullptr, 0);
    }
    ~CommandClaim() {
        if (held_) taken_ = false;
    }
    CommandClaim(const CommandClaim&) = delete;
    CommandClaim& operator=(const CommandClaim&) = delete;
    bool held() const { return held_; }

private:
    std::atomic<bool>& taken_;
    bool held_ = false;
};

void serve_connection(DeckModel& model, const UniqueFd& connection, const std::atomic<bool>& stop,
                      const std::atomic<bool>* silent, std::atomic<bool>& command_taken) {
    const int fd = connection.get();
    std::vector<std::uint8_t> in(4096);
    std::unique_ptr<CommandClaim> claim;
    while (!stop) {
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, 200);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        ssize_t n = ::recv(fd, in.data(), in.size(), 0);
        if (n <= 0) break;
        if (silent && *silent) continue;
        int error = 0;
        if (n == 1 && in[0] == 'c' && !claim) {
            claim = std::make_unique<CommandClaim>(command_taken, fd);
            if (!claim->held()) break;
            continue;
        }
        switch (in[0]) {
            case 'W': {
                bool ok = model.write(in.data() + 1, static_cast<std::size_t>(n - 1), error);
                send_reply(fd, ok ? 1 : 0, error, nullptr, 0);
                break;
            }
            case 'R': {
                std::uint32_t timeout = n >= 5 ? load_le32(in.data() + 1) : 0;
                std::uint8_t message[kDeckMessageMax];
                int got =
                    model.read(message, sizeof message, static_cast<int>(std::min<std::uint32_t>(timeout, 60000)));
                send_reply(fd, got > 0 ? 'D' : 'T', 0, message, got > 0 ? static_cast<std::size_t>(got) : 0);
                break;
            }
            case 'I': {
                std::uint8_t out[kDeckControlOut];
                bool ok = n >= 5 && model.control(load_le32(in.data() + 1), out, error);
                send_reply(fd, ok ? 1 : 0, error, out, sizeof out);
                break;
            }
            default:  // the role byte that opens a connection, or noise
                break;
        }
    }
}

}  // namespace

bool serve_deck(DeckModel& model, const std::string& path, const std::atomic<bool>& stop, std::string& error,
                const std::atomic<bool>* silent) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        error = "socket path too long: " + path;
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    ::unlink(path.c_str());
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = std::strerror(errno);
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd.get(), 16) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::thread> connections;
    std::atomic<bool> command_taken{false};
    bool silenced = false;
    while (!stop) {
        if (silent && *silent && !silenced) {
            silenced = true;
            model.shutdown();
        }
        pollfd p{fd.get(), POLLIN, 0};
        int ready = ::poll(&p, 1, 100);
        if (ready <= 0) continue;
        UniqueFd c(::accept4(fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!c) continue;
        // The thread owns its connection and closes it when the peer or the stop ends it.
        connections.emplace_back([&model, c = std::move(c), &stop, silent, &command_taken] {
            serve_connection(model, c, stop, silent, command_taken);
        });
    }
    fd.reset();
    ::unlink(path.c_str());
    model.shutdown();
    for (auto& t : connections) t.join();
    return true;
}

}  // namespace tv::platform
