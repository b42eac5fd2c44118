// The word processor on Linux: LibreOffice Writer, headless, driven through UNO by
// letter_helper.py. One helper (and one office) is started on first use, or ahead of it, and kept
// for the next letters of the run; it is shut down by shutdown_office() or at exit. Requests and replies go
// through two FIFOs in a private (0700) temporary folder, removed with the session.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "tolbex/letters/word_processor.h"

namespace tv::letters {

// The helper script: $TV_LETTER_HELPER, else letter_helper.py beside the program or among its
// installed private parts (get_private_parts_folder), else the copy in the source tree this program was built from. Empty when none exists.
std::string letter_helper_path();

// Whether the office can be tried at all: helper script, python3 with UNO, soffice on PATH.
// When false, *why says what is missing.
bool office_available(std::string* why = nullptr);

// A WordProcessor on the shared office session; starts the session when none runs. Throws
// WordProcessorError when it cannot be started.
std::unique_ptr<WordProcessor> start_office_word_processor();

// Starts the shared session without waiting for the office, when none runs and the office is
// there to be tried: called where the user will soon want a letter, so that the office starts
// while they choose. A session that fails to start is said and tried again at the first use.
void start_office_ahead();

// Ends the shared session (the office quits). Safe to call when none runs.
void shutdown_office();

// What a made document holds besides its text; empty members are left out.
struct OfficeDocumentParts {
    std::string header, footer;
    std::vector<std::vector<std::string>> table;  // rows of cells, after the text
    std::string after_table;                      // paragraphs after the table
    std::string frame;                            // a text frame at the start
    std::string field;                            // an input field showing this, at the start of the text
};

// Writes a Writer document holding text (paragraphs split at '\n', Windows-1252) and parts to
// path, in the format its extension names. For tests and tools that need a template. Throws
// WordProcessorError.
void write_office_document(const std::string& path, const std::string& text, const OfficeDocumentParts& parts = {});

}  // namespace tv::letters
