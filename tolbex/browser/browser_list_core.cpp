#include "tolbex/browser/browser_list_core.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <unordered_map>

#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/archive_operations.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/browser/archive_dialogs.h"

namespace tv {

namespace {

int three_way(std::int64_t a, std::int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Reads at most `max` bytes of a report folder's text file, CR LF read as LF (as a text-mode read
// gives them).
bool read_text_prefix(const ReportFolder& folder, std::string_view name, std::size_t max, std::string& out) {
    const OutsideFile file = folder.open(name, ReportFileKind::Text);
    if (!file) return false;
    std::string raw(max, '\0');
    std::size_t got = 0;
    bool ok = true;
    while (got < max) {
        const ssize_t n = ::read(file.fd.get(), raw.data() + got, max - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (!ok) return false;
    raw.resize(got);
    out.clear();
    out.reserve(got);
    for (std::size_t i = 0; i < got; ++i) {
        if (raw[i] == '\r' && i + 1 < got && raw[i + 1] == '\n') continue;
        out.push_back(raw[i]);
    }
    return true;
}

// An archive operation's message, if it has one.
void show_archive_error(const Error& error) {
    if (!error.message.empty()) show_error(error.message, archive_error_caption(error.code));
}
void show_archive_errors(const std::vector<Error>& errors) {
    for (const Error& e : errors) show_archive_error(e);
}

}  // namespace

const char* browser_column_title(int column) {
    static const char* const kTitles[kBrowserColumnCount] = {"Name",         "Archive", "Date",
                                                             "Size (bytes)", "Type",    "Confirmed"};
    return column >= 0 && column < kBrowserColumnCount ? kTitles[column] : "";
}

std::string edited_description_text(std::string_view typed) {
    if (is_blank(typed)) return kBlankDescriptionText;
    return std::string(typed.substr(0, kEditedDescriptionMax));
}

std::string transfer_description(std::string_view archive_name, std::string_view description, bool prefix) {
    std::string d;
    if (prefix) {
        d = "[";
        d += archive_name;
        d += "] ";
    }
    d += description;
    if (d.size() > kEditedDescriptionMax) {
        d.resize(60);
        d += "...";
    }
    return d;
}

std::string format_patient_details(std::string_view text, double version) {
    std::string_view rest = text;
    if (!take_line(rest) || !take_line(rest) || rest.empty()) return std::string(text);

    static const char* const kLong[] = {
        "Patient Name:",      "Date of birth:",  "Age:",       "Sex:",          "Operator:",
        "Transfer Filename:", "Patient number:", "Physician:", "Insurer:",      "Hospital:",
        "Recording Date:",    "Recorder ID:",    nullptr,      "Analysis Date:"};
    static const char* const kShort[] = {
        "Patient Name:", "DOB./Age:",         "Sex/Operator:",   "Recording ID/Patient No.:",
        "Physician:",    "Insurer/Hospital:", "Recording Date:", "Recorder ID:",
        "Analysis Date:"};
    const bool long_layout = version >= kLongPatientLayoutVersion;
    const char* const* labels = long_layout ? kLong : kShort;
    const std::size_t count = long_layout ? std::size(kLong) : std::size(kShort);

    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const auto line = take_line(rest);
        if (!line) return out;
        if (labels[i]) {
            out += labels[i];
            out += " \t";
            out += *line;
            out += '\n';
        }
    }
    out += "Comments:\n\n";
    out += rest;
    return out;
}

bool remove_index_entry(const std::string& index_path, std::string_view folder_name) {
    const Result<void> removed = archive_ops::remove_index_entry(index_path, folder_name);
    if (!removed) show_archive_error(removed.error());
    return removed.ok();
}

// --- the document ---

BrowserListCore::BrowserListCore() { register_archive_document(this); }

BrowserListCore::~BrowserListCore() { unregister_archive_document(this); }

bool BrowserListCore::open_document(const std::string& path) {
    path_ = path;
    // The framework's open fails for a file it cannot open; the group would read as empty. A link
    // in the index's place is no index: the group folder is one others write.
    if (probe_entry(path).kind != EntryKind::Regular) return false;
    return reload_group(path);
}

bool BrowserListCore::load_group(const std::string& path) {
    group_ = std::make_unique<ArchiveGroup>(path, false, false, true);
    rebuild_rows();
    current_row_ = -1;
    details_ = kNoPatientDetailsText;
    has_letters_ = has_voice_ = false;
    return true;
}

bool BrowserListCore::reload_group(const std::string& path) {
    if (!load_group(path)) return false;
    update_title();
    return true;
}

bool BrowserListCore::reload() {
    if (path_.empty()) return false;
    const bool ok = reload_group(path_);
    if (on_reloaded_) on_reloaded_();
    return ok;
}

void BrowserListCore::update_title() {
    title_ = kArchivesInFolderText + get_path_folder(path_.empty() ? group_->get_index_path() : path_);
}

void BrowserListCore::rebuild_rows() {
    rows_.clear();
    if (!group_) return;
    std::size_t total = 0;
    for (std::int32_t a = 0; a < group_->get_count(); ++a)
        total += static_cast<std::size_t>(group_->get_archive(a)->get_count());
    rows_.reserve(total);
    for (std::int32_t a = 0; a < group_->get_count(); ++a) {
        const std::int32_t n = group_->get_archive(a)->get_count();
        for (std::int32_t r = 0; r < n; ++r) rows_.push_back({a, r});
    }
}

std::int32_t BrowserListCore::get_archive_count() const { return group_ ? group_->get_count() : 0; }

ReportArchive* BrowserListCore::get_archive(std::int32_t row) const {
    if (!group_ || row < 0 || row >= get_row_count()) return nullptr;
    return group_->get_archive(rows_[static_cast<std::size_t>(row)].archive);
}

ReportRecord* BrowserListCore::get_record(std::int32_t row) const {
    ReportArchive* a = get_archive(row);
    return a ? a->get_record(rows_[static_cast<std::size_t>(row)].record) : nullptr;
}

std::int32_t BrowserListCore::get_archive_index(std::int32_t row) const {
    return group_ && row >= 0 && row < get_row_count() ? rows_[static_cast<std::size_t>(row)].archive : -1;
}

ReportType BrowserListCore::get_record_type(std::int32_t row) const {
    const ReportRecord* r = get_record(row);
    return r ? r->get_type() : 0;
}

std::string BrowserListCore::get_archive_name(std::int32_t index) const {
    ReportArchive* a = group_ ? group_->get_archive(index) : nullptr;
    return a ? a->get_name() : std::string();
}

std::string BrowserListCore::get_group_folder() const { return group_ ? group_->get_folder() : std::string(); }

std::string BrowserListCore::get_report_folder(std::int32_t row) const {
    const ReportRecord* r = get_record(row);
    return r ? r->get_folder_path() : std::string();
}

std::string BrowserListCore::get_column_text(std::int32_t row, int column) const {
    const ReportRecord* r = get_record(row);
    if (!r) return {};
    switch (column) {
        case kColumnName: return r->get_description();
        case kColumnArchive: return get_archive(row)->get_name();
        case kColumnDate: return r->get_display_date_text();
        case kColumnSize: return r->get_size_text();
        case kColumnType: return r->get_type_name();
        case kColumnConfirmed: return r->get_confirmed_text();
        default: return {};
    }
}

std::int64_t BrowserListCore::get_index_size(std::int32_t row) const {
    ReportArchive* a = get_archive(row);
    if (!a) return 0;
    const std::int64_t size = a->get_index_size();
    return size < 0 ? 0 : size;
}

void BrowserListCore::sort_rows(std::vector<std::int32_t>& rows, int key, bool ascending) const {
    if (!group_ || rows.size() < 2) return;
    // Every key but the description is reduced to a number once, so that a comparison costs
    // no text work beyond the descriptions.
    const std::int32_t archives = group_->get_count();
    std::vector<std::int32_t> archive_rank(static_cast<std::size_t>(archives));
    {
        std::vector<std::int32_t> order(static_cast<std::size_t>(archives));
        for (std::int32_t i = 0; i < archives; ++i) order[static_cast<std::size_t>(i)] = i;
        auto name = [&](std::int32_t i) { return std::string_view(group_->get_archive(i)->get_name()); };
        std::stable_sort(order.begin(), order.end(), [&](std::int32_t x, std::int32_t y) {
            return platform::compare_text_nocase(name(x), name(y)) < 0;
        });
        std::int32_t rank = 0;
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i > 0 && platform::compare_text_nocase(name(order[i - 1]), name(order[i])) != 0) ++rank;
            archive_rank[static_cast<std::size_t>(order[i])] = rank;
        }
    }
    // Type names ranked over the closed set of codes.
    std::unordered_map<ReportType, std::int32_t> type_rank;
    if (key == kColumnType) {
        std::vector<std::pair<std::string, ReportType>> names;
        for (ReportType t = 510; t <= 526; ++t) names.emplace_back(report_type_name(t), t);
        names.emplace_back(report_type_name(kReportUnknown), kReportUnknown);
        std::stable_sort(names.begin(), names.end(), [](const auto& x, const auto& y) {
            return platform::compare_text_nocase(x.first, y.first) < 0;
        });
        std::int32_t rank = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i > 0 && platform::compare_text_nocase(names[i - 1].first, names[i].first) != 0) ++rank;
            type_rank[names[i].second] = rank;
        }
    }
    struct Key {
        std::string_view description;
        std::int64_t value;
        std::int32_t archive_rank;
    };
    const std::size_t n = rows_.size();
    std::vector<Key> keys(n, Key{{}, 0, -1});
    for (std::int32_t row : rows) {
        if (row < 0 || static_cast<std::size_t>(row) >= n) continue;
        const ReportRecord* r = get_record(row);
        Key& k = keys[static_cast<std::size_t>(row)];
        k.archive_rank = archive_rank[static_cast<std::size_t>(rows_[static_cast<std::size_t>(row)].archive)];
        if (!r) continue;
        k.description = r->get_description();
        switch (key) {
            case kColumnArchive: k.value = k.archive_rank; break;
            case kColumnDate: k.value = r->get_time(); break;
            case kColumnSize: k.value = r->get_size(); break;
            case kColumnType: {
                auto it = type_rank.find(r->get_type());
                k.value = it == type_rank.end() ? type_rank[kReportUnknown] : it->second;
                break;
            }
            // "" < "No" < "Yes"
            case kColumnConfirmed: k.value = is_formatted_type(r->get_type()) ? (r->is_confirmed() ? 2 : 1) : 0; break;
            default: break;
        }
    }
    static const Key kNone{{}, 0, -1};
    auto key_of = [&](std::int32_t row) -> const Key& {
        return row >= 0 && static_cast<std::size_t>(row) < n ? keys[static_cast<std::size_t>(row)] : kNone;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](std::int32_t x, std::int32_t y) {
        const Key& a = key_of(x);
        const Key& b = key_of(y);
        int r = key == kColumnName ? platform::compare_text_nocase(a.description, b.description)
                                   : three_way(a.value, b.value);
        if (!ascending) r = -r;
        if (r == 0) r = three_way(a.archive_rank, b.archive_rank);
        if (r == 0) r = platform::compare_text_nocase(a.description, b.description);
        return r < 0;
    });
}

