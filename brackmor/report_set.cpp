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

// True when a change record of the owner `token` in the archive is locked: its owner still runs,
// on this machine or another, whatever its process id tells here.
bool owner_holds_a_record(const FolderNames& archive, std::string_view token) {
    if (token.empty()) return false;
    for (const std::string& name : archive.files()) {
        if (!name.starts_with(".TVREC.") || platform::token_after(name, ".TVREC.") != token) continue;
        const platform::UniqueFd record = platform::open_regular_at(archive.fd(), name);
        if (record && platform::lock_open_file_within(record.get(), false, 0) == platform::LockFailure::Busy)
            return true;
    }
    return false;
}

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

std::string report_name(const ReportFolder& report, const std::string& folder_name, bool fallback) {
    std::string name;
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
    return folder_name + ": " + now_text();
}

ReportSet::ReportSet(int group_fd, std::string name, std::string path, Options options, Reporter& reporter)
    : group_fd_(group_fd), name_(std::move(name)), folder_(std::move(path)), options_(options), reporter_(reporter) {}

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

namespace {

void report_leftover(Reporter& reporter, const std::string& path) {
    reporter.event_once(
        path +
            " is hidden and was left by an interrupted change or renamed by hand - it is left as it is; "
            "look into it before deleting it.",
        "LEFTOVER:" + path);
}

}  // namespace

void report_settled(Reporter& reporter, const ArchiveIndexLock& lock) {
    for (const std::string& note : lock.notes()) reporter.event(note, "SETTLED:" + note);
    for (const std::string& name : lock.unrecorded_folders()) report_leftover(reporter, lock.folder() + "/" + name);
}

ReportSet::Outcome ReportSet::check() {
    if (!open_archive()) return Outcome::Done;
    {
        const ArchiveIndexLock lock(archive_.fd(), folder_);
        if (!lock.held()) {
            report_busy(lock);
            return Outcome::Busy;
        }
        report_settled(reporter_, lock);
        if (!relisted()) return Outcome::Done;
        if (!read_index(archive_)) return Outcome::Failed;
        recover(archive_);
        if (!write(true)) return Outcome::Failed;
    }
    return delete_offered() ? Outcome::Done : Outcome::Busy;
}

ReportSet::Outcome ReportSet::rename_all() {
    if (!open_archive()) return Outcome::Done;
    const ArchiveIndexLock lock(archive_.fd(), folder_);
    if (!lock.held()) {
        report_busy(lock);
        return Outcome::Busy;
    }
    report_settled(reporter_, lock);
    if (!relisted()) return Outcome::Done;
    if (!read_index(archive_)) return Outcome::Failed;
    for (ReportEntry& e : records_) {
        const auto found = e.link ? std::nullopt : archive_.find_folder(e.name);
        if (!found) continue;
        const std::string name =
            report_name(ReportFolder(archive_.fd(), *found, folder_ + "/" + *found), *found, false);
        if (name.empty() || name == e.description) continue;
        reporter_.both("Changing report name from \"" + e.description + "\" to \"" + name + "\"\n");
        e.description = name;
    }
    return write(false) ? Outcome::Done : Outcome::Failed;
}

bool ReportSet::open_archive() {
    if (archive_.fd() >= 0) return true;
    archive_ = FolderNames(group_fd_, name_, folder_, true);
    const FolderJudgement& judged = archive_.judgement();
    if (judged.readable()) return true;
    if (judged.unknown()) {
        // An archive this account cannot list would read as one without reports.
        ++unreadable_;
        reporter_.event(unreadable_folder_text(folder_, judged) + " - this archive is left as it is.",
                        "ARCHIVEUNREADABLE:" + folder_);
    } else if (const EntryKind now = probe_entry_at(group_fd_, name_).kind; now == EntryKind::Missing) {
        reporter_.event(folder_ + " is no longer there - another program removed it.", "ARCHIVEGONE:" + folder_);
    } else {
        ++replaced_;
        report_replaced(reporter_, folder_, now == EntryKind::Link, "this archive is left as it is");
    }
    return false;
}

bool ReportSet::relisted() {
    // As it is under the lock, settled. An archive this account cannot list would read as one
    // without reports.
    archive_.reread();
    if (!archive_.judgement().unknown()) return true;
    ++unreadable_;
    reporter_.event(unreadable_folder_text(folder_, archive_.judgement()) + " - this archive is left as it is.",
                    "ARCHIVEUNREADABLE:" + folder_);
    return false;
}

bool ReportSet::still_in_place() {
    // The index and its generations are replaced in the archive folder this run holds; one whose
    // path no longer leads there was moved or swapped meanwhile, and is named and left.
    const EntryState now = probe_entry(folder_);
    if (now.kind == EntryKind::Folder && FolderId{now.device, now.inode} == archive_.id()) return true;
    ++replaced_;
    report_replaced(reporter_, folder_, now.kind == EntryKind::Link, "its index is not written");
    return false;
}

