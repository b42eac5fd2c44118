// tolbex and the analysis system's windows: the goodbye messages when tolbex closes after being
// started from it, and the query for the user who confirms a report. No Qt.
#pragma once
#include <functional>
#include <string>

namespace tv {

inline constexpr const char* kIdentityWindowClass = "HideWindowE98_I008";
inline constexpr const char* kIdentityWindowTitle = "MsgWin";
// The window that receives the identity window's reply.
inline constexpr const char* kConfirmReplyWindowClass = "TolbexMainFrame";
inline constexpr std::size_t kConfirmReplySize = 92;
inline constexpr int kSendTimeoutMs = 5000;
inline constexpr int kConfirmWaitSliceMs = 10000;
inline constexpr int kConfirmOverallLimitMs = 30000;

// Finds the window titled "Quorril" (any class). When there is none, sends nothing and answers 0.
// Revision >= 8.0: "MSG_TOLBEX_ABOUT_TO_TERMINATE", then `hide_own_window` (hide, yield), then
// "MSG_TOLBEX_CLOSED", "MSG_REDRAW_QUORRIL"; below (and 0.0 for unknown): "MSG_TOLBEX_CLOSED"
// only. Each a synchronous send with wParam = lParam = 0 and the send time limit. Returns the
// number of messages the window received.
int notify_analysis_system_closing(double revision, const std::function<void()>& hide_own_window = {});

// Query status codes.
enum ConfirmQueryStatus {
    kConfirmOk = 0,          // reply accepted
    kConfirmOtherClass = 1,  // a reply came from a window of another class
    kConfirmWrongSize = 2,   // reply of the wrong size
    kConfirmWrongData = 3,   // reply with dwData other than 1
    kConfirmSendFailed = 4,  // sending failed or timed out, or no reply within the overall limit
    kConfirmVanished = 5,    // the identity window went away while waiting
    kConfirmNoWindow = 6,    // no identity window
};

struct ConfirmingUser {
    int status = kConfirmOk;
    std::string name;  // empty unless status 0 and the reply's result word is 0
};

// Asks the identity window (class "HideWindowE98_I008", title "MsgWin") with WM_COPYDATA
// dwData=1, cbData=0 and waits for its 92-byte reply (u32 result @0, char[64] name @28) at a
// reply window of class kConfirmReplyWindowClass. `overall_limit_ms` bounds the whole wait.
ConfirmingUser query_confirming_user(int overall_limit_ms = kConfirmOverallLimitMs);

// Checks one reply as the reply handler does; fills `name` on status 0 with result word 0.
int check_confirm_reply(const std::string& sender_class, unsigned long long dw_data, const std::string& data,
                        std::string& name);

}  // namespace tv
