#include "tolbex/archive/patient_txt.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "common/files.h"
#include "common/text.h"
#include "common/values.h"
#include "platform/fs.h"

namespace tv {

namespace {

void finish_line(std::string& line) {
    const std::size_t nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    trim_trailing_chars(line, " \t\r\n");
}

}  // namespace

// ---- ReportTextReader -------------------------------------------------------------------

ReportTextReader::ReportTextReader(const ReportFolder& folder, std::string_view name) { open(folder, name); }

ReportTextReader::ReportTextReader(const std::string& path) {
    std::string name;
    const ReportFolder folder = folder_of_file(path, name);
    open(folder, name);
}

void ReportTextReader::open(const ReportFolder& folder, std::string_view name) {
    text_ = folder.read(name, ReportFileKind::Text);
}

bool ReportTextReader::failed() const { return !text_; }

int ReportTextReader::next_byte() {
    if (!text_ || pos_ >= text_->size()) return EOF;
    return static_cast<unsigned char>((*text_)[pos_++]);
}

bool ReportTextReader::next_line(std::string& line) {
    line.clear();
    if (!text_) return false;
    bool any = false;
    int c;
    while ((c = next_byte()) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() < kReportTextLineMax) line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    finish_line(line);
    return true;
}

std::string ReportTextReader::read_rest(std::size_t max) {
    std::string text;
    if (!text_) return text;
    int c;
    bool pending_cr = false;
    while (text.size() < max && (c = next_byte()) != EOF) {
        if (pending_cr) {
            pending_cr = false;
            if (c != '\n') {
                text.push_back('\r');
                if (text.size() >= max) break;
            }
        }
        if (c == '\r') {
            pending_cr = true;
            continue;
        }
        text.push_back(static_cast<char>(c));
    }
    if (pending_cr && text.size() < max) text.push_back('\r');
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

// ---- Small files ------------------------------------------------------------------------

std::string find_report_file(const std::string& folder, std::string_view name) {
    auto found = platform::find_name_ci(folder, name);
    return found ? *found : std::string();
}

double parse_version_text(std::string_view line) {
    // The letter (or whatever the first non-blank character is) comes before the number.
    std::size_t i = 0;
    while (i < line.size() && is_space_char(line[i])) ++i;
    if (i >= line.size() || line[i] == '\0') return 0.0;
    ++i;
    while (i < line.size() && is_space_char(line[i])) ++i;
    if (i < line.size() && line[i] == '+') ++i;
    if (i < line.size() && line[i] == '+') return 0.0;
    double value = 0.0;
    const char* first = line.data() + i;
    const char* last = line.data() + line.size();
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || ptr == first || !std::isfinite(value)) return 0.0;
    return value;
}

double read_report_version(const ReportFolder& report_folder) {
    ReportTextReader reader(report_folder, kVersionTxtName);
    std::string line;
    if (!reader.next_line(line)) return 0.0;
    return parse_version_text(line);
}

double read_report_version(const std::string& report_folder) {
    return read_report_version(ReportFolder(report_folder));
}

std::string patient_item_text(std::string_view line) {
    if (line == "-" || line == "--") return std::string();
    return std::string(line);
}

namespace {

std::optional<std::string> line_of(ReportTextReader& reader, int line_number) {
    if (line_number < 1 || !reader.is_open()) return std::nullopt;
    std::string line;
    for (int i = 1; i <= line_number; ++i)
        if (!reader.next_line(line)) return std::nullopt;
    return line;
}

}  // namespace

std::optional<std::string> read_text_file_line(const std::string& path, int line_number) {
    ReportTextReader reader(path);
    return line_of(reader, line_number);
}

std::optional<std::string> read_text_file_line(const ReportFolder& folder, std::string_view name, int line_number) {
    ReportTextReader reader(folder, name);
    return line_of(reader, line_number);
}

std::optional<std::string> read_recording_id(const ReportFolder& report_folder) {
    auto line = read_text_file_line(report_folder, kPatientTxtName, kPatientTxtRecordingIdLine);
    if (!line) return std::nullopt;
    return patient_item_text(*line);
}

std::optional<std::string> read_recording_id(const std::string& report_folder) {
    return read_recording_id(ReportFolder(report_folder));
}

bool has_confirm_txt(const ReportFolder& report_folder) { return report_folder.has_file(kConfirmTxtName); }

bool has_confirm_txt(const std::string& report_folder) { return has_confirm_txt(ReportFolder(report_folder)); }

std::optional<std::string> read_confirming_user(const ReportFolder& report_folder) {
    auto line = read_text_file_line(report_folder, kConfirmTxtName, 1);
    if (!line || line->empty()) return std::nullopt;
    return line;
}

std::optional<std::string> read_confirming_user(const std::string& report_folder) {
    return read_confirming_user(ReportFolder(report_folder));
}

// ---- Dates ------------------------------------------------------------------------------

namespace {

struct DateToken {
    enum Kind { Number, Word, Colon, Separator } kind;
    std::string_view text;
    int value = 0;  // Number
};

bool tokenize_date(std::string_view text, std::vector<DateToken>& tokens) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (is_space_char(c) || c == ',') {
            ++i;
        } else if (is_digit(c)) {
            std::size_t j = i;
            while (j < text.size() && is_digit(text[j])) ++j;
            if (j - i > 4) return false;
            DateToken t{DateToken::Number, text.substr(i, j - i)};
            t.value = static_cast<int>(parse_integer(t.text).value);
            tokens.push_back(t);
            i = j;
        } else if (is_alpha(c)) {
            std::size_t j = i;
            while (j < text.size() && is_alpha(text[j])) ++j;
            tokens.push_back({DateToken::Word, text.substr(i, j - i)});
            i = j;
        } else if (c == ':') {
            tokens.push_back({DateToken::Colon, text.substr(i, 1)});
            ++i;
        } else if (c == '/' || c == '.' || c == '-') {
            tokens.push_back({DateToken::Separator, text.substr(i, 1)});
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

int month_from_name(std::string_view word) {
    static const char* const names[] = {"january", "february", "march",     "april",   "may",      "june",
                                        "july",    "august",   "september", "october", "november", "december"};
    const std::string lower = to_lower_copy(std::string(word));
    for (int m = 0; m < 12; ++m) {
        const std::string_view full = names[m];
        if (lower == full || (lower.size() >= 3 && full.substr(0, lower.size()) == lower)) return m + 1;
    }
    if (lower == "sept") return 9;
    return 0;
}

bool is_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && is_leap(y) ? 29 : days[m - 1];
}

int expand_year(const DateToken& t) {
    if (t.text.size() <= 2) return t.value < 30 ? 2000 + t.value : 1900 + t.value;
    return t.value;
}

bool valid_date(int y, int m, int d) {
    return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= days_in_month(y, m);
}

}  // namespace

std::optional<PatientDate> parse_patient_date(std::string_view text, int date_order) {
    std::vector<DateToken> tokens;
    if (!tokenize_date(text, tokens)) return std::nullopt;

    std::vector<DateToken> numbers;
    int month_name = 0;
    bool have_time = false;
    int hour = 0, minute = 0, second = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const DateToken& t = tokens[i];
        if (t.kind == DateToken::Number && i + 1 < tokens.size() && tokens[i + 1].kind == DateToken::Colon) {
            if (have_time || t.text.size() > 2) return std::nullopt;
            have_time = true;
            hour = t.value;
            i += 2;
            if (i >= tokens.size() || tokens[i].kind != DateToken::Number || tokens[i].text.size() > 2)
                return std::nullopt;
            minute = tokens[i].value;
            if (i + 1 < tokens.size() && tokens[i + 1].kind == DateToken::Colon) {
                i += 2;
                if (i >= tokens.size() || tokens[i].kind != DateToken::Number || tokens[i].text.size() > 2)
                    return std::nullopt;
                second = tokens[i].value;
            }
            if (i + 1 < tokens.size() && tokens[i + 1].kind == DateToken::Word) {
                const std::string ampm = to_lower_copy(std::string(tokens[i + 1].text));
                if (ampm == "am" || ampm == "pm") {
                    if (hour < 1 || hour > 12) return std::nullopt;
                    hour = (hour % 12) + (ampm == "pm" ? 12 : 0);
                    ++i;
                }
            }
            if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
        } else if (t.kind == DateToken::Number) {
            if (numbers.size() >= 3) return std::nullopt;
            numbers.push_back(t);
        } else if (t.kind == DateToken::Word) {
            const int m = month_from_name(t.text);
            if (m == 0 || month_name != 0) return std::nullopt;
            month_name = m;
        } else if (t.kind == DateToken::Colon) {
            return std::nullopt;
        }
    }