std::vector<ReportRef> BrowserListCore::refs_of(const std::vector<std::int32_t>& rows) const {
    std::vector<ReportRef> refs;
    refs.reserve(rows.size());
    for (std::int32_t row : rows)
        if (const ReportRecord* r = get_record(row))
            refs.push_back({get_archive(row)->get_path(), r->get_name(), r->get_description()});
    return refs;
}

ReportArchive* BrowserListCore::find_archive_of(const ReportRef& ref) const {
    if (!group_) return nullptr;
    for (std::int32_t a = 0; a < group_->get_count(); ++a)
        if (group_->get_archive(a)->get_path() == ref.archive_path) return group_->get_archive(a);
    return nullptr;
}

ReportRecord* BrowserListCore::resolve(const ReportRef& ref, ReportArchive** archive) const {
    ReportArchive* a = find_archive_of(ref);
    ReportRecord* r = a ? a->find_record(ref.name) : nullptr;
    if (!r) {
        show_error(format_string(kReportGoneText, ref.description.c_str()), kArchiveChangedCaption);
        return nullptr;
    }
    if (archive) *archive = a;
    return r;
}

std::int32_t BrowserListCore::find_row(const ReportRef& ref) const {
    for (std::int32_t row = 0; row < get_row_count(); ++row) {
        const ReportRecord* r = get_record(row);
        if (r && platform::iequals(r->get_name(), ref.name) && get_archive(row)->get_path() == ref.archive_path)
            return row;
    }
    return -1;
}

