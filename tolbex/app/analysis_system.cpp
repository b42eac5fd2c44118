#include "tolbex/app/analysis_system.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

#include "common/bytes.h"
#include "common/registry.h"
#include "platform/window_messages.h"

namespace tv {

int notify_analysis_system_closing(double revision, const std::function<void()>& hide_own_window) {
    const platform::WindowAddress quorril = platform::find_window({}, kAnalysisMainWindowTitle);
    if (!quorril) return 0;
    int received = 0;
    auto send = [&](const char* name) {
        // Registering cannot fail here; a window that went away simply receives nothing.
        platform::register_window_message(name);
        if (platform::send_window_message(quorril, name, 0, 0, kSendTimeoutMs)) ++received;
    };
    if (revision < 8.0) {
        send("MSG_TOLBEX_CLOSED");
        return received;
    }
    send("MSG_TOLBEX_ABOUT_TO_TERMINATE");
    if (hide_own_window) hide_own_window();
    send("MSG_TOLBEX_CLOSED");
    send("MSG_REDRAW_QUORRIL");
    return received;
}

int check_confirm_reply(const std::string& sender_class, unsigned long long dw_data, const std::string& data,
                        std::string& name) {
    name.clear();
    if (sender_class != kIdentityWindowClass) return kConfirmOtherClass;
    if (dw_data != 1) return kConfirmWrongData;
    if (data.size() != kConfirmReplySize) return kConfirmWrongSize;
    const std::uint32_t result = load_le32(reinterpret_cast<const std::uint8_t*>(data.data()));
    if (result == 0) {
        // The name field ends at its NUL, and never past the record.
        for (std::size_t i = 28; i < kConfirmReplySize && data[i] != '\0'; ++i) name.push_back(data[i]);
    }
    return kConfirmOk;
}

ConfirmingUser query_confirming_user(int overall_limit_ms) {
    using Clock = std::chrono::steady_clock;
    ConfirmingUser out;
    platform::WindowAddress identity = platform::find_window(kIdentityWindowClass, kIdentityWindowTitle);
    if (!identity) {
        out.status = kConfirmNoWindow;
        return out;
    }
    // The reply arrives as a message of its own at this window.
    static int serial = 0;
    const std::string title = "tolbex-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    auto reply_window = platform::WindowEndpoint::create(kConfirmReplyWindowClass, title);
    if (!reply_window) {
        out.status = kConfirmSendFailed;
        return out;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(overall_limit_ms < 0 ? 0 : overall_limit_ms);
    auto left_ms = [&] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    };
    const int send_limit = std::max(0, std::min(kSendTimeoutMs, left_ms()));
    if (!platform::send_copy_data(identity, 1, {}, send_limit, {kConfirmReplyWindowClass, title})) {
        out.status = kConfirmSendFailed;
        return out;
    }
    bool answered = false;
    std::string name;
    int status = kConfirmOk;
    while (!answered) {
        const int left = left_ms();
        if (left <= 0) {
            // No answer within the overall limit: the identity window exists but stays silent.
            out.status = kConfirmSendFailed;
            return out;
        }
        // Short waits, so that a vanished identity window is noticed promptly.
        reply_window->process(
            [&](const platform::WindowMessage& m) -> std::int64_t {
                if (m.kind != platform::WindowMessage::Kind::CopyData) return 0;
                status = check_confirm_reply(m.sender_class, m.dw_data, m.data, name);
                answered = true;
                return 0;
            },
            std::min(left, 200));
        if (!answered && !platform::find_window(kIdentityWindowClass, kIdentityWindowTitle)) {
            out.status = kConfirmVanished;
            return out;
        }
    }
    out.status = status;
    if (status == kConfirmOk) out.name = name;
    return out;
}

}  // namespace tv