    PatientDate date;
    date.status = PatientDate::Status::Valid;
    date.hour = hour;
    date.minute = minute;
    date.second = second;

    if (numbers.empty() && month_name == 0) {
        if (!have_time) return std::nullopt;
        date.year = 1899;  // a time alone sits on the zero date
        date.month = 12;
        date.day = 30;
        return date;
    }

    int y = 0, m = 0, d = 0;
    if (month_name != 0) {
        if (numbers.size() != 2) return std::nullopt;
        m = month_name;
        const DateToken& a = numbers[0];
        const DateToken& b = numbers[1];
        if (a.text.size() >= 3 || a.value > 31) {
            y = expand_year(a);
            d = b.value;
        } else {
            d = a.value;
            y = expand_year(b);
        }
        if (!valid_date(y, m, d)) return std::nullopt;
    } else {
        if (numbers.size() != 3) return std::nullopt;
        const DateToken& a = numbers[0];
        const DateToken& b = numbers[1];
        const DateToken& c = numbers[2];
        if (a.text.size() >= 3 || date_order == 2) {
            y = expand_year(a);
            m = b.value;
            d = c.value;
        } else {
            y = expand_year(c);
            m = date_order == 1 ? b.value : a.value;
            d = date_order == 1 ? a.value : b.value;
            // Day and month the other way round when the locale's order cannot be meant.
            if (!valid_date(y, m, d) && valid_date(y, d, m)) std::swap(m, d);
        }
        if (!valid_date(y, m, d)) return std::nullopt;
    }
    date.year = y;
    date.month = m;
    date.day = d;
    return date;
}