bool BrowserListCore::set_description(std::int32_t row, std::string_view text) {
    const ReportRecord* r = get_record(row);
    if (!r) return false;
    const Result<void> set = archive_ops::set_description(*get_archive(row), r->get_name(), text);
    if (!set) show_archive_error(set.error());
    reload();
    return set.ok();
}

bool BrowserListCore::set_report_time(std::string_view folder_name, std::int64_t time) {
    if (!group_) return false;
    const Result<void> set = archive_ops::set_report_time(*group_, folder_name, time);
    if (!set) show_archive_error(set.error());
    if (set || set.error().code != kArchiveNotFound) reload();
    return set.ok();
}

int BrowserListCore::delete_ecg_files(const ReportRef& report) {
    ReportArchive* a = nullptr;
    ReportRecord* r = resolve(report, &a);
    if (!r) return kDeleteEcgNotTwelveLead;
    const std::string folder = r->get_folder_path();
    if (folder.empty()) return kDeleteEcgNotTwelveLead;
    ReportRecord renamed = *r;
    Error index_error;
    const int result = tv::delete_listed_ecg_files(renamed, folder, &index_error);
    if (result == kDeleteEcgIndexFailed)
        show_archive_error(index_error);
    else if (result != kDeleteEcgOk)
        show_error(kDeleteEcgFailedText);
    return result;
}

