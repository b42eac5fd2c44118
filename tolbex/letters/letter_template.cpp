#if defined(__GNUC__) && !defined(__clang__)
// gcc 12 with the sanitizers at -O2 reports std::regex's own std::function members as maybe
// uninitialized; the warning is about the library's code, so it is off for this file only.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "tolbex/letters/letter_template.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <regex>
#include <vector>

#include "common/files.h"
#include "platform/codepage.h"

namespace tv::letters {
namespace {

constexpr const char* kErrorTitle = "Error while creating letter";

// Longest first where one operator begins another.
constexpr std::array<std::string_view, 12> kOperators = {"!~==", "!~=", "~==", "!==", "~=", "==",
                                                         "!=",   "<=",  ">=",  "<",   ">",  "="};

bool text_only(std::string_view op) { return op == "==" || op == "~=" || op == "~=="; }

bool parse_number(std::string_view text, double& value) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return false;
    if (text.front() == '+') text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

Condition negate(Condition c) {
    if (c == Condition::True) return Condition::False;
    if (c == Condition::False) return Condition::True;
    return c;
}

Condition from_bool(bool b) { return b ? Condition::True : Condition::False; }

// op without its leading '!' (and "<=" / ">=" as the negation of ">" / "<").
Condition test(std::string_view op, const std::string& value, bool quoted, int n, const AnalysisData& data) {
    if (op.front() == '!') return negate(test(op.substr(1), value, quoted, n, data));
    if (op == "<=") return negate(test(">", value, quoted, n, data));
    if (op == ">=") return negate(test("<", value, quoted, n, data));
    const int type = data.get_field_type(n);
    if (text_only(op) && type != kFieldText) return Condition::TypeMismatch;
    if (value.empty() && !(quoted && op == "=")) return Condition::SyntaxError;
    if (value.empty()) return from_bool(!data.is_field_present(n));
    if (type == kFieldText) {
        const std::string field = data.get_string(n);
        if (op == "==") return from_bool(field == value);
        if (op == "~==") return from_bool(field.compare(0, value.size(), value) == 0 && field.size() >= value.size());
        if (op == "~=")
            return from_bool(field.size() >= value.size() &&
                             platform::compare_text_nocase(std::string_view(field).substr(0, value.size()), value) ==
                                 0);
        const int order = platform::compare_text_nocase(field, value);
        return from_bool(op == "=" ? order == 0 : op == "<" ? order < 0 : order > 0);
    }
    double v = 0;
    if (!parse_number(value, v)) return Condition::SyntaxError;
    const double field = type == kFieldInt ? static_cast<double>(data.get_int(n)) : data.get_double(n);
    if (op == "=") {
        if (type == kFieldInt) v = std::floor(v + 0.5);
        return from_bool(std::fabs(v - field) < 0.000001);
    }
    return from_bool(op == "<" ? field < v : field > v);
}

// The template's text as the edits planned so far leave it; nothing reaches the word processor
// until the whole plan stands.
struct Document {
    std::string text;
    std::vector<std::size_t> breaks;  // the part-ending '\n's, ascending
    std::vector<LetterEdit> edits;