bool ReportSet::read_index(const FolderNames& reports) {
    records_.clear();
    listed_.clear();
    const auto index_name = reports.find(kArchiveIndexName);
    if (!index_name) return true;
    const auto index = std::make_optional(folder_ + "/" + *index_name);
    if (reports.find_link(*index_name) == index_name) {
        reporter_.event(*index + " is a link - this archive is left as it is.", "INDEXISLINK:" + *index);
        return false;
    }
    const auto lines = read_index_lines(reports.fd(), *index_name);
    if (!lines) {
        reporter_.event("Unable to read the index file " + *index + " - this archive is left as it is.",
                        "CANTREADINDEX:" + *index);
        return false;
    }
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
                if (auto folder = reports.find_folder(e.name)) offer_for_deletion(*folder, reports);
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
    // What taking the lock could not settle, or no change record names (a report renamed by a
    // group member looks the same): named for the operator once in the run (the lock may have
    // named it already), never offered, as its name alone does not show whose it is.
    for (const std::string& name : reports.hidden_subfolders()) {
        if (!archive_io::is_passing_report_name(name)) continue;
        const std::string_view token = platform::token_after(name, name.substr(0, 7));
        if (owner_holds_a_record(reports, token)) continue;  // its owner is at work on it
        report_leftover(reporter_, folder_ + "/" + name);
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
            if (options_.delete_reports) offer_for_deletion(name, reports);
            continue;
        }
        const ReportFolder report(reports.fd(), name, path);
        e.description = report_name(report, name, true);
        e.date = modified_date_text(reports.fd(), name).value_or(now_text());
        e.size_line = std::to_string(report.is_open() ? folder_file_size(report.fd()) : 0);
        e.type_line = e.type->names[0];
        check_against_folder(e, reports);
        if (e.unreadable) continue;  // named above; whose it is cannot be told
        if (e.reason == Reason::FilesMissing) {
            if (options_.delete_reports) offer_for_deletion(name, reports);
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
    if (!still_in_place()) return true;  // named; left as it is
    if (replace_with_generations_at(archive_.fd(), kArchiveIndexName, content, generations)) return true;
    const std::string path = folder_ + "/" + kArchiveIndexName;
    reporter_.event("Unable to write the index file " + path + " - the previous one is kept.",
                    "CANTWRITEINDEX:" + path);
    return false;
}

void ReportSet::offer_for_deletion(const std::string& folder_name, const FolderNames& reports) {
    for (const auto& offered : offered_)
        if (offered.first == folder_name) return;
    // Deleted only while its name still holds the folder judged here.
    if (const auto id = reports.id_of(folder_name)) offered_.emplace_back(folder_name, *id);
}

bool ReportSet::is_listed_now(const std::string& folder_name) {
    archive_.reread();
    if (archive_.fd() < 0) return true;  // what cannot be read may name it
    const auto index = archive_.find(kArchiveIndexName);
    if (!index) return false;
    const auto lines = read_index_lines(archive_.fd(), *index);
    if (!lines) return true;  // what cannot be read may name it
    for (const std::string& line : *lines)
        if (platform::iequals(line, folder_name)) return true;
    return false;
}

bool ReportSet::delete_offered() {
    bool locked_all = true;
    // Everything here goes through the archive's descriptor, held since it was judged: a group or
    // archive folder swapped meanwhile leads this nowhere else.
    for (const auto& [name, judged] : offered_) {
        const std::string path = folder_ + "/" + name;
        const EntryKind kind = probe_entry_at(archive_.fd(), name).kind;
        if (kind == EntryKind::Link) {
            ++replaced_;
            report_replaced(reporter_, path, true, "it is not deleted");
        }
        if (kind != EntryKind::Folder || !reporter_.confirm_deletion(path)) continue;
        // Another program may have listed it while the question was open.
        const ArchiveIndexLock lock(archive_.fd(), folder_);
        if (!lock.held()) {
            report_busy(lock);
            locked_all = false;
            continue;
        }
        if (is_listed_now(name)) {
            reporter_.event(path + " is listed again - it is not deleted.", "LISTEDAGAIN:" + path);
            continue;
        }
        switch (delete_judged_folder(lock, name, judged, path, reporter_)) {
            case Deletion::Deleted:
                ++deleted_;
                reporter_.event("Deleted report directory: " + path, "DELETEDREPORTDIR:" + path);
                break;
            case Deletion::NotJudged:
            case Deletion::ReplacedByLink: ++replaced_; break;
            case Deletion::Kept: break;
        }
    }
    offered_.clear();
    return locked_all;
}

}  // namespace tv::brackmor