int BrowserListCore::delete_ecg_files(std::int32_t row) {
    const std::vector<ReportRef> refs = refs_of({row});
    return refs.empty() ? kDeleteEcgNotTwelveLead : delete_ecg_files(refs.front());
}

bool BrowserListCore::has_changed_on_disk() const { return group_ && group_->has_changed_on_disk(); }

bool BrowserListCore::is_group_file_missing() const {
    const std::string& p = path_.empty() && group_ ? group_->get_index_path() : path_;
    // An index this account cannot see (a folder above it unsearchable) may still be there.
    return probe_entry(p).kind == EntryKind::Missing;
}

std::int32_t BrowserListCore::set_current_row(std::int32_t row) {
    const std::int32_t previous = current_row_;
    if (row == current_row_) return previous;
    current_row_ = row;
    details_ = get_details_text(row);
    compute_current_flags();
    return previous;
}

void BrowserListCore::refresh_current_details() {
    details_ = get_details_text(current_row_);
    compute_current_flags();
}

void BrowserListCore::compute_current_flags() {
    has_letters_ = has_voice_ = false;
    if (current_row_ < 0) return;
    const std::string folder = get_report_folder(current_row_);
    if (folder.empty()) return;
    FileFinder letters(join_path(folder, "*.DOC"), kFindFiles);
    has_letters_ = !letters.at_end();
    has_voice_ = platform::find_name_ci(folder, "PATIENT.WAV").has_value();
}

std::string BrowserListCore::get_details_text(std::int32_t row) const {
    if (!group_) return {};
    if (row < 0) return kNoPatientDetailsText;
    const ReportRecord* r = get_record(row);
    const ReportFolder folder = r ? r->open_folder() : ReportFolder();
    // A signed report's details are inside its signature; a file beside signed.dat is anyone's.
    if (!folder.is_open() || r->get_type() == kReportSigned) return kNoPatientDetailsText;

    std::string text;
    if (is_formatted_type(r->get_type())) {
        if (r->is_confirmed()) {
            const auto user = read_confirming_user(folder);
            if (user && !user->empty())
                text = "Report confirmed by " + to_upper_copy(*user) + ".\n\n";
            else
                text = "Warning: Report confirmed by unknown person.\n\n";
        } else {
            text = "Report not confirmed.\n\n";
        }
    }
    const std::string& name = r->get_name();
    const bool card = name.find(".osb") != std::string::npos || name.find(".OSB") != std::string::npos ||
                      name.find(".cfr") != std::string::npos || name.find(".CFR") != std::string::npos;
    const bool has_version = folder.find(kVersionTxtName).has_value();
    const double version = read_report_version(folder);
    std::string content;
    if (!read_text_prefix(folder, kPatientTxtName, 16383, content)) return kNoPatientDetailsText;
    if (!has_version && !card) content = platform::oem_to_ansi(content);
    return text + format_patient_details(content, version);
}

// --- operations ---

int BrowserListCore::delete_named_reports(const std::vector<ReportRef>& reports) {
    if (!group_) return 0;
    int deleted = 0;
    for (const ReportRef& ref : reports) {
        ReportArchive* a = nullptr;
        if (!resolve(ref, &a)) continue;
        const Result<void> done = archive_ops::delete_report(*a, ref.name, audit_);
        if (!done) {
            show_archive_error(done.error());
            // A folder that stayed or was replaced is reported; anything else stops here.
            if (done.error().code != kArchiveDeleteFailed && done.error().code != kArchiveReplaced) break;
        }
        ++deleted;
    }
    reload();
    return deleted;
}