    bool crosses(std::size_t start, std::size_t end) const {
        const auto it = std::lower_bound(breaks.begin(), breaks.end(), start);
        return it != breaks.end() && *it < end;
    }
    void replace(std::size_t start, std::size_t end, const std::string& with) {
        if (crosses(start, end))
            throw TemplateError(
                "A marker of the template document crosses a table cell, a header, a footer or a frame.");
        edits.push_back({start, end, with});
        text.replace(start, end - start, with);
        for (std::size_t& b : breaks)
            if (b >= end) b = b - (end - start) + with.size();
    }
    // The next match of re at or after pos.
    bool find(const std::regex& re, std::size_t pos, std::smatch& m) const {
        if (pos > text.size()) return false;
        const auto flags = pos > 0 ? std::regex_constants::match_prev_avail : std::regex_constants::match_default;
        return std::regex_search(text.cbegin() + static_cast<std::ptrdiff_t>(pos), text.cend(), m, re, flags);
    }
};

void tell(Ui& ui, const std::string& text) { ui.message_box(text, kErrorTitle, MsgIcon::Error, MsgButtons::Ok); }

std::string quoted_statement(const char* lead, const std::string& statement) {
    return std::string(lead) + "\n\n\t\"" + statement + "\"";
}

// A line ending a table cell, header, footer or frame is not continued, as the document's last.
void join_lines(Document& doc) {
    for (std::size_t pos = doc.text.find("\\\n"); pos != std::string::npos; pos = doc.text.find("\\\n", pos)) {
        if (doc.crosses(pos + 1, pos + 2)) {
            pos += 2;
            continue;
        }
        doc.replace(pos, pos + 2, "");
    }
}

void keep_or_drop_passages(Document& doc, const AnalysisData& data, Ui& ui) {
    static const std::regex statement_re(kConditionPattern);
    std::size_t pos = 0;
    std::smatch m;
    for (int count = 0; doc.find(statement_re, pos, m); ++count) {
        if (count == kMaxStatements) {
            tell(ui, "The template document holds more than " + std::to_string(kMaxStatements) +
                         " conditional statements.\nThe remaining statements are left in the letter.");
            return;
        }
        const std::size_t start = pos + static_cast<std::size_t>(m.position(0));
        const std::string statement = m.str(0);
        const std::size_t after = start + statement.size();
        const std::string terminator = "</" + statement.substr(1);
        const std::size_t term = doc.text.find(terminator, after);
        if (term == std::string::npos) {
            tell(ui, quoted_statement("The following conditional statement terminator cannot be found in the "
                                      "template document:",
                                      straighten(terminator)));
            return;
        }
        const std::string shown = straighten(statement);
        switch (evaluate_condition(shown, data)) {
            case Condition::True:
                doc.replace(term, term + terminator.size(), "");
                doc.replace(start, after, "");
                break;
            case Condition::False:
                if (doc.crosses(start, term + terminator.size()))
                    throw TemplateError(
                        quoted_statement("The passage of the following conditional statement from the "
                                         "template document reaches across a table cell, a header, "
                                         "a footer or a frame, so it cannot be left out:",
                                         shown));
                doc.replace(start, term + terminator.size(), "");
                break;
            case Condition::SyntaxError:
                tell(ui, quoted_statement("There is a syntax error in the following conditional statement from "
                                          "the template document:",
                                          shown));
                return;
            case Condition::UnknownField:
                tell(ui,
                     "The name of the field in the following statement from the\ntemplate document does not "
                     "exist:\n\n\t" +
                         shown);
                return;
            case Condition::TypeMismatch:
                tell(ui,
                     "There is a string/number type mismatch in the following\nstatement from the template "
                     "document:\n\n\t" +
                         shown);
                return;
        }
        pos = start;
    }
}

// Plain fields (formatted = false) keep the character after the marker; formatted fields take
// their format from between the brackets.
void fill_fields(Document& doc, const AnalysisData& data, Ui& ui, bool formatted) {
    static const std::regex plain_re(kPlainFieldPattern);
    static const std::regex formatted_re(kFormattedFieldPattern);
    std::size_t pos = 0;
    std::smatch m;
    while (doc.find(formatted ? formatted_re : plain_re, pos, m)) {
        const std::size_t start = pos + static_cast<std::size_t>(m.position(0));
        const std::string found = m.str(0);
        const std::size_t close = found.find('>');
        const std::string name = found.substr(1, close - 1);
        const std::size_t end = start + (formatted ? found.size() : close + 1);
        const int n = data.get_field_number(name);
        if (n == 0) {
            tell(ui,
                 "The name of the field in the following statement from the\ntemplate document does not "
                 "exist:\n\n\t" +
                     name);
            pos = end;
            continue;
        }
        std::string value;
        try {
            value = data.format_field(n, formatted ? found.substr(close + 2, found.size() - close - 3) : "");
        } catch (const AnalysisData::ExceptField&) {
            // A format that does not suit the field (or is unsafe) is a fault of the template.
            tell(ui, quoted_statement("There is a syntax error in the following conditional statement from the "
                                      "template document:",
                                      straighten(found)));
            pos = end;
            continue;
        }
        doc.replace(start, end, value);
        pos = start + value.size();
    }
}

}  // namespace

std::string straighten(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        switch (static_cast<unsigned char>(c)) {
            case '`':
            case '\'':
            case 0x84:
            case 0x8E:
            case 0x92:
            case 0x93:
            case 0x94: c = '"'; break;
            default: break;
        }
    }
    return out;
}

Condition evaluate_condition(std::string_view statement, const AnalysisData& data) {
    if (statement.size() < 2 || statement.front() != '<' || statement.back() != ']') return Condition::SyntaxError;
    const std::size_t close = statement.find('>');
    if (close == statement.npos || close < 2 || close + 1 >= statement.size() || statement[close + 1] != '[')
        return Condition::SyntaxError;
    const std::string name(statement.substr(1, close - 1));
    std::string_view rest = statement.substr(close + 2, statement.size() - close - 3);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    std::string_view op;
    for (std::string_view candidate : kOperators)
        if (rest.substr(0, candidate.size()) == candidate) {
            op = candidate;
            break;
        }
    if (op.empty()) return Condition::SyntaxError;
    rest.remove_prefix(op.size());
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    bool quoted = false;
    std::string value;
    if (!rest.empty() && rest.front() == '"') {
        const std::size_t q = rest.find('"', 1);
        if (q == rest.npos) return Condition::SyntaxError;
        std::string_view tail = rest.substr(q + 1);
        while (!tail.empty() && tail.front() == ' ') tail.remove_prefix(1);
        if (!tail.empty()) return Condition::SyntaxError;
        value = std::string(rest.substr(1, q - 1));
        quoted = true;
    } else {
        value = std::string(rest);
    }
    const int n = data.get_field_number(name);
    if (n == 0) return Condition::UnknownField;
    try {
        return test(op, value, quoted, n, data);
    } catch (const AnalysisData::ExceptField&) {
        return Condition::TypeMismatch;
    }
}

std::string letter_file_name(const std::string& description) {
    std::string name;
    for (char c : description)
        if (is_valid_name_char(c) && static_cast<unsigned char>(c) >= 0x20) name += c;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    return name.empty() ? "Letter" : name;
}

std::vector<LetterEdit> plan_letter(WordProcessor& wp, const AnalysisData& data, Ui& ui) {
    Document doc{wp.text(), wp.part_breaks(), {}};
    for (std::size_t i = 0; i < doc.breaks.size(); ++i)
        if (doc.breaks[i] >= doc.text.size() || doc.text[doc.breaks[i]] != '\n' ||
            (i > 0 && doc.breaks[i] <= doc.breaks[i - 1]))
            throw WordProcessorError("the word processor's parts do not match its text");
    join_lines(doc);
    keep_or_drop_passages(doc, data, ui);
    fill_fields(doc, data, ui, false);
    fill_fields(doc, data, ui, true);
    return std::move(doc.edits);
}

void apply_letter(WordProcessor& wp, const std::vector<LetterEdit>& edits) { wp.replace_all(edits); }

}  // namespace tv::letters
