#include "tolbex/archive/analysis_data.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <locale.h>

#include "common/files.h"
#include "common/text.h"
#include "common/report_files.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_types.h"

namespace tv {

const std::array<AnalysisFieldDef, kAnalysisFieldCount> analysis_fields = {{
    {"patdet.name", kFieldText},  // 1
    {"patdet.dob", kFieldText},
    {"patdet.age", kFieldText},
    {"patdet.sex", kFieldText},
    {"patdet.operator", kFieldText},  // 5
    {"patdet.recording.id", kFieldText},
    {"patdet.patient.number", kFieldText},
    {"patdet.physician", kFieldText},
    {"patdet.insurer", kFieldText},
    {"patdet.hospital", kFieldText},  // 10
    {"patdet.recording.date", kFieldText},
    {"patdet.recorder.id", kFieldText},
    {"patdet.analysis.date", kFieldText},
    {"patdet.comments", kFieldText},
    {"QRS", kFieldInt},  // 15
    {"normal", kFieldInt},
    {"premature.normal", kFieldInt},
    {"SVT", kFieldInt},
    {"SVT.longest.length", kFieldInt},
    {"SVT.longest.when", kFieldText},  // 20
    {"SVT.fastest.rate", kFieldInt},
    {"SVT.fastest.when", kFieldText},
    {"aberrant", kFieldInt},
    {"premature.aberrant", kFieldInt},
    {"couplet", kFieldInt},  // 25
    {"triplet", kFieldInt},
    {"salvo", kFieldInt},
    {"salvo.longest.length", kFieldInt},
    {"salvo.longest.when", kFieldText},
    {"VT", kFieldInt},  // 30
    {"VT.longest.length", kFieldInt},
    {"VT.longest.when", kFieldText},
    {"VT.fastest.rate", kFieldInt},
    {"VT.fastest.when", kFieldText},
    {"brady", kFieldInt},  // 35
    {"brady.longest.length", kFieldInt},
    {"brady.longest.when", kFieldText},
    {"brady.slowest.rate", kFieldInt},
    {"brady.slowest.when", kFieldText},
    {"dropped", kFieldInt},  // 40
    {"pause", kFieldInt},
    {"pause.longest.length", kFieldReal},
    {"pause.longest.when", kFieldText},
    {"HR.fastest.rate", kFieldInt},
    {"HR.fastest.when", kFieldText},  // 45
    {"HR.slowest.rate", kFieldInt},
    {"HR.slowest.when", kFieldText},
    {"HR.mean", kFieldInt},
    {"paced", kFieldInt},
    {"ST.sNN50", kFieldInt},  // 50
    {"ST.TI", kFieldInt},
    {"ST.events", kFieldInt},
    {"arr.crit.pause", kFieldReal},
    {"arr.crit.dropped", kFieldInt},
    {"arr.crit.VT.min.beats", kFieldInt},  // 55
    {"arr.crit.VT.min.rate", kFieldInt},
    {"arr.crit.salvo.min.beats", kFieldInt},
    {"arr.crit.brady.min.beats", kFieldInt},
    {"arr.crit.brady.max.rate", kFieldInt},
    {"arr.crit.SVT.min.beats", kFieldInt},  // 60
    {"arr.crit.SVT.min.rate", kFieldInt},
    {"arr.premature.aberrant", kFieldInt},
    {"arr.premature.normal", kFieldInt},
    {"ST.analysis.period", kFieldReal},
    {"ST.crit.dev.thresh", kFieldInt},  // 65
    {"ST.crit.event.ref", kFieldInt},
    {"ST.crit.min.duration", kFieldReal},
    {"ST.crit.event.recovery", kFieldReal},
    {"ST.crit.event.hysteresis", kFieldInt},
    {"ST.crit.slope.thresh", kFieldReal},  // 70
    {"ST.filter.time.constant", kFieldInt},
    {"ST.burden.reference", kFieldInt},
    {"ST.pre.post.HR", kFieldReal},
    {"ST.slopes", kFieldInt},
    {"ST.ch1.depressions", kFieldInt},  // 75
    {"ST.ch1.max.dep.value", kFieldInt},
    {"ST.ch1.max.dep.when", kFieldText},
    {"ST.ch1.dep.burden", kFieldInt},
    {"ST.ch1.elevations", kFieldInt},
    {"ST.ch1.max.elev.value", kFieldInt},  // 80
    {"ST.ch1.max.elev.when", kFieldText},
    {"ST.ch1.elev.burden", kFieldInt},
    {"ST.ch2.depressions", kFieldInt},
    {"ST.ch2.max.dep.value", kFieldInt},
    {"ST.ch2.max.dep.when", kFieldText},  // 85
    {"ST.ch2.dep.burden", kFieldInt},
    {"ST.ch2.elevations", kFieldInt},
    {"ST.ch2.max.elev.value", kFieldInt},
    {"ST.ch2.max.elev.when", kFieldText},
    {"ST.ch2.elev.burden", kFieldInt},  // 90
    {"ST.ch3.depressions", kFieldInt},
    {"ST.ch3.max.dep.value", kFieldInt},
    {"ST.ch3.max.dep.when", kFieldText},
    {"ST.ch3.dep.burden", kFieldInt},
    {"ST.ch3.elevations", kFieldInt},  // 95
    {"ST.ch3.max.elev.value", kFieldInt},
    {"ST.ch3.max.elev.when", kFieldText},
    {"ST.ch3.elev.burden", kFieldInt},
    {"AF.count", kFieldInt},
    {"AF.duration", kFieldInt},  // 100
    {"recording.length", kFieldReal},
}};

int analsum_line_kind(int n) {
    if (n < kFirstAnalsumField || n > kAnalysisFieldCount) return -1;
    if (n == kStSlopesField) return kAnalsumFlagsLine;
    // The "when" texts and three rates are printed beside the value before them.
    switch (n) {
        case 20:
        case 22:
        case 29:
        case 32:
        case 34:
        case 37:
        case 39:
        case 43:
        case 45:
        case 47:
        case 56:
        case 59:
        case 61:
        case 77:
        case 81:
        case 85:
        case 89:
        case 93:
        case 97: return kAnalsumSameLine;
        default: return kAnalsumNextLine;
    }
}

const char* AnalysisData::ExceptField::what() const noexcept {
    return code_ == kOutOfRange ? "report field number out of range" : "report field of another type";
}

namespace {

constexpr std::size_t kColumnWidth = 12;

// The columns [first, first + 12) of a line; what the line lacks counts as empty.
std::string_view columns(std::string_view line, std::size_t first) {
    if (first >= line.size()) return {};
    return line.substr(first, kColumnWidth);
}

std::size_t skip_blanks(std::string_view text, std::size_t i) {
    while (i < text.size() && is_space_char(text[i])) ++i;
    return i;
}

// " %d": blanks, an optional sign, digits; the value must fit.
bool scan_int(std::string_view text, std::int32_t& value) {
    const ParsedInteger n = parse_integer(text);
    if (!n.ok()) return false;
    value = static_cast<std::int32_t>(n.value);
    return true;
}

// " %lf" with '.' as decimal point whatever the locale; only finite numbers.
bool scan_double(std::string_view text, double& value) {
    std::size_t i = skip_blanks(text, 0);
    if (i < text.size() && text[i] == '+') {
        ++i;
        if (i >= text.size() || text[i] == '-' || text[i] == '+') return false;
    }
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    return ec == std::errc() && ptr != first && std::isfinite(value);
}

// " %s": one word.
bool scan_word(std::string_view text, std::string& value) {
    std::size_t i = skip_blanks(text, 0);
    std::size_t j = i;
    while (j < text.size() && !is_space_char(text[j]) && text[j] != '\0') ++j;
    if (j == i) return false;
    value.assign(text.substr(i, j - i));
    return true;
}

}  // namespace

AnalysisData::AnalysisData() {
    numbers_.reserve(kAnalysisFieldCount);
    for (int n = 1; n <= kAnalysisFieldCount; ++n) numbers_.emplace(analysis_fields[n - 1].name, n);
}

AnalysisData::AnalysisData(const std::string& report_folder) : AnalysisData() { load(report_folder); }

void AnalysisData::clear_field(int n) {
    ints_[n] = 0;
    doubles_[n] = 0.0;
    texts_[n].clear();
    present_[n] = false;
}

void AnalysisData::load(const std::string& report_folder) {
    for (int n = 1; n <= kAnalysisFieldCount; ++n) clear_field(n);
    if (is_signed_report_folder(ReportFolder(report_folder))) throw SignedFolderError(report_folder);
    version_ = read_report_version(report_folder);

    std::string patient = find_report_file(report_folder, kPatientTxtName);
    if (patient.empty()) patient = join_path(report_folder, kPatientTxtName);
    read_patient_txt(patient, version_);

    std::string analsum = find_report_file(report_folder, kAnalsumTxtName);
    if (analsum.empty()) analsum = join_path(report_folder, kAnalsumTxtName);
    read_analsum_txt(analsum);
}

void AnalysisData::read_patient_txt(const std::string& path, double version) {
    for (int n = 1; n <= kCommentsField; ++n) clear_field(n);
    ReportTextReader reader(path);
    if (!reader.is_open()) throw FileError(path, "cannot open the patient file");

    // Fields for lines 3 onwards; the long layout stores its second copy of the recorder id
    // into field 12 again.
    static const int kLongLayout[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 13};
    static const int kShortLayout[] = {1, 2, 4, 6, 8, 9, 11, 12, 13};
    const bool is_long = version >= kLongPatientLayoutVersion;
    const int* list = is_long ? kLongLayout : kShortLayout;
    const std::size_t count = is_long ? std::size(kLongLayout) : std::size(kShortLayout);

    std::string line;
    bool at_end = !reader.next_line(line) || !reader.next_line(line);
    for (std::size_t k = 0; k < count && !at_end; ++k) {
        if (!reader.next_line(line)) {
            at_end = true;
            break;
        }
        const int n = list[k];
        texts_[n] = patient_item_text(line);
        present_[n] = !texts_[n].empty();
    }
    if (!at_end) {
        std::string comments = reader.read_rest(kPatientCommentsMax);
        if (!comments.empty() && comments.back() == '\n') comments.pop_back();
        texts_[kCommentsField] = std::move(comments);
        present_[kCommentsField] = !texts_[kCommentsField].empty();
    }
    if (reader.failed()) throw FileError(path, "cannot read the patient file");
}

void AnalysisData::read_analsum_txt(const std::string& path) {
    for (int n = kFirstAnalsumField; n <= kAnalysisFieldCount; ++n) clear_field(n);
    ReportTextReader reader(path);
    if (!reader.is_open()) throw FileError(path, "cannot open the analysis summary");

    std::string line;  // the line read last
    for (int n = kFirstAnalsumField; n <= kAnalysisFieldCount; ++n) {
        const int kind = analsum_line_kind(n);
        if (kind != kAnalsumSameLine && !reader.next_line(line)) break;
        if (kind == kAnalsumFlagsLine) {
            if (line.empty()) continue;
            const std::string lower = to_lower_copy(line);
            std::int32_t flags = 0;
            if (lower.find("up") != std::string::npos) flags |= 1;
            if (lower.find("down") != std::string::npos) flags |= 2;
            if (lower.find("level") != std::string::npos) flags |= 4;
            ints_[n] = flags;
            present_[n] = true;
            continue;
        }
        const std::string_view cell = columns(line, kind == kAnalsumSameLine ? kColumnWidth : 0);
        switch (analysis_fields[n - 1].type) {
            case kFieldInt: {
                std::int32_t value = 0;
                if (scan_int(cell, value)) {
                    ints_[n] = n == kAfDurationField ? value / kAfDurationDivisor : value;
                    present_[n] = true;
                }
                break;
            }
            case kFieldReal: {
                double value = 0.0;
                if (scan_double(cell, value)) {
                    doubles_[n] = value;
                    present_[n] = true;
                }
                break;
            }
            default: {
                std::string value;
                if (scan_word(cell, value)) {
                    texts_[n] = std::move(value);
                    present_[n] = true;
                }
                break;
            }
        }
    }
    if (reader.failed()) throw FileError(path, "cannot read the analysis summary");
}

void AnalysisData::check_number(int n) const {
    if (n < 1 || n > kAnalysisFieldCount) throw ExceptField(ExceptField::kOutOfRange);
}

void AnalysisData::check_type(int n, int type) const {
    check_number(n);
    if (analysis_fields[n - 1].type != type) throw ExceptField(ExceptField::kWrongType);
}

bool AnalysisData::is_field_present(int n) const {
    check_number(n);
    return present_[n];
}

int AnalysisData::get_field_type(int n) const {
    check_number(n);
    return analysis_fields[n - 1].type;
}

std::int32_t AnalysisData::get_int(int n) const {
    check_type(n, kFieldInt);
    return ints_[n];
}

double AnalysisData::get_double(int n) const {
    check_type(n, kFieldReal);
    return doubles_[n];
}

std::string AnalysisData::get_string(int n) const {
    check_type(n, kFieldText);
    return texts_[n];
}

void AnalysisData::set_int(int n, std::int32_t value) {
    check_type(n, kFieldInt);
    ints_[n] = value;
    present_[n] = true;
}

void AnalysisData::set_double(int n, double value) {
    check_type(n, kFieldReal);
    doubles_[n] = value;
    present_[n] = true;
}

void AnalysisData::set_string(int n, const std::string& value) {
    check_type(n, kFieldText);
    texts_[n] = value.substr(0, value.find('\0'));
    present_[n] = true;
}

int AnalysisData::get_field_number(std::string_view name) const {
    auto it = numbers_.find(name);
    return it == numbers_.end() ? 0 : it->second;
}

const char* AnalysisData::get_field_name(int n) {
    if (n < 1 || n > kAnalysisFieldCount) return "";
    return analysis_fields[n - 1].name;
}

namespace {

constexpr int kFormatNumberMax = 1024;  // width and precision

// Rebuilds a caller's format around one conversion that suits `type`, with our own length
// modifier, so that the value is always passed as printf expects. Empty when it does not suit.
std::string safe_format(const std::string& format, int type, char& conversion) {
    std::string out;
    int conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '\0') return {};
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += "%%";
            ++i;
            continue;
        }
        if (++conversions > 1) return {};
        std::string conv = "%";
        std::size_t j = i + 1;
        while (j < format.size() && std::string_view("-+ #0").find(format[j]) != std::string_view::npos)
            conv.push_back(format[j++]);
        auto number = [&]() {
            int value = 0;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
                value = value * 10 + (format[j] - '0');
                if (value > kFormatNumberMax) return false;
                conv.push_back(format[j++]);
            }
            return true;
        };
        if (!number()) return {};
        if (j < format.size() && format[j] == '.') {
            conv.push_back(format[j++]);
            if (!number()) return {};
        }
        while (j < format.size() && std::string_view("hlLqjzt").find(format[j]) != std::string_view::npos) ++j;
        if (j >= format.size()) return {};
        conversion = format[j];
        const std::string_view ints = "diuoxXc", reals = "fFeEgGaA";
        if (type == kFieldInt && ints.find(conversion) != std::string_view::npos) {
            if (conversion != 'c') conv += "ll";
        } else if (type == kFieldReal && reals.find(conversion) != std::string_view::npos) {
        } else if (type == kFieldText && conversion == 's') {
        } else {
            return {};
        }
        conv.push_back(conversion);
        out += conv;
        i = j;
    }
    if (conversions != 1) return {};
    return out;
}

