#include "brackmor/report_set.h"

#include <fcntl.h>

#include <climits>
#include <ctime>

#include "brackmor/folder_tools.h"
#include "brackmor/reporter.h"
#include "common/generations.h"
#include "common/audit_log.h"
#include "common/text.h"
#include "platform/ascii.h"
#include "platform/fs.h"
#include "platform/process_owner.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_folder.h"
#include "tolbex/archive/report_archive.h"

namespace tv::brackmor {

namespace {

constexpr std::size_t kReportNameMax = 63;
constexpr std::time_t kLeftoverAgeSeconds = 24 * 3600;

KnownType make_type(ReportType code) {
    std::vector<std::string> names{report_type_name(code)};
    const std::string store_name = report_type_store_name(code);
    if (store_name != names[0]) names.push_back(store_name);
    return KnownType{code, std::move(names), report_type_extension(code).substr(1)};
}

bool matches_pattern(std::string_view text, std::string_view pattern) {
    if (text.size() < pattern.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = text[i];
        const bool letter = platform::is_alpha(c);
        const bool digit = platform::is_digit(c);
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
    // What each type's folder holds is the archive library's one definition.
    static const std::vector<KnownType> types = [] {
        std::vector<KnownType> out;
        for (ReportType code :
             {kReportPartial, kReportFull, kReportFormatted, kReportRawEcg, kReportOstrabel, kReportOstrabelCf,
              kReportCef, kReportNoske, kReportGavrille, kReportTimiData, kReportTimiSummary, kReportTimiArrhythmia,
              kReportSigned, kReportFullOstrabel12, kReportVarUdiri})
            out.push_back(make_type(code));
        return out;
    }();
    return types;
}

const KnownType* type_by_suffix(std::string_view suffix) {
    const std::string upper = to_upper_copy(std::string(suffix));
    for (const KnownType& t : known_types())
        if (t.suffix == upper) return &t;
    return nullptr;
}

const KnownType* type_of_folder_name(std::string_view name) {
    const std::size_t dot = name.find('.', 1);
    if (dot == std::string_view::npos || !is_safe_name(name)) return nullptr;
    return type_by_suffix(name.substr(dot + 1));
}

bool is_sound_folder(const KnownType& type, const FolderNames& files) {
    return is_sound_report_folder(type.code, files.files());
}

bool is_date_text(std::string_view text) {
    return matches_pattern(text, "XXX XXX ?# ##:##:## ####") || matches_pattern(text, "##/##/## ##:##");
}

std::string report_name(const std::string& folder, bool fallback) {
    std::string name;
    const ReportFolder report(folder);
    ReportTextReader patient_reader(report, kPatientTxtName);
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
            ReportTextReader reader(report, f.name);
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
    : folder_(std::move(archive_folder)), options_(options), reporter_(reporter) {}

void report_lock_failure(Reporter& reporter, const ArchiveIndexLock& lock, bool group) {
    const std::string& folder = lock.folder();
    const std::string what = (group ? "the archive group " : "the archive ") + folder;
    const std::string left = group ? ", so ARCHDIR.DAT is left as it is." : ", so it is left as it is.";
    if (const std::string fault = lock_file_fault_text(lock.lock_file_fault()); !fault.empty()) {
        reporter.event("Unable to lock " + what + " - " + fault + left +
                           " An administrator can delete it while no program uses the archive.",
                       "LOCKDENIED:" + folder);
        return;
    }
    switch (lock.failure()) {
        case platform::LockFailure::NotWritable:
            reporter.event("Unable to lock " + what + " - this account cannot open its lock file " +
                               kIndexLockFileName + " for writing" + left +
                               " The file's owner or an administrator can make it writable for the group.",
                           "LOCKDENIED:" + folder);
            return;
        case platform::LockFailure::ReadOnly:
            reporter.event("Unable to change " + what + " - it is read-only for this account" + left,
                           "READONLY:" + folder);
            return;
        default:
            reporter.event("Unable to lock " + what + " - another program is changing it" + left,
                           (group ? "CANTLOCKGROUP:" : "CANTLOCKARCHIVE:") + folder);
            return;
    }
}

platform::LockFailure worse_lock_failure(platform::LockFailure a, platform::LockFailure b) {
    auto rank = [](platform::LockFailure f) {
        switch (f) {
            case platform::LockFailure::ReadOnly: return 3;
            case platform::LockFailure::NotWritable: return 2;
            case platform::LockFailure::None: return 0;
            default: return 1;
        }
    };
    return rank(a) >= rank(b) ? a : b;
}

void ReportSet::report_busy(const ArchiveIndexLock& lock) {
    lock_failure_ = worse_lock_failure(lock_failure_, lock.failure());
    report_lock_failure(reporter_, lock);
}

void report_settled(Reporter& reporter, const ArchiveIndexLock& lock) {
    for (const std::string& note : lock.notes()) reporter.event(note, "SETTLED:" + note);
}

bool delete_under_hidden_name(const std::string& path, Reporter& reporter) {
    const std::string hidden = archive_io::hide_folder(path);
    if (hidden.empty()) {
        reporter.event("Unable to delete " + path + " - it cannot be renamed.", "CANTDELETE:" + path);
        return false;
    }
    return delete_folder(hidden, reporter, false);
}

ReportSet::Outcome ReportSet::check() {
    {
        const ArchiveIndexLock lock(folder_);
        if (!lock.held()) {
            report_busy(lock);
            return Outcome::Busy;
        }
        report_settled(reporter_, lock);
        if (archive_unreadable()) return Outcome::Done;
        if (!read_index()) return Outcome::Failed;
        recover(FolderNames(folder_));
        if (!write(true)) return Outcome::Failed;
    }
    return delete_offered() ? Outcome::Done : Outcome::Busy;
}

ReportSet::Outcome ReportSet::rename_all() {
    const ArchiveIndexLock lock(folder_);
    if (!lock.held()) {
        report_busy(lock);
        return Outcome::Busy;
    }
    report_settled(reporter_, lock);
    if (archive_unreadable()) return Outcome::Done;
    if (!read_index()) return Outcome::Failed;
    const FolderNames reports(folder_);
    for (ReportEntry& e : records_) {
        const auto found = e.link ? std::nullopt : reports.find_folder(e.name);
        if (!found) continue;
        const std::string name = report_name(folder_ + "/" + *found, false);
        if (name.empty() || name == e.description) continue;
        reporter_.both("Changing report name from \"" + e.description + "\" to \"" + name + "\"\n");
        e.description = name;
    }
    return write(false) ? Outcome::Done : Outcome::Failed;
}

bool ReportSet::archive_unreadable() {
    // An archive this account cannot list would read as one without reports.
    const FolderJudgement judged = judge_folder(AT_FDCWD, folder_);
    if (!judged.unknown()) return false;
    ++unreadable_;
    reporter_.event(unreadable_folder_text(folder_, judged) + " - this archive is left as it is.",
                    "ARCHIVEUNREADABLE:" + folder_);
    return true;
}

bool ReportSet::read_index() {
    records_.clear();
    listed_.clear();
    const auto index = platform::find_name_ci(folder_, kArchiveIndexName);
    if (!index) return true;
    if (is_link(*index)) {
        reporter_.event(*index + " is a link - this archive is left as it is.", "INDEXISLINK:" + *index);
        return false;
    }
    const auto lines = read_index_lines(*index);
    if (!lines) {
        reporter_.event("Unable to read the index file " + *index + " - this archive is left as it is.",
                        "CANTREADINDEX:" + *index);
        return false;
    }
    const FolderNames reports(folder_);
    listings_ = reports.read_subfolders();

    // Lines that fit no record, from the first of them to the next record that fits: the first
    // is reported as a removed report, unless there are too few of them to have been one.
    std::optional<ReportEntry> misfit;
    std::size_t misfit_start = 0;
    auto end_misfit = [&](std::size_t end) {
        if (!misfit) return;
        const std::size_t run = end - misfit_start;
        if (run >= 4) {
            reporter_.console("Checking report " + misfit->description + " (" + misfit->name + ")\n");
            if (misfit->reason == Reason::BadSuffix) {
                if (misfit->name.find('.', 1) == std::string::npos)
                    reporter_.event(misfit->name + " is invalid - directory name has no suffix.",
                                    "REPORTINVALIDMISSINGSUFFIX:" + misfit->name);
                else
                    reporter_.event(misfit->name + " is invalid - report type and directory suffix disagree.",
                                    "REPORTINVALIDBADSUFFIX:" + misfit->name);
            }
            report_removed(*misfit);
        } else {
            reporter_.event(format_string("Passed over %zu line(s) of %s that belong to no report.", run,
                                          index->c_str()),
                            "STRAYLINES:" + *index);
        }
        misfit.reset();
    };

    std::size_t pos = 0;
    auto next = [&]() -> std::string { return pos < lines->size() ? (*lines)[pos++] : std::string(); };
    while (pos < lines->size()) {
        const std::size_t noted = pos;
        ReportEntry e;
        e.name_line = next();
        if (e.name_line.empty()) continue;  // a line of blanks where a name belongs
        e.name = to_upper_copy(e.name_line);
        e.description = next();
        e.date = next();
        if (is_date_text(e.description) && !is_date_text(e.date)) {
            e.size_line = std::move(e.date);
            e.date = std::move(e.description);
            e.description = kBlankDescription;
        } else {
            if (e.description.empty()) e.description = kBlankDescription;
            e.size_line = next();
        }
        e.type_line = next();
        check_fit(e, reports);
        if (e.reason != Reason::None) {
            if (!misfit) {
                misfit = std::move(e);
                misfit_start = noted;
            }
            pos = noted + 1;
            continue;
        }
        end_misfit(noted);
        reporter_.console("Checking report " + e.description + " (" + e.name + ")\n");
        check_against_folder(e, reports);
        if (e.reason == Reason::FilesMissing) {
            report_removed(e);
            if (options_.delete_reports)
                if (auto folder = reports.find_folder(e.name)) offer_for_deletion(*folder);
            continue;
        }
        listed_.insert(e.name);
        records_.push_back(std::move(e));
    }
    end_misfit(lines->size());
    return true;
}

void ReportSet::check_fit(ReportEntry& e, const FolderNames& reports) const {
    e.type = type_of_folder_name(e.name);
    auto misfit = [&](Reason reason) {
        e.type = nullptr;
        e.reason = reason;
    };
    if (!e.type) return misfit(Reason::BadSuffix);
    if (!is_date_text(e.date)) return misfit(Reason::BadDate);
    if (!read_size_line(e.size_line)) return misfit(Reason::OutOfStep);
    // A missing type-name line: the next record's name took its place.
    if (type_of_folder_name(e.type_line) && reports.find(e.type_line)) return misfit(Reason::OutOfStep);
}

void ReportSet::check_against_folder(ReportEntry& e, const FolderNames& reports) {
    if (const auto link = reports.find_link(e.name); link && !reports.find_folder(e.name)) {
        const std::string path = folder_ + "/" + *link;
        reporter_.event(path + " is a link - its record is left as it is.", "REPORTISLINK:" + path);
        e.link = true;
        e.confirmed = is_confirmed_size_text(e.size_line);
        return;
    }
    const auto found = reports.find_folder(e.name);
    const auto known = found ? listings_.find(*found) : listings_.end();
    std::optional<FolderNames> unlisted;
    if (known == listings_.end()) unlisted.emplace(reports, found ? *found : std::string());
    const FolderNames& files = unlisted ? *unlisted : known->second;
    if (found && files.judgement().unknown()) {
        const std::string path = folder_ + "/" + *found;
        ++unreadable_;
        reporter_.event(unreadable_folder_text(path, files.judgement()) + " - its record is left as it is.",
                        "REPORTUNREADABLE:" + path);
        e.unreadable = true;
        e.confirmed = is_confirmed_size_text(e.size_line);
        return;
    }
    e.confirmed = found && files.find(kConfirmFileName).has_value();
    if (!found || !is_sound_folder(*e.type, files)) {
        const std::string path = folder_ + "/" + (found ? *found : e.name);
        reporter_.event(path + " is invalid because of missing files.", "REPORTINVALIDFILESMISSING:" + path);
        e.type = nullptr;
        e.reason = Reason::FilesMissing;
    }
}

void ReportSet::report_removed(const ReportEntry& e) {
    ++removed_;
    reporter_.event("Removed " + e.description + " because " + e.name + " is invalid.",
                    "REMOVEDREPORT:" + e.description + "\nWITHNAME:" + e.name);
}

void ReportSet::recover(const FolderNames& reports) {
    // What an interrupted store or deletion left and taking the lock could not settle (its owner
    // cannot be told, as an older program's or another machine's): nobody lists or shows it, and
    // a day later nothing is still at work on it.
    for (const std::string& name : reports.hidden_subfolders()) {
        const std::string path = folder_ + "/" + name;
        const EntryState entry = reports.probe(name);
        if (!archive_io::is_passing_report_name(name) || entry.kind != EntryKind::Folder ||
            std::time(nullptr) - entry.mtime_ns / 1000000000 < kLeftoverAgeSeconds ||
            platform::owner_state(platform::token_after(name, name.substr(0, 7))) == platform::OwnerState::Alive)
            continue;
        reporter_.event(path + " is left over from an interrupted store or deletion.", "LEFTOVER:" + path);
        if (options_.delete_reports) offer_for_deletion(name);
    }
    for (const std::string& name : reports.links()) {
        const std::string upper = to_upper_copy(name);
        if (listed_.count(upper) || reports.find_folder(name)) continue;
        const std::string path = folder_ + "/" + name;
        reporter_.console("Checking report directory " + upper + "\n");
        reporter_.event(path + " is a link - it is not recovered.", "REPORTISLINK:" + path);
    }
    for (const std::string& name : reports.subfolders()) {
        const std::string upper = to_upper_copy(name);
        if (listed_.count(upper)) continue;
        reporter_.console("Checking report directory " + upper + "\n");
        const std::string path = folder_ + "/" + name;
        ReportEntry e;
        // Listed as it is spelt on disk: readers that match names exactly must find it.
        e.name = upper;
        e.name_line = name;
        e.type = type_of_folder_name(upper);
        if (!e.type) {
            if (options_.delete_reports) offer_for_deletion(name);
            continue;
        }
        e.description = report_name(path, true);
        e.date = modified_date_text(path).value_or(now_text());
        e.size_line = std::to_string(folder_file_size(path));
        e.type_line = e.type->names[0];
        check_against_folder(e, reports);
        if (e.unreadable) continue;  // named above; whose it is cannot be told
        if (e.reason == Reason::FilesMissing) {
            if (options_.delete_reports) offer_for_deletion(name);
            continue;
        }
        ++recovered_;
        reporter_.event("Recovered: " + e.description, "RECOVERED:" + e.description);
        listed_.insert(upper);
        records_.push_back(std::move(e));
    }
}

namespace {
// The size line with its 'C' after the number exactly when the folder is confirmed.
std::string size_line_for(const std::string& line, bool confirmed) {
    if (is_confirmed_size_text(line) == confirmed) return line;
    return std::to_string(read_size_line(line).value_or(0)) + (confirmed ? "C" : "");
}
}  // namespace

bool ReportSet::write(bool generations) {
    std::optional<std::string> content;
    if (!records_.empty()) {
        content.emplace();
        content->reserve(records_.size() * 96);
        for (const ReportEntry& e : records_) {
            for (const std::string* line : {&e.name_line, &e.description, &e.date, &e.size_line, &e.type_line}) {
                if (line == &e.size_line)
                    content->append(size_line_for(e.size_line, e.confirmed));
                else
                    content->append(*line);
                content->append("\r\n");
            }
        }
    }
    if (replace_with_generations(folder_, kArchiveIndexName, content, generations)) return true;
    const std::string path = folder_ + "/" + kArchiveIndexName;
    reporter_.event("Unable to write the index file " + path + " - the previous one is kept.",
                    "CANTWRITEINDEX:" + path);
    return false;
}

void ReportSet::offer_for_deletion(const std::string& folder_name) {
    for (const std::string& offered : offered_)
        if (offered == folder_name) return;
    offered_.push_back(folder_name);
}

bool ReportSet::is_listed_now(const std::string& folder_name) const {
    const auto index = platform::find_name_ci(folder_, kArchiveIndexName);
    if (!index) return false;
    const auto lines = read_index_lines(*index);
    if (!lines) return true;  // what cannot be read may name it
    for (const std::string& line : *lines)
        if (platform::iequals(line, folder_name)) return true;
    return false;
}

bool ReportSet::delete_offered() {
    bool locked_all = true;
    for (const std::string& name : offered_) {
        const std::string path = folder_ + "/" + name;
        if (!is_real_folder(path) || !reporter_.confirm_deletion(path)) continue;
        // Another program may have listed it while the question was open.
        const ArchiveIndexLock lock(folder_);
        if (!lock.held()) {
            report_busy(lock);
            locked_all = false;
            continue;
        }
        if (is_listed_now(name)) {
            reporter_.event(path + " is listed again - it is not deleted.", "LISTEDAGAIN:" + path);
            continue;
        }
        if (!delete_under_hidden_name(path, reporter_)) continue;
        ++deleted_;
        reporter_.event("Deleted report directory: " + path, "DELETEDREPORTDIR:" + path);
    }
    offered_.clear();
    return locked_all;
}

}  // namespace tv::brackmor
