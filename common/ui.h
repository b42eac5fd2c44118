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
// The button that Enter presses, by its place in the set (Yes, No, Cancel; Ok, Cancel; Retry, Cancel).
// Questions that destroy data name No, so that a hasty Enter keeps it. A place the set lacks means First.
enum class MsgDefault { First, Second, Third };

class Ui {
public:
    virtual ~Ui() = default;
    // Overrides repeat the First default: a default argument is taken from the static type of the call.
    virtual MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
                                  MsgDefault def = MsgDefault::First) = 0;
};

// Writes to stderr and answers every question with its safe answer (No / Cancel; Ok for Ok), whatever
// the default button: nobody is there to press Enter.
class ConsoleUi : public Ui {
public:
    MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
                          MsgDefault def = MsgDefault::First) override;
};

// Records every message and answers from a script (then the safe answer). For tests.
class ScriptedUi : public Ui {
public:
    struct Shown {
        std::string text, caption;
        MsgIcon icon;
        MsgButtons buttons;
        MsgResult default_button = MsgResult::Ok;  // as default_button() gives it
    };
    std::vector<Shown> shown;
    std::deque<MsgResult> answers;
    MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
                          MsgDefault def = MsgDefault::First) override;
};

// The safe answer for a set of buttons: Ok for Ok, No for Yes/No, Cancel otherwise.
MsgResult safe_answer(MsgButtons buttons);

// The answer of the button that def names in the set.
MsgResult default_button(MsgButtons buttons, MsgDefault def);

// The process-wide Ui (a ConsoleUi until one is installed).
Ui& ui();
void set_ui(Ui* u);

// Shorthand: an error box with an OK button (the caption empty unless given), on the process-wide
// Ui or on `u`.
void show_error(const std::string& text, const std::string& caption = {});
void show_error(Ui& u, const std::string& text, const std::string& caption = {});

}  // namespace tv
