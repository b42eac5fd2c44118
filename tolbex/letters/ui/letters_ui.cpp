#include "tolbex/letters/ui/letters_ui.h"

#include <QFileDialog>

#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/letters/create_letter.h"
#include "tolbex/letters/letter_files.h"
#include "tolbex/letters/office_word_processor.h"
#include "tolbex/signing/shown_report.h"

namespace tv::gui {
namespace {

LetterFileChooser& chooser() {
    static LetterFileChooser c;
    return c;
}

std::optional<std::string> choose_file(const std::string& caption, const std::string& start,
                                       const std::string& filter) {
    if (chooser()) return chooser()(caption, start, filter);
    QFileDialog dialog(fw::active_or_main_window(), to_qstring(caption));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(to_qstring(filter));
    if (folder_exists(start)) {
        dialog.setDirectory(qstring_from_path(start));
    } else if (file_exists(start)) {
        dialog.setDirectory(qstring_from_path(get_path_folder(start)));
        dialog.selectFile(qstring_from_path(start));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return path_from_qstring(dialog.selectedFiles().front());
}

LetterOpener& opener() {
    static LetterOpener o;
    return o;
}

void show_letter(const std::string& path) {
    using letters::OpenResult;
    const OpenResult result = opener() ? (opener()(path) ? OpenResult::Started : OpenResult::NotStarted)
                              : !letters::desktop_present() ? OpenResult::Started
                                                            : letters::open_document(path);
    if (result == OpenResult::Started) return;
    const std::string why = result == OpenResult::NoProgram
                                ? "no program on this desktop opens letters (.doc files); LibreOffice Writer (package "
                                  "libreoffice-writer) does"
                                : "the desktop's opener, xdg-open (package xdg-utils), could not be started";
    ui().message_box("The letter could not be opened: " + why + ".\n\nThe letter is kept with the report as \"" +
                         escape_control_chars(path) + "\".",
                     "Cannot Open Letter", MsgIcon::Error, MsgButtons::Ok);
}

}  // namespace

void set_letter_file_chooser(LetterFileChooser c) { chooser() = std::move(c); }
void set_letter_opener(LetterOpener o) { opener() = std::move(o); }

void open_report_letters(const std::string& report_folder) {
    std::vector<std::string> letters;
    {
        fw::WaitCursor wait;
        letters = letters::list_letters(report_folder);
    }
    if (letters.empty()) return;
    std::string letter = letters.front();
    if (letters.size() > 1) {
        std::optional<std::string> picked =
            choose_file("Open Letter", join_path(report_folder, ""), "Letters (*.doc *.DOC)");
        if (!picked) return;
        letter = *picked;
    }
    show_letter(letter);
}

void register_letter_handlers() {
    set_letter_handler([](const std::string& folder, const std::string& name) {
        // The office starts while the user picks the template.
        letters::start_office_ahead();
        letters::LetterHooks hooks;
        hooks.choose_template = [](const std::string& default_template) {
            // Writer reads the other word-processor formats as well as the Word ones.
            return choose_file("Select Letter Template Document", default_template,
                               "Letter Templates (*.doc *.DOC *.docx *.odt *.rtf)");
        };
        hooks.start_word_processor = [] {
            fw::WaitCursor wait;
            return letters::start_office_word_processor();
        };
        hooks.show_letter = show_letter;
        // A signed report's fields come from its verified container, never from files beside it.
        auto shown = signing::open_report_for_showing(folder);
        if (!shown) {
            const std::string& why = shown.error().message;
            show_error(why.empty() ? "The signed report could not be verified, so no letter was made."
                                   : "The letter cannot be made: " + why);
            return false;
        }
        return letters::create_letter(folder, name, hooks, ui(), nullptr,
                                      shown->is_signed() ? shown->folder() : std::string());
    });
    set_view_letters_handler([](const std::string& folder) {
        open_report_letters(folder);
        return true;
    });
    CBrowserFrame::set_letters_action([](const std::string& folder) { hand_over_view_letters(folder); });
}

}  // namespace tv::gui
