#include "tolbex/letters/create_letter.h"

#include <cstdio>

#include "common/files.h"
#include "platform/codepage.h"
#include "tolbex/archive/analysis_data.h"
#include "tolbex/letters/letter_template.h"

namespace tv::letters {
namespace {

// Letters are made by Writer through the letter helper; the reason names the step that failed.
void automation_failed(Ui& ui, const std::string& why) {
    ui.message_box("There was an error while creating the letter" + (why.empty() ? std::string() : ": " + why) +
                       ".\nLetters are made by LibreOffice Writer: are the packages libreoffice-writer-nogui and "
                       "python3-uno installed?",
                   "Error while creating letter", MsgIcon::Error, MsgButtons::Ok);
}

}  // namespace

std::string free_letter_path(const std::string& folder, const std::string& name) {
    return free_file_path(folder, name, ".doc", kLetterFileNameMax);
}

bool create_letter(const std::string& report_folder, const std::string& description, const LetterHooks& hooks, Ui& ui,
                   std::string* made, const std::string& details_folder) {
    AnalysisData data;
    try {
        data.load(details_folder.empty() ? report_folder : details_folder);
    } catch (const AnalysisData::SignedFolderError& e) {
        ui.message_box("\"" + e.path() + "\" is a signed report: a letter is made only from its verified signed file.",
                       "Error while creating letter", MsgIcon::Error, MsgButtons::Ok);
        return false;
    } catch (const AnalysisData::FileError&) {
        // A report without analysis results still gives its patient details; missing fields read empty.
    }

    const LetterOptions options = read_letter_options();
    std::string template_path;
    if (!options.prompt_for_template && !options.template_name.empty() && file_exists(options.template_name)) {
        template_path = options.template_name;
    } else {
        std::optional<std::string> chosen =
            hooks.choose_template ? hooks.choose_template(options.template_name) : std::nullopt;
        if (!chosen) return false;
        template_path = *chosen;
    }

    std::string folder = options.save_with_report ? report_folder : options.letter_folder;
    if (folder.empty()) folder = get_temp_folder();
    if (!folder_exists(folder) && !create_folder_path(folder)) {
        ui.message_box("Could not create the folder for the output letter: \"" + folder + "\"", "", MsgIcon::Error,
                       MsgButtons::Ok);
        return false;
    }
    // The name is made once, in the file system's bytes: the free-name check, the word processor,
    // the clean-up and the viewer all get this one path.
    const std::string path =
        free_letter_path(folder, platform::cp1252_to_utf8(
                                     letter_file_name(options.fixed_letter_name ? options.letter_name : description)));

    std::unique_ptr<WordProcessor> wp;
    std::string why;
    try {
        if (hooks.start_word_processor) wp = hooks.start_word_processor();
    } catch (const WordProcessorError& e) {
        why = e.what();
    }
    if (!wp) {
        automation_failed(ui, why);
        return false;
    }
    if (!wp->open(template_path)) {
        ui.message_box("Couldn't open the letter template document: \"" + template_path + "\"", "", MsgIcon::Error,
                       MsgButtons::Ok);
        wp->close();
        return false;
    }
    bool saved_once = false;
    try {
        // The whole plan before anything is written: a template that cannot be filled makes no letter.
        const std::vector<LetterEdit> edits = plan_letter(*wp, data, ui);
        // The template itself is never written: the letter is its own file from the start.
        if (!wp->save(path)) throw WordProcessorError("cannot save " + path);
        saved_once = true;
        apply_letter(*wp, edits);
        if (!wp->save(path)) throw WordProcessorError("cannot save " + path);
    } catch (const TemplateError& e) {
        wp->close();
        ui.message_box(e.what(), "Error while creating letter", MsgIcon::Error, MsgButtons::Ok);
        return false;
    } catch (const WordProcessorError& e) {
        wp->close();
        if (saved_once) std::remove(path.c_str());
        automation_failed(ui, e.what());
        return false;
    }
    wp->close();
    if (made) *made = path;
    if (hooks.show_letter) hooks.show_letter(path);
    return true;
}

}  // namespace tv::letters
