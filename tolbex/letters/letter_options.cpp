#include "tolbex/letters/letter_options.h"

#include <filesystem>
#include <system_error>

#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"

namespace tv::letters {
LetterOptions read_letter_options() {
    LetterOptions o;
    o.template_name = get_profile_string(kLetterOptionsSection, "Template Name", "");
    o.letter_name = get_profile_string(kLetterOptionsSection, "Letter Name", "");
    o.letter_folder = get_profile_string(kLetterOptionsSection, "Letter Folder", get_temp_folder());
    o.prompt_for_template = get_profile_int(kLetterOptionsSection, "Prompt for Template?", 1) != 0;
    o.fixed_letter_name = get_profile_int(kLetterOptionsSection, "Fixed Letter Name?", 0) != 0;
    o.save_with_report = get_profile_int(kLetterOptionsSection, "Save With Report?", 1) != 0;
    return o;
}

bool write_letter_options(const LetterOptions& o) {
    return write_profile_string(kLetterOptionsSection, "Template Name", o.template_name) &&
           write_profile_string(kLetterOptionsSection, "Letter Name", o.letter_name) &&
           write_profile_string(kLetterOptionsSection, "Letter Folder", o.letter_folder) &&
           write_profile_int(kLetterOptionsSection, "Prompt for Template?", o.prompt_for_template ? 1 : 0) &&
           write_profile_int(kLetterOptionsSection, "Fixed Letter Name?", o.fixed_letter_name ? 1 : 0) &&
           write_profile_int(kLetterOptionsSection, "Save With Report?", o.save_with_report ? 1 : 0);
}

bool is_valid_letter_folder(const std::string& folder) { return folder.size() >= 2 && folder[0] == '/'; }

bool LetterOptionsRules::ok(const LetterOptions& o, Ui& u) {
    auto refuse = [&](Field field, const char* text) {
        failed_ = field;
        u.message_box(text, "Invalid Data", MsgIcon::Error, MsgButtons::Ok);
        return false;
    };
    failed_ = kNone;
    if (!o.template_name.empty() && !file_exists(o.template_name))
        return refuse(kTemplate, "The letter template document does not exist.");
    // An empty fixed name would save every letter as a hidden ".doc" that nothing lists.
    if (o.fixed_letter_name && (o.letter_name.empty() || !is_valid_file_name(o.letter_name)))
        return refuse(kLetterName,
                      "The fixed letter name is not valid.\n\nA file name may not contain any of the following "
                      "characters:  \\ / : * ? < > | \"");
    if (!o.save_with_report) {
        if (o.letter_folder.empty()) return refuse(kFolder, "Please specify a non-blank output folder.");
        if (!is_valid_letter_folder(o.letter_folder))
            return refuse(kFolder,
                          "The output folder must begin with a drive letter followed by a colon (:),\nor it must "
                          "be a UNC path that begins with \"\\\\\".");
        if (!folder_exists(o.letter_folder)) {
            if (u.message_box("The output folder that you specified does not exist.\n\nWould you like to create it?",
                              "Create Output Folder?", MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok) {
                failed_ = kFolder;
                return false;
            }
            std::error_code ec;
            std::filesystem::create_directories(o.letter_folder, ec);
            if (!folder_exists(o.letter_folder))
                return refuse(kFolder,
                              "The output folder could not be created.\n\nPlease check that the folder name is "
                              "correct,\nand that you have write-access to the device on which it would have been "
                              "created.");
        }
    }
    if (!write_letter_options(o)) {
        failed_ = kNone;
        return false;
    }
    return true;
}

}  // namespace tv::letters