int BrowserListCore::delete_reports(const std::vector<std::int32_t>& rows) {
    return delete_named_reports(refs_of(rows));
}

bool BrowserListCore::copy_or_move_report(std::int32_t archive_index, std::int32_t record_index,
                                          const std::string& destination, bool move, bool move_files, bool prefix) {
    ReportArchive* a = group_ ? group_->get_archive(archive_index) : nullptr;
    ReportRecord* r = a ? a->get_record(record_index) : nullptr;
    if (!r) return false;
    const std::string name = r->get_name();
    return copy_or_move_report(*a, name, destination, move, move_files, prefix);
}

bool BrowserListCore::copy_or_move_report(ReportArchive& archive, const std::string& name,
                                          const std::string& destination, bool move, bool move_files, bool prefix) {
    ReportRecord* r = archive.find_record(name);
    if (!r) return false;
    const std::string description = transfer_description(archive.get_name(), r->get_description(), prefix);
    std::vector<Error> notices;
    const Result<std::string> moved =
        archive_ops::transfer_report(archive, name, destination, description, move, move_files, audit_, notices);
    show_archive_errors(notices);
    if (!moved) show_archive_error(moved.error());
    return moved.ok();
}

bool BrowserListCore::copy_or_move_named(const std::vector<ReportRef>& reports, const std::string& group_folder,
                                         std::int32_t archive_index, bool move, bool move_files, bool prefix,
                                         ProgressWindow* progress) {
    if (!group_) return false;
    std::unique_ptr<ProgressWindow> waiting;
    if (!progress && wait_maker_) progress = (waiting = wait_maker_()).get();
    ArchiveGroup destination_group(find_group_index(group_folder), false, false, false);
    ReportArchive* d = destination_group.get_archive(archive_index);
    int done = 0, failed = 0;
    if (!d || !d->is_safe()) {
        ++failed;
    } else {
        const std::string destination = d->get_path();
        for (const ReportRef& ref : reports) {
            ReportArchive* a = nullptr;
            ReportRecord* r = resolve(ref, &a);
            if (!r) continue;
            if (progress) progress->set_text(r->get_description());
            if (is_same_folder(a->get_path(), destination)) continue;
            if (copy_or_move_report(*a, ref.name, destination, move, move_files, prefix))
                ++done;
            else
                ++failed;
        }
    }
    reload_archive_documents();
    waiting.reset();
    if (failed > 0)
        show_error(kCopyErrorText);
    else if (done == 0)
        ui().message_box(kSameArchiveText, "", MsgIcon::Information, MsgButtons::Ok);
    return failed == 0;
}

bool BrowserListCore::move_archive_contents(std::int32_t from, std::int32_t to, ProgressWindow* progress) {
    ReportArchive* a = group_ ? group_->get_archive(from) : nullptr;
    ReportArchive* d = group_ ? group_->get_archive(to) : nullptr;
    if (!a || !d) return false;
    std::unique_ptr<ProgressWindow> waiting;
    if (!progress && wait_maker_) progress = (waiting = wait_maker_()).get();
    int failed = 0;
    if (!d->is_safe()) {
        failed = 1;
    } else {
        const std::string destination = d->get_path();
        // Each move changes the archive's records: they are named before the first.
        std::vector<std::string> names;
        for (std::int32_t i = 0; i < a->get_count(); ++i)
            if (const ReportRecord* r = a->get_record(i)) names.push_back(r->get_name());
        for (const std::string& name : names) {
            const ReportRecord* r = a->find_record(name);
            if (!r) continue;  // gone meanwhile: nothing left to move
            if (progress) progress->set_text(r->get_description());
            if (!copy_or_move_report(*a, name, destination, true, true, true)) ++failed;
        }
    }
    reload_archive_documents();
    waiting.reset();
    if (failed > 0) show_error(kCopyErrorText);
    return failed == 0;
}

bool BrowserListCore::remove_archive(std::int32_t archive_index) {
    if (!group_) return false;
    const Result<void> removed = archive_ops::remove_archive(*group_, archive_index);
    if (!removed) {
        show_archive_error(removed.error());
        // The archive is still listed: the view stays as it is.
        if (removed.error().code == kArchiveNotFound || removed.error().code == kArchiveDeleteFailed) return false;
    }
    reload();
    return removed.ok();
}

