#include "tolbex/archive/report_types.h"

#include <langinfo.h>
#include <locale.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <optional>
#include <unordered_map>
#include "common/civil_days.h"

#include "common/files.h"
#include "common/report_files.h"
#include "common/text.h"
#include "common/values.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/system.h"

namespace tv {

namespace {

struct TypeInfo {
    ReportType code;
    const char* extension;
    const char* name;
    const char* store_name;
    const char* description;
};

// 512 has no extension; 520 shares ".IMG" with 519 but the lookup below never yields it.
constexpr TypeInfo kTypes[] = {
    {kReportFull, ".FUL", "Full", "Full", "With recording"},
    {kReportPartial, ".PRT", "Partial", "Partial", "Report"},
    {kReportUntyped, "", "", "", "Unknown"},
    {kReportRawEcg, ".RAW", "RAW ECG", "RAW ECG", "Raw ECG"},
    {kReportOstrabel, ".OSB", "Ostrabel", "Ostrabel", "Ostrabel Recording"},
    {kReportOstrabelCf, ".CFR", "OstrabelCF", "OstrabelCF", "Ostrabel CF Recording"},
    {kReportCef, ".CEF", "CEF", "CEF", "Compressed ECG report"},
    {kReportNoske, ".NOS", "NOSKE", "NOSKE", "NOSKE Report"},
    {kReportGavrille, ".QDS", "Gavrille", "Gavrille", "Gavrille"},
    {kReportFormatted, ".IMG", "Formatted", "Formatted", "Formatted"},
    {kReportFormatted520, ".IMG", "Formatted", "Formatted", "Formatted"},
    {kReportVarUdiri, ".RR", "VAR Udiri", "VAR Udiri", "VAR Udiri"},
    {kReportSigned, ".SGN", "Signed Report", "Signed Report", "Signed Report"},
    {kReportTimiData, ".TIM", "TIMI Data", "TIMI Data", "TIMI Data"},
    {kReportTimiSummary, ".SUM", "TIMI Summary", "TIMI Summary", "TIMI Summary"},
    {kReportFullOstrabel12, ".O12", "Full Ostrabel12", "Full Ostrabel 12", "Full Ostrabel 12"},
    {kReportTimiArrhythmia, ".ARR", "TIMI Arrhythmia Summary", "TIMI Arrhythmia Summary", "TIMI Arrhythmia Summary"},
};

// The order in which folder extensions are tried.
constexpr ReportType kLookupOrder[] = {
    kReportFull,       kReportPartial,  kReportFormatted,   kReportRawEcg,         kReportOstrabel,
    kReportOstrabelCf, kReportCef,      kReportNoske,       kReportGavrille,       kReportVarUdiri,
    kReportSigned,     kReportTimiData, kReportTimiSummary, kReportFullOstrabel12, kReportTimiArrhythmia,
};

const TypeInfo* find_type(ReportType type) {
    if (type < kReportFull || type > kReportTimiArrhythmia) return nullptr;
    return &kTypes[type - kReportFull];
}

bool is_control(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

bool local_time(std::int64_t time, std::tm& tm) {
    if (time < static_cast<std::int64_t>(LLONG_MIN / 2) || time > static_cast<std::int64_t>(LLONG_MAX / 2))
        return false;
    const auto t = static_cast<std::time_t>(time);
    return ::localtime_r(&t, &tm) != nullptr;
}

// The user's time format without its seconds.
std::string drop_seconds(std::string format) {
    auto replace_all = [&](std::string_view from, std::string_view to) {
        for (std::size_t p = format.find(from); p != std::string::npos; p = format.find(from, p + to.size()))
            format.replace(p, from.size(), to);
    };
    replace_all("%T", "%H:%M");
    replace_all("%r", "%I:%M %p");
    replace_all(":%S", "");
    replace_all(".%S", "");
    replace_all("%S", "");
    return format;
}

}  // namespace

ReportType report_type_from_path(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) return kReportUnknown;
    const std::string_view tail = path.substr(dot);
    if (tail.find('/') != std::string_view::npos || tail.size() > 7) return kReportUnknown;
    for (ReportType code : kLookupOrder)
        if (platform::iequals(tail, find_type(code)->extension)) return code;
    return kReportUnknown;
}

bool is_formatted_type(ReportType type) { return type == kReportFormatted || type == kReportFormatted520; }

std::string report_type_extension(ReportType type) {
    const TypeInfo* t = find_type(type);
    return t ? t->extension : "";
}

std::string report_type_name(ReportType type) {
    const TypeInfo* t = find_type(type);
    return t ? t->name : "";
}

std::string report_type_store_name(ReportType type) {
    const TypeInfo* t = find_type(type);
    return t ? t->store_name : "";
}

std::string report_type_description(ReportType type) {
    const TypeInfo* t = find_type(type);
    return t ? t->description : "Unknown";
}

bool is_confirmed_size_text(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_space_char(text[i])) ++i;
    const std::size_t digits = i;
    while (i < text.size() && is_digit(text[i])) ++i;
    return i > digits && i < text.size() && text[i] == 'C';
}

