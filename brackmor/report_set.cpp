#include "brackmor/report_set.h"

#include <climits>

#include "brackmor/folder_tools.h"
#include "brackmor/reporter.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"

namespace tv::brackmor {

namespace {

constexpr std::size_t kReportNameMax = 63;

KnownType make_type(ReportType code, std::vector<std::string> required, std::vector<std::string> more_names = {},
                    bool keep_name_as_read = false) {
    std::vector<std::string> names{report_type_name(code)};
    const std::string store_name = report_type_store_name(code);
    if (store_name != names[0]) names.push_back(store_name);
    for (auto& n : more_names) names.push_back(std::move(n));
    return KnownType{code, std::move(names), keep_name_as_read, report_type_extension(code).substr(1),
                     std::move(required)};
}

// A size line as a number: leading blanks, an optional sign, digits; held within 32 bits.
std::int32_t parse_size(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), std::int64_t{INT32_MAX} + 1);
    if (negative) return static_cast<std::int32_t>(std::max<std::int64_t>(-value, INT32_MIN));
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX));
}

bool matches_pattern(std::string_view text, std::string_view pattern) {
    if (text.size() < pattern.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = text[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool digit = c >= '0' && c <= '9';
        switch (pattern[i]) {
            case 'X':
                if (!letter) return false;
                break;
            case '#':
                if (!digit) return false;
                break;
            case '?': break;
            default:
                if (c != pattern[i]) return false;
        }
    }
    return true;
}

// The next non-empty line of a report text file; empty at its end.
std::string next_text_line(ReportTextReader& reader) {
    std::string line;
    while (reader.next_line(line))
        if (!line.empty()) return line;
    return {};
}

std::string cut(std::string text, std::size_t max) {
    if (text.size() > max) text.resize(max);
    return text;
}

}  // namespace

