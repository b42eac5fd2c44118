#include "common/ui.h"

#include <atomic>
#include <cstdio>
#include <initializer_list>

namespace tv {

namespace {

ConsoleUi& console_ui() {
    static ConsoleUi console;
    return console;
}

std::atomic<Ui*> g_ui{nullptr};

}  // namespace

MsgResult safe_answer(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok: return MsgResult::Ok;
        case MsgButtons::YesNo: return MsgResult::No;
        case MsgButtons::OkCancel:
        case MsgButtons::YesNoCancel:
        case MsgButtons::RetryCancel: return MsgResult::Cancel;
    }
    return MsgResult::Cancel;
}

MsgResult default_button(MsgButtons buttons, MsgDefault def) {
    const auto pick = [def](std::initializer_list<MsgResult> set) {
        const auto place = static_cast<std::size_t>(def);
        return place < set.size() ? set.begin()[place] : *set.begin();
    };
    switch (buttons) {
        case MsgButtons::Ok: return MsgResult::Ok;
        case MsgButtons::OkCancel: return pick({MsgResult::Ok, MsgResult::Cancel});
        case MsgButtons::YesNo: return pick({MsgResult::Yes, MsgResult::No});
        case MsgButtons::YesNoCancel: return pick({MsgResult::Yes, MsgResult::No, MsgResult::Cancel});
        case MsgButtons::RetryCancel: return pick({MsgResult::Retry, MsgResult::Cancel});
    }
    return MsgResult::Ok;
}

MsgResult ConsoleUi::message_box(const std::string& text, const std::string& caption, MsgIcon, MsgButtons buttons,
                                 MsgDefault) {
    if (caption.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return safe_answer(buttons);
}

MsgResult ScriptedUi::message_box(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
                                  MsgDefault def) {
    shown.push_back({text, caption, icon, buttons, default_button(buttons, def)});
    if (answers.empty()) return safe_answer(buttons);
    const MsgResult r = answers.front();
    answers.pop_front();
    return r;
}

Ui& ui() {
    Ui* u = g_ui.load();
    return u ? *u : console_ui();
}

void set_ui(Ui* u) { g_ui.store(u); }

void show_error(const std::string& text, const std::string& caption) { show_error(ui(), text, caption); }

void show_error(Ui& u, const std::string& text, const std::string& caption) {
    u.message_box(text, caption, MsgIcon::Error, MsgButtons::Ok);
}

}  // namespace tv