std::string sanitize_index_line(std::string_view text, std::size_t limit, std::string_view fallback) {
    std::string out(text.substr(0, limit));
    for (char& c : out)
        if (is_control(c)) c = ' ';
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.empty()) out.assign(fallback.substr(0, limit));
    return out;
}

std::string sanitize_description(std::string_view text) {
    return sanitize_index_line(text, kIndexDescriptionMax, kEmptyDescriptionText);
}

std::string format_file_date_text(std::int64_t time) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    if (!local_time(time, tm) || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11) {
        tm = std::tm{};
        if (!local_time(0, tm)) return "Thu Jan 01 00:00:00 1970";
    }
    return format_string("%.3s %.3s %02d %02d:%02d:%02d %d", kDays[tm.tm_wday], kMonths[tm.tm_mon], tm.tm_mday,
                         tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
}

std::string format_display_date_text(std::int64_t time) {
    std::tm tm{};
    if (!local_time(time, tm)) return {};
    // The user's locale for this call only; the process-wide locale stays as it is.
    locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc) loc = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    if (!loc) return {};
    const std::string format =
        std::string(::nl_langinfo_l(D_FMT, loc)) + " " + drop_seconds(::nl_langinfo_l(T_FMT, loc));
    char buffer[65];
    const std::size_t n = ::strftime_l(buffer, sizeof buffer, format.c_str(), &tm, loc);
    ::freelocale(loc);
    return std::string(buffer, n);
}

