// Letter templates: fields "<name>" (the next character is kept), formatted fields
// "<name>[%fmt]" and conditional passages "<name>[op value] ... </name>[op value]", filled from
// a report's AnalysisData. Markers are searched for in the document's text with the regular
// expressions below; a marker never spans paragraphs, and a paragraph break counts as the
// character after a plain field (the end of the document does not). Table cells, headers,
// footers and frames are parts of the text that no edit may span.
#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/ui.h"
#include "tolbex/archive/analysis_data.h"
#include "tolbex/letters/word_processor.h"

namespace tv::letters {

// A paragraph's end, the document's last one too, counts as the character after a plain field.
inline constexpr const char* kPlainFieldPattern = R"(<[a-zA-Z0-9._]+>(?:[^\[]|$))";
inline constexpr const char* kFormattedFieldPattern = R"(<[a-zA-Z0-9._]+>\[%.*?\])";
inline constexpr const char* kConditionPattern = R"(<[0-9a-zA-Z._]+>\[[^%\n].*?\])";
// More conditional statements than this are left in the letter (and the user is told).
inline constexpr int kMaxStatements = 1000;

enum class Condition { False, True, SyntaxError, UnknownField, TypeMismatch };

// The quote-like characters (` ' and cp1252 0x84 0x8E 0x92 0x93 0x94) as '"'.
std::string straighten(std::string_view text);

// An opening statement "<name>[op value]" against the report's values. Numbers must parse
// completely (trailing blanks allowed).
Condition evaluate_condition(std::string_view statement, const AnalysisData& data);

// The letter's file name from a report description: the characters a file name may not hold
// (\ / . : * ? < > | ") and control characters dropped; "Letter" when nothing is left.
std::string letter_file_name(const std::string& description);

// A template whose edits cannot be made in its document: a passage to leave out that reaches
// across a table cell, header, footer or frame. what() is the text for the user.
class TemplateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One replacement of the document text, in the order of the plan.
using LetterEdit = TextEdit;

// Joins continued lines (a line ending a part is not continued), then keeps or drops the
// conditional passages, then fills the plain and the formatted fields, telling the user of each
// faulty marker (which stays in the letter). Only reads the document. Throws TemplateError, and
// WordProcessorError when the word processor fails.
std::vector<LetterEdit> plan_letter(WordProcessor& wp, const AnalysisData& data, Ui& ui);

// Makes the planned edits in the open document, all in one exchange. Throws WordProcessorError.
void apply_letter(WordProcessor& wp, const std::vector<LetterEdit>& edits);

}  // namespace tv::letters
