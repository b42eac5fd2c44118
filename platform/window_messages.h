// Registered window messages, FindWindow and WM_COPYDATA between programs, over Unix-domain
// sockets under windows_socket_dir(): one socket per window class and title. A message is its
// registered name plus two numbers; a copy-data message carries a number and bytes. Every send
// is a request with a reply and a time limit. No Qt: a windowed program polls the window's fd
// from a QSocketNotifier (or a thread) and calls process().
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/handles.h"

namespace tv::platform {

// A stable message number in 0xC000..0xFFFF for a name (names compare case-insensitively, as
// RegisterWindowMessage does). 0 for an empty name.
unsigned register_window_message(const std::string& name);

// Where a window can be reached. Empty socket_path means "no window".
struct WindowAddress {
    std::string class_name, title, socket_path;
    explicit operator bool() const { return !socket_path.empty(); }
};

// The socket path of a window: windows_socket_dir()/<hash(class)>-<hash(title)>.sock.
std::string window_socket_path(const std::string& class_name, const std::string& title);

// FindWindow: a live window of that class and title. An empty class matches any class (an empty
// title is a title like any other). Stale sockets of ended programs do not count.
WindowAddress find_window(const std::string& class_name, const std::string& title);

// What arrives at a window.
struct WindowMessage {
    enum class Kind : std::uint32_t { Registered = 0, CopyData = 1 };
    Kind kind = Kind::Registered;
    std::string name;           // registered message name (Registered)
    std::uint64_t wparam = 0;   // Registered
    std::uint64_t lparam = 0;   // Registered
    std::uint64_t dw_data = 0;  // CopyData
    std::string data;           // CopyData: the bytes, any length up to kMaxCopyData
    std::string sender_class;   // the sending window, as it names itself (its "wParam" window)
    std::string sender_title;
};

inline constexpr std::size_t kMaxCopyData = 1u << 20;
inline constexpr std::size_t kMaxWindowName = 1024;

// The sending side names itself by class and title, so that the receiver can answer it.
struct SenderIdentity {
    std::string class_name, title;
};

// SendMessageTimeout with a registered message: the receiver's result, or nullopt when the
// window is missing, refused, or did not answer within timeout_ms.
std::optional<std::int64_t> send_window_message(const WindowAddress& to, const std::string& name, std::uint64_t wparam,
                                                std::uint64_t lparam, int timeout_ms, const SenderIdentity& from = {});
// WM_COPYDATA by SendMessageTimeout.
std::optional<std::int64_t> send_copy_data(const WindowAddress& to, std::uint64_t dw_data, const std::string& data,
                                           int timeout_ms, const SenderIdentity& from = {});

// The window end: owns the listening socket for one class and title while it lives.
class WindowEndpoint {
public:
    using Handler = std::function<std::int64_t(const WindowMessage&)>;

    // Creates the window. Fails (nullptr, *error set) when a live window of the same class and
    // title exists or the socket cannot be made; a stale socket of an ended program is replaced.
    static std::unique_ptr<WindowEndpoint> create(const std::string& class_name, const std::string& title,
                                                  std::string* error = nullptr);
    ~WindowEndpoint();
    WindowEndpoint(const WindowEndpoint&) = delete;
    WindowEndpoint& operator=(const WindowEndpoint&) = delete;

    // The listening fd (non-blocking, close-on-exec): readable when a sender waits.
    int fd() const { return fd_.get(); }
    WindowAddress address() const { return {class_name_, title_, path_}; }

    // Serves every sender that is waiting now, or waits up to wait_ms for the first one
    // (0 = do not wait, -1 = forever). Calls `handler` once per well-formed message and sends
    // its result back. Malformed or hostile requests are dropped. Returns the messages handled.
    int process(const Handler& handler, int wait_ms = 0);

private:
    WindowEndpoint(UniqueFd fd, std::string class_name, std::string title, std::string path);
    UniqueFd fd_;
    std::string class_name_, title_, path_;
};

}  // namespace tv::platform
