// Plays the analysis system's windows over the window sockets:
//   --main                 the main window (title "Quorril"): records each registered message it
//                          receives as "<name> <wParam> <lParam>" lines (--record FILE, appended)
//   --identity             the identity window (class "HideWindowE98_I008", title "MsgWin"):
//                          answers the confirmation query (copy-data dwData=1, no bytes) with a
//                          92-byte reply sent to the asking window
//   --user NAME            the user name in the reply (default "DR SMITH")
//   --result N             the reply's result word (default 0)
//   --reply-size N         send N bytes instead of 92 (the name still at 28 when it fits)
//   --reply-dwdata N       the reply's dwData (default 1)
//   --reply-class CLASS    the class the reply claims to come from (default the identity class)
//   --reply-delay MS       answer late
//   --never-answer         accept the query but never reply
//   --vanish-after-query   close the identity window right after accepting the query
//   --main-title TITLE     another title for the main window
//   --ready FILE           created once the windows exist
//   --exit-after MS        end by itself (default 120000)
// Ends on SIGTERM or SIGINT.
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "common/text.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/window_messages.h"

using namespace tv::platform;

namespace {
volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

long long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct PendingReply {
    WindowAddress to;
    long long due = 0;
};

int usage() {
    std::fprintf(stderr, "usage: analysis-peer [--main] [--identity] [--record FILE] [--user NAME] ...\n");
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    bool main_window = false, identity = false, never_answer = false, vanish = false;
    std::string record, user = "DR SMITH", reply_class = "HideWindowE98_I008", ready, main_title = "Quorril";
    long long result = 0, reply_size = 92, reply_dwdata = 1, reply_delay = 0, exit_after = 120000;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        auto number = [&](long long& into) {
            const char* v = value();
            if (!v) return false;
            const tv::ParsedInteger n = tv::parse_integer(v, INT64_MIN, INT64_MAX);
            into = n.value;
            return n.whole(std::strlen(v));
        };
        bool ok = true;
        if (a == "--main")
            main_window = true;
        else if (a == "--identity")
            identity = true;
        else if (a == "--never-answer")
            never_answer = true;
        else if (a == "--vanish-after-query")
            vanish = true;
        else if (a == "--record") {
            const char* v = value();
            ok = v;
            if (v) record = v;
        } else if (a == "--user") {
            const char* v = value();
            ok = v;
            if (v) user = v;
        } else if (a == "--reply-class") {
            const char* v = value();
            ok = v;
            if (v) reply_class = v;
        } else if (a == "--ready") {
            const char* v = value();
            ok = v;
            if (v) ready = v;
        } else if (a == "--main-title") {
            const char* v = value();
            ok = v;
            if (v) main_title = v;
        } else if (a == "--result")
            ok = number(result);
        else if (a == "--reply-size")
            ok = number(reply_size) && reply_size >= 0 && reply_size <= 65536;
        else if (a == "--reply-dwdata")
            ok = number(reply_dwdata);
        else if (a == "--reply-delay")
            ok = number(reply_delay);
        else if (a == "--exit-after")
            ok = number(exit_after);
        else
            ok = false;
        if (!ok) return usage();
    }
    if (!main_window && !identity) return usage();
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);

    std::string error;
    std::unique_ptr<WindowEndpoint> main_end, identity_end;
    if (main_window && !(main_end = WindowEndpoint::create("QuorrilMainWnd", main_title, &error))) {
        std::fprintf(stderr, "analysis-peer: main window: %s\n", error.c_str());
        return 1;
    }
    if (identity && !(identity_end = WindowEndpoint::create("HideWindowE98_I008", "MsgWin", &error))) {
        std::fprintf(stderr, "analysis-peer: identity window: %s\n", error.c_str());
        return 1;
    }
    if (!ready.empty()) {
        const tv::platform::UniqueFd created(::open(ready.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    }

    std::vector<PendingReply> pending;
    const long long end_at = now_ms() + exit_after;
    while (!g_stop && now_ms() < end_at) {
        if (main_end) {
            main_end->process(
                [&](const WindowMessage& m) -> std::int64_t {
                    if (m.kind != WindowMessage::Kind::Registered) return 0;
                    if (!record.empty())
                        append_to_file(record,
                                       m.name + " " + std::to_string(m.wparam) + " " + std::to_string(m.lparam) + "\n");
                    return 1;
                },
                identity_end ? 0 : 20);
        }
        if (identity_end) {
            bool vanish_now = false;
            identity_end->process(
                [&](const WindowMessage& m) -> std::int64_t {
                    if (m.kind != WindowMessage::Kind::CopyData || m.dw_data != 1 || !m.data.empty()) return 0;
                    if (!never_answer) {
                        WindowAddress to = find_window(m.sender_class, m.sender_title);
                        if (to) pending.push_back({to, now_ms() + reply_delay});
                    }
                    if (vanish) vanish_now = true;
                    return 1;
                },
                20);
            if (vanish_now) identity_end.reset();
        }
        // Replies go out after the query was answered, as a separate message to the asker.
        for (std::size_t i = 0; i < pending.size();) {
            if (pending[i].due > now_ms()) {
                ++i;
                continue;
            }
            std::string reply(static_cast<std::size_t>(reply_size), '\0');
            auto put = [&](std::size_t at, unsigned char b) {
                if (at < reply.size()) reply[at] = static_cast<char>(b);
            };
            for (int k = 0; k < 4; ++k)
                put(static_cast<std::size_t>(k), static_cast<unsigned char>((result >> (8 * k)) & 0xff));
            for (std::size_t k = 0; k < user.size() && k < 63; ++k) put(28 + k, static_cast<unsigned char>(user[k]));
            send_copy_data(pending[i].to, static_cast<std::uint64_t>(reply_dwdata), reply, 5000,
                           {reply_class, "MsgWin"});
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (!main_end && !identity_end) ::usleep(20000);
    }
    return 0;
}