// printf takes its decimal point from LC_NUMERIC; the field texts keep '.' under every locale.
// Switches only the calling thread, for as long as the object lives.
class CNumericLocale {
public:
    CNumericLocale() : c_(::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0))) {
        if (c_ != static_cast<locale_t>(0)) previous_ = ::uselocale(c_);
    }
    ~CNumericLocale() {
        if (c_ == static_cast<locale_t>(0)) return;
        ::uselocale(previous_);
        ::freelocale(c_);
    }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    locale_t c_;
    locale_t previous_ = static_cast<locale_t>(0);
};

template <class T>
std::string print_value(const std::string& format, T value) {
    const CNumericLocale c_numbers;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int size = std::snprintf(nullptr, 0, format.c_str(), value);
    if (size <= 0) return std::string();
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), value);
#pragma GCC diagnostic pop
    text.resize(static_cast<std::size_t>(size));
    return text;
}

}  // namespace

std::string AnalysisData::format_field(int n, const std::string& format) const {
    check_number(n);
    const int type = analysis_fields[n - 1].type;
    if (type < kFieldInt || type > kFieldText) throw ExceptField(ExceptField::kWrongType);
    std::string fmt = format;
    if (fmt.empty()) fmt = type == kFieldInt ? "%d" : type == kFieldReal ? "%lf" : "%s";
    char conversion = 0;
    const std::string safe = safe_format(fmt, type, conversion);
    if (safe.empty()) throw ExceptField(ExceptField::kWrongType);
    switch (type) {
        case kFieldInt:
            if (conversion == 'c') return print_value(safe, static_cast<int>(ints_[n]));
            if (conversion == 'd' || conversion == 'i') return print_value(safe, static_cast<long long>(ints_[n]));
            return print_value(safe, static_cast<unsigned long long>(static_cast<std::uint32_t>(ints_[n])));
        case kFieldReal: return print_value(safe, doubles_[n]);
        default: return print_value(safe, texts_[n].c_str());
    }
}

}  // namespace tv