std::optional<PatientDate> parse_patient_date(std::string_view text) {
    return parse_patient_date(text, get_locale_date_order());
}

// ---- PatientTxt -------------------------------------------------------------------------

void PatientTxt::clear() { *this = PatientTxt(); }

bool PatientTxt::read(const std::string& path) {
    ReportTextReader reader(platform::resolve_path_ci(path));
    return read_from(reader);
}

bool PatientTxt::read_from(ReportTextReader& reader) {
    clear();
    if (!reader.is_open()) return false;

    std::string lines[kPatientTxtLastItemLine + 1];
    for (int n = 1; n <= kPatientTxtLastItemLine; ++n) {
        if (!reader.next_line(lines[n])) {
            clear();
            return false;
        }
    }
    auto item = [&](int n) { return patient_item_text(lines[n]); };
    auto date = [&](int n, PatientDate& into) {
        const std::string text = item(n);
        if (is_blank(text)) return true;  // unknown date
        auto parsed = parse_patient_date(text);
        if (!parsed) return false;
        into = *parsed;
        return true;
    };

    m_name = item(3);
    if (!date(4, m_dob)) {
        clear();
        return false;
    }
    const std::string age = item(5);
    if (!age.empty()) m_age = static_cast<std::int32_t>(parse_integer(age).value);
    m_sex = item(6);
    m_operator = item(7);
    m_recording_id = item(8);
    m_patient_number = item(9);
    m_physician = item(10);
    m_insurer = item(11);
    m_hospital = item(12);
    if (!date(13, m_recording_date)) {
        clear();
        return false;
    }
    m_recorder_id = item(14);
    if (!date(16, m_analysis_date)) {
        clear();
        return false;
    }
    m_loaded = true;
    return true;
}

bool PatientTxt::read_folder(const ReportFolder& report_folder) {
    ReportTextReader reader(report_folder, kPatientTxtName);
    return read_from(reader);
}

bool PatientTxt::read_folder(const std::string& report_folder) { return read_folder(ReportFolder(report_folder)); }

}  // namespace tv
