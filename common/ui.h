// Every interaction with the user that core code needs goes through Ui. The windowed programs
// install a Qt implementation; hidden command-line runs and tests use the console or scripted one.
#pragma once
#include <deque>
#include <string>
#include <vector>

namespace tv {

enum class MsgIcon { None, Error, Warning, Question, Information };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MsgResult { Ok, Cancel, Yes, No, Retry };

class Ui {
public:
    virtual ~Ui() = default;
    virtual MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon,
                                  MsgButtons buttons) = 0;
};

// Writes to stderr and answers every question with its safe answer (No / Cancel; Ok for Ok).
class ConsoleUi : public Ui {
public:
    MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon,
                          MsgButtons buttons) override;
};

// Records every message and answers from a script (then the safe answer). For tests.
class ScriptedUi : public Ui {
public:
    struct Shown {
        std::string text, caption;
        MsgIcon icon;
        MsgButtons buttons;
    };
    std::vector<Shown> shown;
    std::deque<MsgResult> answers;
    MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon,
                          MsgButtons buttons) override;
};

// The safe answer for a set of buttons: Ok for Ok, No for Yes/No, Cancel otherwise.
MsgResult safe_answer(MsgButtons buttons);

// The process-wide Ui (a ConsoleUi until one is installed).
Ui& ui();
void set_ui(Ui* u);

// Shorthand: an error box with an empty caption, OK button.
void show_error(const std::string& text, const std::string& caption = {});

}  // namespace tv
