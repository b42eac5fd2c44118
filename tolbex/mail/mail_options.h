// The message options file EMAILCFG.TXT: a title line, then groups of radio buttons or check
// boxes whose chosen items add text to the note.
//   Lines empty or blank, and lines starting with '/', are skipped; in the others "\n" is a line
//   break and '\' takes the next character as it is.
//   group: "@RADIOBUTTONS" | "@CHECKBOXES", caption, lead-in, alternative text ("<NONE>" = empty
//   for both), column (1..32, clamped), items of three lines (state "1" = checked, label, text
//   or "<NONE>"), "@END". The end of the file inside a group makes the whole file invalid.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace tv {

inline constexpr int kMailOptionColumns = 32;

struct MailOptionGroup {
    bool radio = false;
    int column = 0;  // 0..31
    int row = 0;     // its place among the groups of the same column
    std::string caption;
    std::string lead_in;
    std::string alternative;
    std::vector<std::string> labels;
    std::vector<std::string> texts;
    std::vector<bool> checked;
};

struct MailOptions {
    std::string title;
    std::vector<MailOptionGroup> groups;
};

// nullopt when the text is not a valid options file.
std::optional<MailOptions> parse_mail_options(const std::string& text);

// The note's options text for the current states, group after group.
std::string compose_mail_options_text(const MailOptions& options);

}  // namespace tv