Result<int> get_report_source_product(const std::string& folder) {
    const platform::UniqueFile file = ReportFolder(folder).open_stream("version.txt", ReportFileKind::Text);
    std::FILE* f = file.get();
    if (!f) return 0;
    std::string second;
    int lines = 0;
    std::uint64_t left = report_file_limit(ReportFileKind::Text);
    for (int c; left > 0 && (c = std::getc(f)) != EOF; --left) {
        if (c == '\n') {
            if (++lines == 2) break;
            continue;
        }
        if (lines == 1) {
            // The line is only compared with short names; a longer one cannot match.
            if (second.size() > 64) break;
            second.push_back(static_cast<char>(c));
        }
    }
    if (std::ferror(f) != 0) return fail(1, format_string("File exception, module %s, line %s", ".\\archlist", "163"));
    if (lines < 1) return 0;
    if (!second.empty() && second.back() == '\r') second.pop_back();
    return second == "Gavrille" ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Index dates

namespace {

struct DayBase {
    std::int64_t midnight;
    bool uniform;  // one offset from the day before to the day after: no clock change near it
};

thread_local std::unordered_map<std::int64_t, DayBase>* t_date_cache = nullptr;

std::int64_t make_local(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_isdst = -1;
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

// Seconds east of UTC at `time` by the zone already loaded: unlike mktime, localtime_r does not
// look at the zone file again.
std::optional<std::int64_t> utc_offset_at(std::int64_t time) {
    std::tm tm{};
    if (!local_time(time, tm)) return std::nullopt;
    return tm.tm_gmtoff;
}

// The local midnight of a day, found with four offsets. Uniform when one offset holds from the
// day before to the end of the day after: then that midnight and every time of the day are read
// on no other time, and mktime gives just these. A day near a clock change is not uniform.
DayBase day_base(int year, int month, int day) {
    const std::int64_t local = days_from_civil(year, month + 1, day) * 86400;
    const auto offset = utc_offset_at(local);
    const auto guess = offset ? utc_offset_at(local - *offset) : std::nullopt;
    if (!guess) return {0, false};
    const std::int64_t midnight = local - *guess;
    for (const std::int64_t at : {midnight - 86400, midnight, midnight + 86400, midnight + 2 * 86400})
        if (utc_offset_at(at) != guess) return {0, false};
    return {midnight, true};
}

std::int64_t local_time_of(int year, int month, int day, int hour, int minute, int second) {
    if (t_date_cache && hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
        month >= 0 && month < 12 && day >= 1 && day <= 31) {
        const std::int64_t key = (static_cast<std::int64_t>(year) * 12 + month) * 32 + day;
        auto it = t_date_cache->find(key);
        if (it == t_date_cache->end()) {
            if (t_date_cache->size() > 100000) t_date_cache->clear();
            it = t_date_cache->emplace(key, day_base(year, month, day)).first;
        }
        if (it->second.uniform) return it->second.midnight + hour * 3600 + minute * 60 + second;
    }
    return make_local(year, month, day, hour, minute, second);
}

}  // namespace

ScopedDateCache::ScopedDateCache() {
    if (!t_date_cache) {
        // The zone as it is now, once for the whole read.
        ::tzset();
        t_date_cache = new std::unordered_map<std::int64_t, DayBase>();
        owner_ = true;
    }
}

ScopedDateCache::~ScopedDateCache() {
    if (owner_) {
        delete t_date_cache;
        t_date_cache = nullptr;
    }
}

std::int64_t parse_index_date_text(std::string_view t) {
    auto now = [] { return platform::system().now(); };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!t.empty() && is_digit(t[0])) {
        if (t.size() < 14 || !read_fixed_number(t, 0, 2, day) || !read_fixed_number(t, 3, 2, month) ||
            !read_fixed_number(t, 6, 2, year) || !read_fixed_number(t, 9, 2, hour) ||
            !read_fixed_number(t, 12, 2, minute))
            return now();
        year += year < 90 ? 2000 : 1900;
        month -= 1;
        // The repair tool writes seconds too.
        auto digit = [&](std::size_t at) { return at < t.size() && is_digit(t[at]); };
        if (t.size() >= 17 && t[14] == ':' && digit(15) && digit(16) && !digit(17))
            second = (t[15] - '0') * 10 + (t[16] - '0');
    } else {
        static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
        if (t.size() < 24) return now();
        month = -1;
        for (int m = 0; m < 12; ++m)
            if (t.substr(4, 3) == kMonths.substr(static_cast<std::size_t>(m) * 3, 3)) month = m;
        if (month < 0 || !read_fixed_number(t, 8, 2, day) || !read_fixed_number(t, 11, 2, hour) ||
            !read_fixed_number(t, 14, 2, minute) || !read_fixed_number(t, 17, 2, second) ||
            !read_fixed_number(t, 20, 4, year))
            return now();
    }
    const std::int64_t result = local_time_of(year, month, day, hour, minute, second);
    if (result < 1) return now();
    return result;
}

// ---------------------------------------------------------------------------------------------

std::optional<std::int32_t> read_size_line(std::string_view text) {
    // Digits beyond the range clamp to its bound.
    const ParsedInteger n = parse_integer(text);
    if (!n.has_digits) return std::nullopt;
    return static_cast<std::int32_t>(n.value);
}

namespace {

std::int32_t parse_size_text(std::string_view text) { return read_size_line(text).value_or(0); }

}  // namespace

ReportRecord::ReportRecord(std::string_view /*type_name*/, std::string_view size_text, std::string_view date_text,
                           std::string name, std::string archive_path, std::string description)
    : name_(std::move(name)),
      archive_path_(std::move(archive_path)),
      description_(std::move(description)),
      size_(parse_size_text(size_text)),
      time_(parse_index_date_text(date_text)),
      confirmed_(is_confirmed_size_text(size_text)),
      name_as_read_(true),
      description_as_read_(true) {
    type_ = report_type_from_path(name_);
}

ReportRecord::ReportRecord(std::string name, std::string archive_path, std::string description, std::int32_t size,
                           std::int64_t time, bool confirmed)
    : name_(std::move(name)),
      archive_path_(std::move(archive_path)),
      description_(std::move(description)),
      size_(size),
      time_(time),
      confirmed_(confirmed) {
    type_ = report_type_from_path(name_);
}

void ReportRecord::set_description(std::string_view description) {
    description_ = sanitize_description(description);
    description_as_read_ = false;
}

void ReportRecord::set_name(std::string name) {
    // Written unchanged, the name must not break or blank its line.
    const bool one_line = !name.empty() && name.find('\n') == std::string::npos && name.back() != ' ' &&
                          name.back() != '\t' && name.back() != '\r';
    name_as_read_ = name_as_read_ && one_line;
    name_ = std::move(name);
    type_ = report_type_from_path(name_);
}

bool ReportRecord::has_safe_name() const { return is_safe_path_component(name_); }

std::string ReportRecord::get_folder_path() const {
    if (!has_safe_name()) return {};
    if (auto found = platform::find_name_ci(archive_path_, name_)) return *found;
    return join_path(archive_path_, name_);
}

ReportFolder ReportRecord::open_folder() const {
    if (!has_safe_name()) return {};
    const std::string archive = platform::strip_trailing_slashes(archive_path_);
    const std::size_t slash = archive.rfind('/');
    if (slash == std::string::npos) return ReportFolder::in_group(".", archive, name_);
    return ReportFolder::in_group(slash == 0 ? "/" : archive.substr(0, slash), archive.substr(slash + 1), name_);
}

std::string ReportRecord::get_size_text() const { return format_string("%d", size_); }

std::string ReportRecord::get_confirmed_text() const {
    if (!is_formatted_type(type_)) return {};
    return confirmed_ ? "Yes" : "No";
}

bool is_signed_report_folder(const ReportFolder& folder) {
    return get_extension_upper(folder.path()) == "SGN" || folder.find(kSignedContainerName).has_value();
}

}  // namespace tv