bool BrowserListCore::remove_deleted_archive() {
    if (!group_) return false;
    const std::int32_t i = group_->find_archive_by_folder(kDeletedArchiveFolder);
    return i >= 0 && remove_archive(i);
}

bool BrowserListCore::delete_group(ArchiveConfigList* config) {
    if (!group_) return false;
    std::vector<Error> notices;
    const Result<void> deleted = archive_ops::delete_group(*group_, config, notices);
    show_archive_errors(notices);
    if (deleted) return true;
    if (deleted.error().code == kArchiveNoSpace) {
        ui().message_box(kNotEnoughSpaceText, kNotEnoughSpaceCaption, MsgIcon::None, MsgButtons::Ok);
        return false;
    }
    // Archives may be gone although the group stays: the rows must say what is left.
    show_archive_error(deleted.error());
    reload();
    return false;
}

std::int32_t BrowserListCore::ensure_deleted_archive() {
    if (!group_) return -1;
    const Result<std::int32_t> index = archive_ops::ensure_deleted_archive(*group_);
    if (!index) {
        show_archive_error(index.error());
        return -1;
    }
    return *index;
}

bool BrowserListCore::move_named_to_deleted_reports(const std::vector<ReportRef>& reports, ProgressWindow* progress) {
    if (!group_) return false;
    if (!archive_io::enough_space_for(get_path_folder(group_->get_index_path()), kGroupDeleteSpace)) return false;
    const std::int32_t index = ensure_deleted_archive();
    if (index < 0) return false;
    TransferGuard transfer;
    return copy_or_move_named(reports, group_->get_folder(), index, true, true, true, progress);
}

bool BrowserListCore::delete_selected(const std::vector<std::int32_t>& rows, std::string_view shown_archive) {
    Ui& u = ui();
    if (rows.empty()) {
        u.message_box("You must select one or more reports before you can delete them.", "", MsgIcon::Error,
                      MsgButtons::Ok);
        return false;
    }
    if (!group_) return false;
    if (is_group_file_missing()) {
        u.message_box(kArchiveMissingText, kArchiveMissingCaption, MsgIcon::None, MsgButtons::Ok);
        return false;
    }
    if (has_changed_on_disk()) {
        reload();
        u.message_box(kArchiveChangedText, kArchiveChangedCaption, MsgIcon::Information, MsgButtons::Ok);
        return false;
    }
    // The reports are named before the question, and the refresh waits until the work is done.
    const std::vector<ReportRef> reports = refs_of(rows);
    TransferGuard transfer;
    if (shown_archive == kDeletedArchiveName) {
        if (u.message_box("Do you really want to delete the selected reports?\n\nThis will PERMANENTLY DELETE the "
                          "reports!",
                          "Please Confirm Deletion", MsgIcon::Question, MsgButtons::YesNo,
                          MsgDefault::Second) != MsgResult::Yes)
            return false;
        return delete_named_reports(reports) > 0;
    }
    if (u.message_box("Do you really want to move the selected reports to the \"Deleted Reports\" archive?",
                      "Move Reports to \"Deleted Reports\" Archive?", MsgIcon::Question,
                      MsgButtons::YesNo) != MsgResult::Yes)
        return false;
    if (move_named_to_deleted_reports(reports)) return true;
    if (u.message_box("There is not enough disk space to move the selected reports to the \"Deleted Reports\" "
                      "archive.\nWe recommend that you go to the \"Deleted Reports\" archive and delete some "
                      "reports, and then try this again.\n\nClick \"NO\" to cancel this deletion.\nClick \"YES\" to "
                      "PERMANENTLY DELETE the selected reports.\n\nNote: You will NOT be able to recover reports "
                      "deleted if you click \"YES\" now!",
                      "Cannot move reports to \"Deleted Reports\" archive", MsgIcon::Error, MsgButtons::YesNo,
                      MsgDefault::Second) != MsgResult::Yes)
        return true;
    if (!group_) return true;
    // Those the move did take are gone from their archives and are not asked for again.
    std::vector<ReportRef> left;
    for (const ReportRef& ref : reports)
        if (ReportArchive* a = find_archive_of(ref); a && a->find_record(ref.name)) left.push_back(ref);
    delete_named_reports(left);
    return true;
}

bool BrowserListCore::create_archive(std::string_view display_name) {
    if (!group_) return false;
    IndexStamp written;
    if (!create_archive_in_group(group_->get_folder(), display_name, nullptr, &written)) return false;
    group_->take_index_stamp(written);
    reload_archive_documents();
    return true;
}

}  // namespace tv
