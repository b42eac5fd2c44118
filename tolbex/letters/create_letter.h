// Create Letter: a template filled from a report's fields, saved as a new ".doc" next to the
// report (or in the letter folder) and handed to the user. The settings live in the profile
// section "Letter Options".
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/files.h"
#include "common/ui.h"
#include "tolbex/letters/letter_options.h"
#include "tolbex/letters/word_processor.h"

namespace tv::letters {

struct LetterHooks {
    // The template the user picks, starting from the default one; nullopt when cancelled.
    std::function<std::optional<std::string>(const std::string& default_template)> choose_template;
    // Starts the word processor; throws WordProcessorError when there is none.
    std::function<std::unique_ptr<WordProcessor>()> start_word_processor;
    // Hands the finished letter to the user (may be empty).
    std::function<void(const std::string& letter_path)> show_letter;
};

// Longest letter file name: the word processor keeps a lock file ".~lock.<name>#" beside it.
inline constexpr std::size_t kLetterFileNameMax = kFileNameMax - 8;
// "<folder>/<name>.doc", else "<name> (1).doc", " (2)", ... whichever does not exist yet; `name`
// is in the file system's bytes (UTF-8), shortened to fit kLetterFileNameMax with its serial.
std::string free_letter_path(const std::string& folder, const std::string& name);

// Makes the letter for a report folder and description (Windows-1252; the letter's name is made
// from it once, in UTF-8). False when the user cancelled, the output folder could not be had, the
// template could not be opened or filled (nothing is written then) or the word processor failed
// (after its message); a letter half made by a failing word processor is removed. The path of the
// letter made goes to *made. The fields are read from `details_folder` when given (a signed
// report's verified copy, which the caller keeps until this returns), else from the report
// folder; a signed report folder itself is refused with a message before anything is asked.
bool create_letter(const std::string& report_folder, const std::string& description, const LetterHooks& hooks, Ui& ui,
                   std::string* made = nullptr, const std::string& details_folder = {});

}  // namespace tv::letters
