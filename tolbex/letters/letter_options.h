// The "Letter Options" settings: what Create Letter reads and what the Options dialog shows,
// checks and writes, one profile section.
#pragma once
#include <string>

#include "common/ui.h"

namespace tv::letters {

struct LetterOptions {
    std::string template_name;
    std::string letter_name;
    std::string letter_folder;
    bool prompt_for_template = true;
    bool fixed_letter_name = false;
    bool save_with_report = true;
    bool operator==(const LetterOptions&) const = default;
};

// "Letter Folder" defaults to the temporary folder.
LetterOptions read_letter_options();
// Stops at the first value that cannot be written: false then.
bool write_letter_options(const LetterOptions& options);

// The output folder must be an absolute path: on this system a drive letter or UNC prefix
// cannot name a folder, so only a path from the root is taken.
bool is_valid_letter_folder(const std::string& folder);

// The letter options dialog's OK. Each refused check shows its text (title "Invalid Data", stop
// icon) and names the field to focus; an output folder that does not exist is made after the
// user agrees.
class LetterOptionsRules {
public:
    enum Field { kNone, kTemplate, kLetterName, kFolder };
    // True when the options were written and the dialog may close.
    bool ok(const LetterOptions& options, Ui& u);
    Field failed_field() const { return failed_; }

private:
    Field failed_ = kNone;
};

}  // namespace tv::letters