const std::vector<KnownType>& known_types() {
    // The formatted report needs its summary and page 0 only: one-page reports and 12-lead
    // reports whose pages are all pictures are shown by the browser and must not be dropped. The
    // browser's further types need nothing but their folder.
    static const std::vector<KnownType> types = {
        make_type(kReportPartial, {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"}),
        make_type(kReportFull, {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT", "RAWECG1.DAT"}),
        make_type(kReportFormatted, {"SUMMARY.TXT", "PAGE.0"}),
        make_type(kReportRawEcg, {"MAIN.DAT", "RAWECG1.DAT"}),
        make_type(kReportOstrabel, {}),
        make_type(kReportOstrabelCf, {"ECG.DAT", "CONFIG.DAT"}, {"Ostrabel CF"}),
        make_type(kReportCef, {"*.CEF"}),
        make_type(kReportNoske, {"NOSKE1_PAR.TXT", "NOSKE1_S.DAT", "NOSKE1_J.DAT", "NOSKE1_QTN.DAT", "NOSKE1_QTO.DAT",
                                 "NOSKE1_R.DAT", "NOSKE1_RRC.DAT", "NOSKE1_RRN.DAT"}),
        make_type(kReportGavrille, {"ARCHIVE.XML"}),
        make_type(kReportTimiData, {"DATA.TIMI"}),
        make_type(kReportTimiSummary, {"TIMI_SUMMARY.TXT"}),
        make_type(kReportTimiArrhythmia, {"TIMI_ARRH.TXT"}),
        make_type(kReportSigned, {}),
        make_type(kReportFullOstrabel12, {}, {}, true),
        make_type(kReportVarUdiri, {}),
    };
    return types;
}

const KnownType* type_by_name(std::string_view name) {
    for (const KnownType& t : known_types())
        for (const std::string& n : t.names)
            if (n == name) return &t;
    return nullptr;
}

const KnownType* type_by_suffix(std::string_view suffix) {
    const std::string upper = to_upper_copy(std::string(suffix));
    for (const KnownType& t : known_types())
        if (t.suffix == upper) return &t;
    return nullptr;
}

bool is_date_text(std::string_view text) {
    return matches_pattern(text, "XXX XXX ?# ##:##:## ####") || matches_pattern(text, "##/##/## ##:##:##");
}

std::string report_name(const std::string& folder, bool fallback) {
    std::string name;
    const std::string patient = find_report_file(folder, kPatientTxtName);
    ReportTextReader patient_reader(patient.empty() ? folder + "/" + kPatientTxtName : patient);
    if (patient_reader.is_open()) {
        if (!next_text_line(patient_reader).empty() && !next_text_line(patient_reader).empty())
            name = cut(without_control_characters(next_text_line(patient_reader)), kReportNameMax);
    } else {
        // The TIMI files: the lines to skip and the label before the patient identifier.
        struct TimiFile {
            const char* name;
            int skip;
            std::size_t label;
        };
        static constexpr TimiFile kTimiFiles[] = {{"DATA.TIMI", 1, 15},
                                                  {"TIMI_SUMMARY.TXT", 2, 15},
                                                  {"TIMI_ARRH.TXT", 2, 14}};
        for (const TimiFile& f : kTimiFiles) {
            const std::string path = find_report_file(folder, f.name);
            if (path.empty()) continue;
            ReportTextReader reader(path);
            if (!reader.is_open()) continue;
            for (int i = 0; i < f.skip; ++i) next_text_line(reader);
            const std::string line = next_text_line(reader);
            name = cut("Patient " + (line.size() > f.label ? line.substr(f.label) : std::string()), kReportNameMax);
            break;
        }
    }
    if (name.size() >= 4) return name;
    if (!fallback) return {};
    const std::size_t slash = folder.find_last_of('/');
    return (slash == std::string::npos ? folder : folder.substr(slash + 1)) + ": " + now_text();
}

ReportSet::ReportSet(std::string archive_folder, Options options, Reporter& reporter)
    : folder_(std::move(archive_folder)), options_(options), reporter_(reporter) {
    read_index();
}

void ReportSet::read_index() {
    const auto index = platform::find_name_ci(folder_, kArchiveIndexName);
    if (!index) return;
    const auto lines = read_index_lines(*index);
    if (!lines) {
        readable_ = false;
        reporter_.event("Unable to read the index file " + *index + " - this archive is left as it is.",
                        "CANTREADINDEX:" + *index);
        return;
    }
    const FolderNames reports(folder_);
    listings_ = reports.read_subfolders();
    std::size_t pos = 0;
    auto next = [&]() -> std::string { return pos < lines->size() ? (*lines)[pos++] : std::string(); };
    bool report = true;
    while (pos < lines->size()) {
        const std::size_t noted = pos;
        ReportEntry e;
        e.name = next();
        if (e.name.empty()) continue;  // a line of blanks where a name belongs
        e.description = next();
        e.date = next();
        std::string size_text;
        if (is_date_text(e.description) && !is_date_text(e.date)) {
            size_text = std::move(e.date);
            e.date = std::move(e.description);
            e.description = kBlankDescription;
        } else {
            if (e.description.empty()) e.description = kBlankDescription;
            size_text = next();
        }
        e.size = parse_size(size_text);
        make_upper_in_place(e.name);
        const std::string type_line = next();
        e.type = type_by_name(type_line);
        if (!e.type) {
            e.reason = Reason::UnknownType;
        } else {
            e.type_name = e.type->keep_name_as_read ? type_line : e.type->names[0];
            if (!is_date_text(e.date)) {
                e.type = nullptr;
                e.reason = Reason::BadDate;
            }
        }
        check_against_folder(e, reports);
        reporter_.console("Checking report " + e.description + " (" + e.name + ")\n");
        if (e.type) {
            listed_.insert(e.name);
            records_.push_back(std::move(e));
            report = true;
            continue;
        }
        // A record whose type and folder fit was read in step, whatever its files say.
        if (e.reason == Reason::FilesMissing) report = true;
        if (report) {
            ++removed_;
            reporter_.event("Removed " + e.description + " because " + e.name + " is invalid.",
                            "REMOVEDREPORT:" + e.description + "\nWITHNAME:" + e.name);
            if (e.reason == Reason::FilesMissing && options_.delete_reports) {
                if (auto folder = reports.find_folder(e.name)) delete_report_folder(folder_ + "/" + *folder);
            }
        }
        if (e.reason != Reason::FilesMissing) {
            pos = noted + 1;
            report = false;
        }
    }
}

void ReportSet::check_against_folder(ReportEntry& e, const FolderNames& reports) {
    if (!e.type) return;
    auto invalid = [&](Reason reason) {
        e.type = nullptr;
        e.reason = reason;
    };
    const std::size_t dot = e.name.find('.');
    if (e.name.find('.', 1) == std::string::npos) {
        reporter_.event(e.name + " is invalid - directory name has no suffix.", "REPORTINVALIDMISSINGSUFFIX:" + e.name);
        return invalid(Reason::BadSuffix);
    }
    if (!is_safe_name(e.name) || std::string_view(e.name).substr(dot + 1) != e.type->suffix) {
        reporter_.event(e.name + " is invalid - report type and directory suffix disagree.",
                        "REPORTINVALIDBADSUFFIX:" + e.name);
        return invalid(Reason::BadSuffix);
    }
    const auto found = reports.find_folder(e.name);
    const auto known = found ? listings_.find(*found) : listings_.end();
    std::optional<FolderNames> unlisted;
    if (known == listings_.end()) unlisted.emplace(reports, found ? *found : std::string());
    const FolderNames& files = unlisted ? *unlisted : known->second;
    e.confirmed = found && files.find(kConfirmFileName).has_value();
    if (!found || !all_files_exist(files, e.type->required_files)) {
        const std::string path = folder_ + "/" + (found ? *found : e.name);
        reporter_.event(path + " is invalid because of missing files.", "REPORTINVALIDFILESMISSING:" + path);
        invalid(Reason::FilesMissing);
    }
}

void ReportSet::delete_report_folder(const std::string& path) {
    if (!delete_folder(path, reporter_, true)) return;
    ++deleted_;
    reporter_.event("Deleted report directory: " + path, "DELETEDREPORTDIR:" + path);
}

void ReportSet::recover() {
    if (!readable_) return;
    const FolderNames reports(folder_);
    for (const std::string& name : reports.subfolders()) {
        const std::string upper = to_upper_copy(name);
        if (listed_.count(upper)) continue;
        reporter_.console("Checking report directory " + upper + "\n");
        const std::string path = folder_ + "/" + name;
        ReportEntry e;
        e.name = upper;
        e.description = report_name(path, true);
        e.date = modified_date_text(path).value_or(now_text());
        e.size = folder_file_size(path);
        const std::size_t dot = upper.find('.');
        if (upper.find('.', 1) != std::string::npos) e.type = type_by_suffix(std::string_view(upper).substr(dot + 1));
        if (e.type) {
            e.type_name = e.type->names[0];
            check_against_folder(e, reports);
        } else {
            e.reason = Reason::BadSuffix;
        }
        if (e.type) {
            ++recovered_;
            reporter_.event("Recovered: " + e.description, "RECOVERED:" + e.description);
            listed_.insert(upper);
            records_.push_back(std::move(e));
        } else if (options_.delete_reports) {
            delete_report_folder(path);
        }
    }
}

bool ReportSet::write(bool generations) {
    if (!readable_) return false;
    std::optional<std::string> content;
    if (!records_.empty()) {
        content.emplace();
        content->reserve(records_.size() * 96);
        for (const ReportEntry& e : records_) {
            content->append(e.name).append("\r\n").append(e.description).append("\r\n").append(e.date);
            content->append("\r\n").append(std::to_string(e.size)).append(e.confirmed ? "C\r\n" : "\r\n");
            content->append(e.type_name).append("\r\n");
        }
    }
    if (replace_with_generations(folder_, kArchiveIndexName, content, generations)) return true;
    const std::string path = folder_ + "/" + kArchiveIndexName;
    reporter_.event("Unable to write the index file " + path + " - the previous one is kept.",
                    "CANTWRITEINDEX:" + path);
    return false;
}

void ReportSet::rename_all() {
    const FolderNames reports(folder_);
    for (ReportEntry& e : records_) {
        const auto found = reports.find_folder(e.name);
        if (!found) continue;
        const std::string name = report_name(folder_ + "/" + *found, false);
        if (name.empty() || name == e.description) continue;
        reporter_.both("Changing report name from \"" + e.description + "\" to \"" + name + "\"\n");
        e.description = name;
    }
}

}  // namespace tv::brackmor
