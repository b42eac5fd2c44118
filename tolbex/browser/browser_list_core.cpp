#include "tolbex/browser/browser_list_core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <unordered_map>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/browser/archive_dialogs.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/archive/audit_trail.h"

namespace tv {

namespace {

int three_way(std::int64_t a, std::int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// --- process-wide state ---

int g_transfer_depth = 0;

std::vector<BrowserListCore*>& registry() {
    static std::vector<BrowserListCore*> docs;
    return docs;
}

// The audit entry points; without a trail nothing is logged.
bool audit_open(AuditTrail* audit, const std::string& path) { return !audit || audit->open(path); }
bool audit_write(AuditTrail* audit, const char* format, const std::string& text, const std::string& path) {
    return !audit || audit->write(format, text, path, "");
}
void audit_close(AuditTrail* audit) {
    if (audit) audit->close();
}

bool same_folder(const std::string& a, const std::string& b) {
    if (platform::iequals(a, b)) return true;
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Reads at most `max` bytes of a regular file, CR LF read as LF (as a text-mode read gives them).
bool read_text_prefix(const std::string& path, std::size_t max, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::string raw(max, '\0');
    std::size_t got = 0;
    bool ok = true;
    while (got < max) {
        const ssize_t n = ::read(fd, raw.data() + got, max - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
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

void show_error_box(const std::string& text, const std::string& caption = {}) {
    ui().message_box(text, caption, MsgIcon::Error, MsgButtons::Ok);
}

}  // namespace

const char* browser_column_title(int column) {
    static const char* const kTitles[kBrowserColumnCount] = {"Name", "Archive", "Date", "Size (bytes)", "Type",
                                                             "Confirmed"};
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

bool is_transfer_in_progress() { return g_transfer_depth > 0; }
TransferGuard::TransferGuard() { ++g_transfer_depth; }
TransferGuard::~TransferGuard() { --g_transfer_depth; }

std::string format_patient_details(std::string_view text, double version) {
    const std::size_t first = text.find('\n');
    const std::size_t second = first == std::string_view::npos ? first : text.find('\n', first + 1);
    if (second == std::string_view::npos || second + 1 >= text.size()) return std::string(text);
    std::string_view rest = text.substr(second + 1);

    static const char* const kLong[] = {"Patient Name:", "Date of birth:",  "Age:",            "Sex:",
                                        "Operator:",     "Transfer Filename:", "Patient number:", "Physician:",
                                        "Insurer:",      "Hospital:",       "Recording Date:", "Recorder ID:",
                                        nullptr,         "Analysis Date:"};
    static const char* const kShort[] = {"Patient Name:", "DOB./Age:",        "Sex/Operator:",
                                         "Recording ID/Patient No.:", "Physician:", "Insurer/Hospital:",
                                         "Recording Date:", "Recorder ID:",   "Analysis Date:"};
    const bool long_layout = version >= kLongPatientLayoutVersion;
    const char* const* labels = long_layout ? kLong : kShort;
    const std::size_t count = long_layout ? std::size(kLong) : std::size(kShort);

    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t nl = rest.find('\n');
        if (nl == std::string_view::npos) return out;
        std::string_view line = rest.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (labels[i]) {
            out += labels[i];
            out += " \t";
            out += line;
            out += '\n';
        }
        rest.remove_prefix(nl + 1);
    }
    out += "Comments:\n\n";
    out += rest;
    return out;
}

bool remove_index_entry(const std::string& index_path, std::string_view folder_name) {
    const std::string folder = get_path_folder(index_path);
    ArchiveIndexLock lock(folder);
    std::FILE* f = archive_io::open_index_for_reading(index_path, nullptr);
    if (!f) {
        archive_io::show_write_error(index_path);
        return false;
    }
    std::string out;
    std::string lines[5];
    for (;;) {
        int got = 0;
        while (got < 5 && read_nonblank_line(f, lines[got])) ++got;
        if (got < 5) {
            // A torn entry at the end stays as it was: it is not ours to drop.
            for (int i = 0; i < got; ++i) out += lines[i] + "\r\n";
            break;
        }
        if (platform::iequals(lines[0], folder_name)) continue;
        for (const auto& l : lines) out += l + "\r\n";
    }
    const bool read_error = std::ferror(f) != 0;
    std::fclose(f);
    if (read_error) {
        archive_io::show_write_error(index_path);
        return false;
    }
    if (get_disk_free_bytes(folder) <= static_cast<std::uint64_t>(kIndexEntryRemoveSpace) ||
        !archive_io::enough_space_for(folder, static_cast<std::int64_t>(out.size()) + kIndexSpareBytes)) {
        show_error_box(kIndexEntryDiskFullText);
        return false;
    }
    if (!platform::atomic_write_file(index_path, out)) {
        archive_io::show_write_error(index_path);
        return false;
    }
    return true;
}

// --- the document ---

BrowserListCore::BrowserListCore() { registry().push_back(this); }

BrowserListCore::~BrowserListCore() {
    auto& docs = registry();
    docs.erase(std::remove(docs.begin(), docs.end(), this), docs.end());
}

bool BrowserListCore::open_document(const std::string& path) {
    path_ = path;
    struct stat st;
    // The framework's open fails for a file it cannot open; the group would read as empty.
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
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

void BrowserListCore::update_title() { title_ = kArchivesInFolderText + get_path_folder(path_.empty() ? group_->get_index_path() : path_); }

void BrowserListCore::rebuild_rows() {
    rows_.clear();
    if (!group_) return;
    std::size_t total = 0;
    for (std::int32_t a = 0; a < group_->get_count(); ++a) total += static_cast<std::size_t>(group_->get_archive(a)->get_count());
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

std::int32_t BrowserListCore::get_record_index(std::int32_t row) const {
    return group_ && row >= 0 && row < get_row_count() ? rows_[static_cast<std::size_t>(row)].record : -1;
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

std::string BrowserListCore::get_summary_path(std::int32_t row) const {
    const std::string folder = get_report_folder(row);
    if (folder.empty()) return folder;
    if (auto found = platform::find_name_ci(folder, "SUMMARY.TXT")) return *found;
    return join_path(folder, "SUMMARY.TXT");
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

int BrowserListCore::compare_rows(std::int32_t a, std::int32_t b, int key, bool ascending) const {
    const ReportRecord* ra = get_record(a);
    const ReportRecord* rb = get_record(b);
    if (!ra || !rb) return 0;
    const std::string na = get_archive(a)->get_name(), nb = get_archive(b)->get_name();
    int r = 0;
    switch (key) {
        case kColumnName: r = platform::compare_text_nocase(ra->get_description(), rb->get_description()); break;
        case kColumnArchive: r = platform::compare_text_nocase(na, nb); break;
        case kColumnDate: r = three_way(ra->get_time(), rb->get_time()); break;
        case kColumnSize: r = three_way(ra->get_size(), rb->get_size()); break;
        case kColumnType: r = platform::compare_text_nocase(ra->get_type_name(), rb->get_type_name()); break;
        case kColumnConfirmed: r = platform::compare_text_nocase(ra->get_confirmed_text(), rb->get_confirmed_text()); break;
        default: break;
    }
    if (!ascending) r = -r;
    if (r == 0) r = platform::compare_text_nocase(na, nb);
    if (r == 0) r = platform::compare_text_nocase(ra->get_description(), rb->get_description());
    return r;
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
        std::stable_sort(order.begin(), order.end(),
                         [&](std::int32_t x, std::int32_t y) { return platform::compare_text_nocase(name(x), name(y)) < 0; });
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
        std::stable_sort(names.begin(), names.end(),
                         [](const auto& x, const auto& y) { return platform::compare_text_nocase(x.first, y.first) < 0; });
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
        int r = key == kColumnName ? platform::compare_text_nocase(a.description, b.description) : three_way(a.value, b.value);
        if (!ascending) r = -r;
        if (r == 0) r = three_way(a.archive_rank, b.archive_rank);
        if (r == 0) r = platform::compare_text_nocase(a.description, b.description);
        return r < 0;
    });
}

bool BrowserListCore::set_description(std::int32_t row, std::string_view text) {
    ReportRecord* r = get_record(row);
    if (!r) return false;
    r->set_description(text);
    return get_archive(row)->write_archinfo();
}

bool BrowserListCore::set_report_time(std::string_view folder_name, std::int64_t time) {
    if (!group_) return false;
    for (std::int32_t a = 0; a < group_->get_count(); ++a) {
        ReportArchive* archive = group_->get_archive(a);
        if (ReportRecord* r = archive->find_record(folder_name)) {
            r->set_time(time);
            return archive->write_archinfo();
        }
    }
    return false;
}

int BrowserListCore::delete_ecg_files(std::int32_t row) {
    ReportRecord* r = get_record(row);
    if (!r) return kDeleteEcgNotTwelveLead;
    const std::string folder = r->get_folder_path();
    if (folder.empty()) return kDeleteEcgNotTwelveLead;
    return tv::delete_ecg_files(*r, folder);
}

bool BrowserListCore::has_changed_on_disk() const { return group_ && group_->has_changed_on_disk(); }

bool BrowserListCore::is_group_file_missing() const {
    const std::string& p = path_.empty() && group_ ? group_->get_index_path() : path_;
    struct stat st;
    return ::stat(p.c_str(), &st) != 0;
}

std::int32_t BrowserListCore::set_current_row(std::int32_t row) {
    const std::int32_t previous = current_row_;
    if (row == current_row_) return previous;
    current_row_ = row;
    details_ = get_details_text(row);
    compute_current_flags();
    return previous;
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
    const std::string folder = r ? r->get_folder_path() : std::string();
    if (folder.empty()) return kNoPatientDetailsText;

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
    const bool has_version = !find_report_file(folder, kVersionTxtName).empty();
    const double version = read_report_version(folder);
    const std::string patient = find_report_file(folder, kPatientTxtName);
    std::string content;
    if (patient.empty() || !read_text_prefix(patient, 16383, content)) return kNoPatientDetailsText;
    if (!has_version && !card) content = platform::oem_to_ansi(content);
    return text + format_patient_details(content, version);
}

// --- operations ---

int BrowserListCore::delete_reports(const std::vector<std::int32_t>& rows) {
    if (!group_) return 0;
    int deleted = 0;
    for (std::int32_t row : rows) {
        ReportArchive* a = get_archive(row);
        ReportRecord* r = get_record(row);
        if (!r) continue;
        if (classify_drive(a->get_path()) == 2) {
            const std::int64_t need = std::max<std::int64_t>(a->get_index_size(), 0) + kRemovableDeleteSpare;
            if (!archive_io::enough_space_for(a->get_path(), need)) {
                show_error_box(kNotEnoughSpaceText, kNotEnoughSpaceCaption);
                break;
            }
        }
        const std::string folder = r->get_folder_path();
        const std::string description = r->get_description();
        if (folder.empty()) {
            // Never a path: listed, never deleted (the archive explains why).
            a->delete_report_folder(get_record_index(row));
            ++deleted;
            continue;
        }
        if (!audit_open(audit_, folder)) {
            show_error_box(kDeleteLogText);
            audit_close(audit_);
            break;
        }
        if (a->delete_report_folder(get_record_index(row)))
            audit_write(audit_, kAuditDelete, description, folder);
        else
            audit_close(audit_);
        ++deleted;
    }
    if (deleted > 0) compact_and_rewrite();
    return deleted;
}

bool BrowserListCore::copy_or_move_report(std::int32_t archive_index, std::int32_t record_index,
                                          const std::string& destination, bool move, bool move_files, bool prefix) {
    ReportArchive* a = group_ ? group_->get_archive(archive_index) : nullptr;
    ReportRecord* r = a ? a->get_record(record_index) : nullptr;
    if (!r) return false;
    const std::string source = r->get_folder_path();
    if (source.empty() || !a->is_safe()) {
        show_error_box("This report cannot be copied, because its folder name is not valid: " + r->get_name());
        return false;
    }
    const std::string name = r->get_name();
    const std::string own_description = r->get_description();
    const std::string description = transfer_description(a->get_name(), own_description, prefix);
    const std::string dummy = join_path(destination, "dummy.img");

    // Everything that could refuse the move is asked before a file changes.
    if (!audit_open(audit_, dummy)) {
        show_error_box(kCopyLogText);
        audit_close(audit_);
        return false;
    }
    audit_close(audit_);
    if (move) {
        if (!audit_open(audit_, source)) {
            show_error_box(kSourceLogText);
            audit_close(audit_);
            return false;
        }
        audit_close(audit_);
        if (get_disk_free_bytes(a->get_path()) <= static_cast<std::uint64_t>(kIndexEntryRemoveSpace)) {
            show_error_box(kIndexEntryDiskFullText);
            return false;
        }
    }

    std::string new_folder;
    if (store_report_in_archive(destination, source, description, r->get_size(), r->get_time(), r->get_type(),
                                &new_folder, nullptr, move && move_files) != kStoreOk)
        return false;

    bool logged = audit_open(audit_, dummy) && audit_write(audit_, move ? kAuditMove : kAuditCopy, own_description, new_folder);
    if (!logged) audit_close(audit_);
    if (!move) {
        if (!logged) show_error_box(kCopyLogText);
        return logged;
    }
    if (!remove_index_entry(a->get_index_path(), name)) {
        show_error_box("The report \"" + own_description + "\" was moved to \"" + new_folder +
                       "\", but its entry \"" + name + "\" is still listed in \"" + a->get_index_path() + "\".");
        return false;
    }
    if (!delete_folder_tree(source, true, false))
        show_error_box(format_string(kSourceFolderLeftText, source.c_str()));
    if (audit_open(audit_, source)) {
        logged = audit_write(audit_, kAuditDelete, own_description, source) && logged;
    } else {
        audit_close(audit_);
        logged = false;
    }
    if (!logged) show_error_box(kSourceLogText);
    return logged;
}

namespace {

struct Transfer {
    std::int32_t archive, record;
};

}  // namespace

bool BrowserListCore::copy_or_move_selected(const std::vector<std::int32_t>& rows, const std::string& group_folder,
                                            std::int32_t archive_index, bool move, bool move_files, bool prefix,
                                            ProgressWindow* progress) {
    if (!group_) return false;
    ArchiveGroup destination_group(find_group_index(group_folder), false, false, false);
    ReportArchive* d = destination_group.get_archive(archive_index);
    int done = 0, failed = 0;
    if (!d || !d->is_safe()) {
        ++failed;
    } else {
        const std::string destination = d->get_path();
        std::vector<Transfer> work;
        for (std::int32_t row : rows)
            if (get_record(row)) work.push_back({get_archive_index(row), get_record_index(row)});
        for (const Transfer& t : work) {
            ReportArchive* a = group_->get_archive(t.archive);
            ReportRecord* r = a->get_record(t.record);
            if (!r) continue;
            if (progress) progress->set_text(r->get_description());
            if (same_folder(a->get_path(), destination)) continue;
            if (copy_or_move_report(t.archive, t.record, destination, move, move_files, prefix))
                ++done;
            else
                ++failed;
        }
    }
    reload_archive_documents();
    if (failed > 0)
        show_error_box(kCopyErrorText);
    else if (done == 0)
        ui().message_box(kSameArchiveText, "", MsgIcon::Information, MsgButtons::Ok);
    return failed == 0;
}

bool BrowserListCore::move_archive_contents(std::int32_t from, std::int32_t to, ProgressWindow* progress) {
    ReportArchive* a = group_ ? group_->get_archive(from) : nullptr;
    ReportArchive* d = group_ ? group_->get_archive(to) : nullptr;
    if (!a || !d) return false;
    int failed = 0;
    if (!d->is_safe()) {
        failed = 1;
    } else {
        const std::string destination = d->get_path();
        const std::int32_t count = a->get_count();
        for (std::int32_t i = 0; i < count; ++i) {
            ReportRecord* r = a->get_record(i);
            if (!r) continue;
            if (progress) progress->set_text(r->get_description());
            if (!copy_or_move_report(from, i, destination, true, true, true)) ++failed;
        }
    }
    reload_archive_documents();
    if (failed > 0) show_error_box(kCopyErrorText);
    return failed == 0;
}

bool BrowserListCore::compact_and_rewrite() {
    if (!group_) return false;
    bool ok = true;
    for (std::int32_t i = 0; i < group_->get_count(); ++i) group_->get_archive(i)->compact();
    for (std::int32_t i = 0; i < group_->get_count(); ++i) {
        ReportArchive* a = group_->get_archive(i);
        if (!a->is_safe()) continue;  // never read, so nothing to write
        if (!a->write_archinfo()) {
            ok = false;
            break;
        }
    }
    reload();
    return ok;
}

bool BrowserListCore::remove_archive(std::int32_t archive_index) {
    if (!group_ || !group_->get_archive(archive_index)) return false;
    if (!group_->remove_archive(archive_index)) return false;
    const bool ok = group_->write_index();
    reload();
    return ok;
}

bool BrowserListCore::remove_deleted_archive() {
    if (!group_) return false;
    const std::int32_t i = group_->find_archive_by_folder(kDeletedArchiveFolder);
    return i >= 0 && remove_archive(i);
}

bool BrowserListCore::delete_group(ArchiveConfigList* config) {
    if (!group_) return false;
    const std::string folder = group_->get_folder();
    if (!archive_io::enough_space_for(folder, kGroupDeleteSpace)) return false;
    bool ok = true;
    for (std::int32_t i = group_->get_count() - 1; i >= 0; --i)
        if (!group_->remove_archive(i)) ok = false;
    if (!ok) {
        // What could not be deleted stays reachable.
        group_->write_index();
        reload();
        return false;
    }
    if (::unlink(group_->get_index_path().c_str()) != 0 && errno != ENOENT) return false;
    if (config && config->get_count() > 0) config->remove(folder);
    return true;
}

std::int32_t BrowserListCore::ensure_deleted_archive() {
    if (!group_) return -1;
    const std::string index = group_->get_index_path();
    auto find_on_disk = [&]() -> std::int32_t {
        ArchiveGroup g(index, false, false, false);
        for (std::int32_t i = 0; i < g.get_count(); ++i)
            if (g.get_archive(i)->get_name() == kDeletedArchiveName) return i;
        return -1;
    };
    std::int32_t found = find_on_disk();
    if (found >= 0) return found;
    const std::string group_folder = group_->get_folder();
    const std::string folder = join_path(group_folder, kDeletedArchiveFolder);
    const bool existed = folder_exists(folder);
    if (!existed && ::mkdir(folder.c_str(), 0777) != 0) {
        show_error_box("Failed to create the \"" + folder + "\" folder.");
        return -1;
    }
    if (!append_group_entry(index, kDeletedArchiveFolder, kDeletedArchiveName)) {
        if (!existed) ::rmdir(folder.c_str());
        archive_io::show_write_error(index);
        return -1;
    }
    group_->read_index_mtime();
    return find_on_disk();
}

bool BrowserListCore::move_to_deleted_reports(const std::vector<std::int32_t>& rows, ProgressWindow* progress) {
    if (!group_) return false;
    if (!archive_io::enough_space_for(get_path_folder(group_->get_index_path()), kGroupDeleteSpace)) return false;
    const std::int32_t index = ensure_deleted_archive();
    if (index < 0) return false;
    TransferGuard transfer;
    return copy_or_move_selected(rows, group_->get_folder(), index, true, true, true, progress);
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
    if (shown_archive == kDeletedArchiveName) {
        if (u.message_box("Do you really want to delete the selected reports?\n\nThis will PERMANENTLY DELETE the "
                          "reports!",
                          "Please Confirm Deletion", MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes)
            return false;
        TransferGuard transfer;
        return delete_reports(rows) > 0;
    }
    if (u.message_box("Do you really want to move the selected reports to the \"Deleted Reports\" archive?",
                      "Move Reports to \"Deleted Reports\" Archive?", MsgIcon::Question,
                      MsgButtons::YesNo) != MsgResult::Yes)
        return false;
    // Rows do not outlive a reload: the reports are remembered by archive folder and name.
    struct Ref {
        std::string archive, name;
    };
    std::vector<Ref> refs;
    for (std::int32_t row : rows)
        if (const ReportRecord* r = get_record(row)) refs.push_back({get_archive(row)->get_path(), r->get_name()});
    if (move_to_deleted_reports(rows)) return true;
    if (u.message_box("There is not enough disk space to move the selected reports to the \"Deleted Reports\" "
                      "archive.\nWe recommend that you go to the \"Deleted Reports\" archive and delete some "
                      "reports, and then try this again.\n\nClick \"NO\" to cancel this deletion.\nClick \"YES\" to "
                      "PERMANENTLY DELETE the selected reports.\n\nNote: You will NOT be able to recover reports "
                      "deleted if you click \"YES\" now!",
                      "Cannot move reports to \"Deleted Reports\" archive", MsgIcon::Error,
                      MsgButtons::YesNo) != MsgResult::Yes)
        return true;
    if (!group_) return true;
    std::unordered_map<std::string, bool> wanted;
    for (const Ref& ref : refs) wanted[ref.archive + '\n' + to_upper_copy(ref.name)] = true;
    std::vector<std::int32_t> left;
    for (std::int32_t row = 0; row < get_row_count(); ++row) {
        const ReportRecord* r = get_record(row);
        if (r && wanted.count(get_archive(row)->get_path() + '\n' + to_upper_copy(r->get_name()))) left.push_back(row);
    }
    TransferGuard transfer;
    delete_reports(left);
    return true;
}

bool BrowserListCore::create_archive(std::string_view display_name) {
    if (!group_) return false;
    if (!create_archive_in_group(group_->get_folder(), display_name, nullptr)) return false;
    group_->read_index_mtime();
    reload_archive_documents();
    return true;
}

// --- open documents ---

std::vector<BrowserListCore*> open_archive_documents() { return registry(); }

BrowserListCore* find_archive_document(const std::string& path) {
    for (BrowserListCore* d : registry()) {
        const std::string& p = d->get_path_name();
        if (p.empty()) continue;
        if (p == path || same_folder(p, path)) return d;
    }
    return nullptr;
}

void reload_archive_documents() {
    // A reload may run callbacks that open or close documents: work on a copy, skip the gone.
    const std::vector<BrowserListCore*> docs = registry();
    for (BrowserListCore* d : docs) {
        const auto& now = registry();
        if (std::find(now.begin(), now.end(), d) == now.end()) continue;
        if (d->has_group()) d->reload();
    }
}

}  // namespace tv
