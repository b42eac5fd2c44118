#include "tolbex/reports/report_document.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/report_files.h"
#include "common/safe_open.h"
#include "common/audit_log.h"
#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "tolbex/archive/archive_operations.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/reports/page_export.h"
#include "tolbex/reports/page_workers.h"
#include "tolbex/reports/rtf_export.h"

namespace tv {

namespace {

// RTF export covers every page file; the writer stops at the first missing one.
constexpr int kRtfLastPage = 1 << 20;

// Tells the user why a confirmation changed nothing: the file's own caption when the file could
// not be written or removed, else the archive's.
void show_confirm_error(const Error& error, const char* file_caption) {
    ui().message_box(error.message, file_caption ? file_caption : archive_error_caption(error.code), MsgIcon::Error,
                     MsgButtons::Ok);
}

// The confirmation file of the folder open as `folder_fd`: the existing CONFIRM.TXT in whatever
// case, its text when it is a plain file, and its path for messages.
struct ConfirmFile {
    std::string name, path, text;
    bool present = false;
};
ConfirmFile confirm_file_at(int folder_fd, const std::string& folder) {
    ConfirmFile f;
    f.name = archive_io::name_on_disk(folder_fd, kConfirmTxtName);
    f.path = join_path(folder, f.name);
    f.present = probe_entry_at(folder_fd, f.name).kind != EntryKind::Missing;
    if (f.present) f.text = read_member_at(folder_fd, f.name, report_file_limit(ReportFileKind::Text)).value_or("");
    return f;
}

// Removes the confirmation file `name` from the folder open as `folder_fd` (a link there goes as a
// link). True when it is gone or was never there.
bool remove_confirm_file_at(int folder_fd, const std::string& name) {
    return ::unlinkat(folder_fd, name.c_str(), 0) == 0 || errno == ENOENT;
}

// How long a confirmation waits for a note save or another confirmation of the same report.
constexpr int kReportFolderWaitMs = 6000;

// Takes the report folder's own lock (the one note saves take) through a description of its own,
// `held` until the confirmation ends: every confirmation holds it while its temporary of
// CONFIRM.TXT exists, so one met under it was left by a confirmation that was killed, and goes.
Result<void> lock_for_confirmation(int folder_fd, const std::string& folder, platform::UniqueFd& held) {
    held = open_folder_no_link_at(folder_fd, ".");
    if (!held || platform::lock_folder_within(held.get(), kReportFolderWaitMs) != platform::LockFailure::None)
        return fail(kArchiveBusy, "The report " + folder + " is being changed by another program.");
    const auto hidden = list_names_at(folder_fd, ".");
    const std::string prefix = "." + std::string(kConfirmTxtName) + ".tmp";
    for (const FolderEntry& e : hidden.value_or(std::vector<FolderEntry>{}))
        if (e.regular && e.name.size() > prefix.size() && platform::iequals(e.name.substr(0, prefix.size()), prefix))
            (void)remove_confirm_file_at(folder_fd, e.name);
    return {};
}

// Puts the confirmation file back as `was` found it: its text again, or no file.
bool restore_confirm_file_at(int folder_fd, const ConfirmFile& was) {
    if (was.present) return platform::atomic_write_file_at(folder_fd, was.name, was.text);
    return remove_confirm_file_at(folder_fd, was.name);
}

// `step` on the folder a document loaded, through the descriptor it was loaded from (`path` names
// it); its name must still lead to that folder afterwards, never through a link, else `undo` runs
// and kArchiveReplaced says so.
Result<void> change_loaded_folder(const ReportFolder& folder, const archive_ops::ReportFolderStep& step,
                                  const archive_ops::ReportFolderStep& undo) {
    if (Result<void> done = step(folder.fd(), folder.path()); !done) return done;
    const EntryState now = probe_entry(folder.path());
    const EntryState held = probe_entry_at(folder.fd(), ".");
    if (now.kind == EntryKind::Folder && now.device == held.device && now.inode == held.inode) return {};
    (void)undo(folder.fd(), folder.path());
    return fail(kArchiveReplaced, archive_io::replaced_folder_text(folder.path(), now.kind == EntryKind::Link,
                                                                   "the report is not confirmed"));
}

bool folder_has_metafiles(const ReportFolder& folder) {
    for (const std::string& name : folder.names())
        if (name.size() > 4 && platform::iequals(std::string_view(name).substr(name.size() - 4), ".emf") &&
            folder.has_file(name))
            return true;
    return false;
}

}  // namespace

std::optional<PatientHeaderFields> read_patient_header_fields(const std::string& report_folder) {
    return read_patient_header_fields(ReportFolder(report_folder));
}

std::optional<PatientHeaderFields> read_patient_header_fields(const ReportFolder& report_folder) {
    ReportTextReader reader(report_folder, kPatientTxtName);
    if (!reader.is_open()) return std::nullopt;
    PatientHeaderFields out;
    std::string line;
    for (int n = 1; n <= 13 && reader.next_line(line); ++n) {
        if (line == "--") line.clear();
        if (n == 3) out.name = line;
        if (n == 9) out.patient_number = line;
        if (n == 13) out.recording_date = line;
    }
    return out;
}

ReportDocument::ReportDocument() : fonts_(default_page_fonts()) {}

ReportDocument::~ReportDocument() = default;

std::string ReportDocument::folder_of(const std::string& path) {
    std::string p = platform::strip_trailing_slashes(path);
    if (folder_exists(p)) return p;
    // A file inside the folder (SUMMARY.TXT even when it is missing); anything else is the folder.
    if (platform::iequals(get_path_file_name(p), kSummaryTxtName) || file_exists(p))
        return platform::strip_trailing_slashes(get_path_folder(p));
    return p;
}

CReportPage* ReportDocument::page(int index) const {
    if (index < 0 || index >= page_count()) return nullptr;
    return pages_[static_cast<std::size_t>(index)].get();
}

void ReportDocument::clear_pages() {
    pages_.clear();
    emf_list_.clear();
    emf_problem_.clear();
}

void ReportDocument::append_builtin(std::unique_ptr<CReportPage> page) {
    pages_.push_back(std::move(page));
    pages_.back()->add_header_texts(patient_name_, patient_number_, page_count());
}

bool ReportDocument::load(const std::string& path, const ReportDocumentMode& mode, std::string* error) {
    // Never through a link: another account could have put one in the report's place.
    return load(ReportFolder(folder_of(path)), mode, error);
}

bool ReportDocument::load(const ReportFolder& folder, const ReportDocumentMode& mode, std::string* error) {
    clear_pages();
    mode_ = mode;
    files_ = folder;
    folder_ = folder.path();
    read_only_ = mode.read_only;
    if (!files_.is_open()) {
        if (error) *error = folder_;
        return false;
    }
    if (is_signed_report_folder(files_)) {
        if (error) *error = format_string(kSignedFolderRefusal, folder_.c_str());
        return false;
    }
    oem_ = !files_.find(kVersionTxtName);

    // Page files are parsed on all cores, then taken in page order: the first that failed is
    // the one reported, and the read-only check stops there as well.
    const PageFileSet set = PageFileSet::enumerate(files_);
    struct Parsed {
        std::string file, why;
        std::unique_ptr<CReportPage> page;
    };
    std::vector<Parsed> parsed(static_cast<std::size_t>(std::max(set.count - 1, 0)));
    for_each_page_parallel(parsed.size(), [&](std::size_t i) {
        Parsed& p = parsed[i];
        p.file = set.path(static_cast<int>(i) + 1);
        p.page = CReportPage::load(files_, set.name(static_cast<int>(i) + 1), oem_, &p.why);
    });
    page_problem_.clear();
    for (Parsed& p : parsed) {
        if (!read_only_ && (tv::is_read_only(p.file) || ::access(p.file.c_str(), W_OK) != 0)) read_only_ = true;
        if (!p.page) {
            if (error) *error = p.why.empty() ? p.file : p.why;
            clear_pages();
            return false;
        }
        if (page_problem_.empty() && !p.page->damage().empty())
            page_problem_ = "The page file " + p.file + " cannot be read: " + p.page->damage() + ".";
        if (p.page->item_count() > 0) pages_.push_back(std::move(p.page));
    }
    // Pages are read up to the first number that is not there: a later one means a page is gone.
    if (page_problem_.empty())
        for (const std::string& name : files_.names()) {
            if (name.size() <= 5 || name.size() > 14 || !platform::iequals(name.substr(0, 5), "PAGE.") ||
                name.find_first_not_of("0123456789", 5) != std::string::npos)
                continue;
            if (std::stoi(name.substr(5)) >= set.count) {
                page_problem_ = "The page file " + set.path(set.count) + " is missing, but " + name + " is there.";
                break;
            }
        }

    patient_name_.clear();
    patient_number_.clear();
    const bool has_metafiles = folder_has_metafiles(files_);
    if (has_metafiles) {
        if (auto header = read_patient_header_fields(files_)) {
            patient_name_ = std::move(header->name);
            patient_number_ = std::move(header->patient_number);
        }
    }
    emf_problem_.clear();
    emf_list_ = read_emf_list(files_, &emf_problem_);
    if (has_metafiles && emf_problem_.empty() && !files_.find(kEmfListName))
        emf_problem_ = "The 12-lead pictures of the report have no list (" + std::string(kEmfListName) + ").";
    if (emf_list_.empty()) return true;

    // The contents pages, as many as the list needs.
    std::size_t placed = 0;
    for (;;) {
        auto contents = CReportPage::make_builtin(folder_, files_);
        CReportPage* page = contents.get();
        pages_.push_back(std::move(contents));
        const std::size_t before = placed;
        const bool done = page->fill_contents_page(emf_list_, placed);
        page->add_header_texts(patient_name_, patient_number_, page_count());
        if (done || placed == before) break;
    }
    // One page per strip or interval picture.
    for (const EmfEntry& e : emf_list_) {
        if (e.group != 1 && e.group != 2) continue;
        auto page = CReportPage::make_builtin(join_path(folder_, e.name), files_);
        page->set_picture_page(true);
        append_builtin(std::move(page));
    }
    // ST pictures four to a page.
    std::unique_ptr<CReportPage> four = CReportPage::make_builtin("", files_);
    for (const EmfEntry& e : emf_list_) {
        if (e.group != 3) continue;
        four->add_picture_name(join_path(folder_, e.name));
        if (four->picture_count() == 4) {
            four->set_picture_page(true);
            append_builtin(std::move(four));
            four = CReportPage::make_builtin("", files_);
        }
    }
    if (four->picture_count() > 0) {
        four->set_picture_page(true);
        append_builtin(std::move(four));
    }
    return true;
}

int ReportDocument::add_annotation(int page_index, const std::string& text, std::int32_t x, std::int32_t y) {
    CReportPage* p = page(page_index);
    if (!p) return -1;
    const int index = p->add_annotation(text, x, y);
    if (index >= 0) modified_ = true;
    return index;
}

bool ReportDocument::replace_annotation(int page_index, int item, const std::string& text) {
    CReportPage* p = page(page_index);
    if (!p || item < p->first_annotation_index() || item < 0 || static_cast<std::size_t>(item) >= p->item_count())
        return false;
    p->replace_annotation_text(text, item);
    modified_ = true;
    return true;
}

bool ReportDocument::delete_annotation(int page_index, int item) {
    CReportPage* p = page(page_index);
    if (!p || item < p->first_annotation_index() || item < 0 || static_cast<std::size_t>(item) >= p->item_count())
        return false;
    p->delete_annotation(item);
    modified_ = true;
    return true;
}

std::string ReportDocument::annotation_text(int page_index, int item) const {
    const CReportPage* p = page(page_index);
    return p ? p->annotation_text(item) : std::string();
}

bool ReportDocument::save(std::string* error) {
    bool ok = true;
    for (auto& p : pages_) {
        std::string why;
        if (!p->save(oem_, &why)) {
            if (ok && error) *error = why.empty() ? p->file_name() : why;
            ok = false;
        }
    }
    if (ok) modified_ = false;
    return ok;
}

bool ReportDocument::has_page_changes() const {
    for (const auto& p : pages_)
        if (p->is_modified()) return true;
    return false;
}

bool ReportDocument::save_with_audit() {
    if (!has_page_changes()) {
        // Nothing to write, so nothing to trace.
        modified_ = false;
        return true;
    }
    AuditTrail* const audit = audit_;
    if (audit && !audit->open(folder_)) {
        ui().message_box(kSaveNoLogMessage, "", MsgIcon::Error, MsgButtons::Ok);
        audit->close();
        return false;
    }
    std::string why;
    const bool saved = save(&why);
    if (saved && audit) audit->write(kAuditSaveModified, report_name(), audit_location(), "");
    if (audit) audit->close();
    if (!saved) ui().message_box(format_string(kReportSaveFailed, why.c_str()), "", MsgIcon::Error, MsgButtons::Ok);
    return saved;
}

bool ReportDocument::save_modified() {
    if (!modified_) return true;
    std::string question;
    if (mode_.preview) {
        question = kPreviewSaveQuestion;
    } else {
        const std::string title = title_.empty() ? get_path_file_name(folder_) : title_;
        question = kSaveQuestionPrefix + title + " ?";
    }
    switch (ui().message_box(question, "", MsgIcon::Question, MsgButtons::YesNoCancel)) {
        case MsgResult::No: return true;
        case MsgResult::Yes: return save_with_audit();
        default: return false;
    }
}

void ReportDocument::close() {
    if (temp_folder_.empty()) return;
    delete_folder_tree(temp_folder_, true, true);
    temp_folder_.clear();
}

void ReportDocument::set_archive(const ReportArchive& archive, const ReportRecord& record) {
    entry_ = ArchiveEntry{archive.get_path(), record.get_name(), record.get_folder_path(), record.is_confirmed()};
}

void ReportDocument::set_confirmation(const std::string& user) {
    if (user == confirmation_) return;
    confirmation_ = user;
    if (on_confirmation_changed_) on_confirmation_changed_();
}

bool ReportDocument::can_confirm() const {
    if (entry_ && !entry_->confirmed && !mode_.preview && !read_only_) return true;
    return mode_.preview && mode_.confirm_cnav && !read_only_;
}

bool ReportDocument::can_unconfirm() const { return entry_ && entry_->confirmed && !mode_.preview && !read_only_; }

bool ReportDocument::confirm() {
    if (!can_confirm()) return false;
    const bool through_index = entry_ && !entry_->confirmed && !mode_.preview && !read_only_;
    const std::string user =
        through_index ? platform::system().user_name() : (peer_user_ ? peer_user_() : std::string());
    if (user.empty() || (through_index ? entry_->folder_path.empty() : !files_.is_open())) {
        // An empty CONFIRM.TXT would read as "confirmed by nobody".
        ui().message_box(kConfirmNoUser, kConfirmWriteCaption, MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    // The file first, through the folder held open: the index's mark stands for the file's presence.
    ConfirmFile was;
    const char* file_caption = nullptr;
    platform::UniqueFd report_lock;
    auto write = [&](int folder_fd, const std::string& folder) -> Result<void> {
        if (Result<void> locked = lock_for_confirmation(folder_fd, folder, report_lock); !locked) return locked;
        was = confirm_file_at(folder_fd, folder);
        if (platform::atomic_write_file_at(folder_fd, was.name, user)) return {};
        file_caption = kConfirmWriteCaption;
        return fail(kArchiveWriteFailed, format_string(kConfirmWriteFailed, was.path.c_str()));
    };
    // The index still says "not confirmed", or the folder was swapped: the file is taken back.
    auto undo = [&](int folder_fd, const std::string&) -> Result<void> {
        (void)restore_confirm_file_at(folder_fd, was);
        return {};
    };
    const Result<void> done = through_index
                                  ? archive_ops::set_confirmed(entry_->archive_folder, entry_->name, true, write, undo)
                                  : change_loaded_folder(files_, write, undo);
    if (!done) {
        show_confirm_error(done.error(), file_caption);
        return false;
    }
    if (through_index) {
        entry_->confirmed = true;
        if (on_index_changed_) on_index_changed_();
    }
    set_confirmation(user);
    return true;
}

bool ReportDocument::unconfirm() {
    if (!can_unconfirm() || entry_->folder_path.empty()) return false;
    // The file first. One that is already gone leaves nothing to take back, but the user hears
    // of it: the report was confirmed in the index without its file.
    ConfirmFile was;
    const char* file_caption = nullptr;
    platform::UniqueFd report_lock;
    auto remove = [&](int folder_fd, const std::string& folder) -> Result<void> {
        if (Result<void> locked = lock_for_confirmation(folder_fd, folder, report_lock); !locked) return locked;
        was = confirm_file_at(folder_fd, folder);
        if (!was.present || remove_confirm_file_at(folder_fd, was.name)) return {};
        file_caption = kConfirmDeleteCaption;
        return fail(kArchiveDeleteFailed, format_string(kConfirmDeleteFailed, was.path.c_str()));
    };
    auto undo = [&](int folder_fd, const std::string&) -> Result<void> {
        if (was.present) (void)restore_confirm_file_at(folder_fd, was);
        return {};
    };
    const Result<void> done = archive_ops::set_confirmed(entry_->archive_folder, entry_->name, false, remove, undo);
    if (!done) {
        show_confirm_error(done.error(), file_caption);
        return false;
    }
    entry_->confirmed = false;
    if (on_index_changed_) on_index_changed_();
    set_confirmation({});
    if (!was.present)
        ui().message_box(format_string(kConfirmDeleteFailed, was.path.c_str()), kConfirmDeleteCaption, MsgIcon::Error,
                         MsgButtons::Ok);
    return true;
}

std::string ReportDocument::missing_parts() const {
    if (!page_problem_.empty()) return page_problem_;
    if (!emf_problem_.empty()) return emf_problem_;
    for (const auto& p : pages_)
        for (const std::string& name : p->metafiles())
            if (!p->can_read_metafile(name)) return "The 12-lead picture cannot be read: " + name;
    return {};
}

bool ReportDocument::export_rtf(const std::string& folder, const std::string& format, std::string* error) const {
    if (platform::iequals(format, "RTF"))
        return write_rtf_report(files_, join_path(folder, kReportRtfName), 1, kRtfLastPage, oem_, error);
    const BitmapFormat kind = platform::iequals(format, "PCX") ? BitmapFormat::Pcx : BitmapFormat::Bmp;
    std::vector<const CReportPage*> pages;
    pages.reserve(pages_.size());
    for (const auto& p : pages_) pages.push_back(p.get());
    return export_page_bitmaps(
        pages, fonts_, kPageBitmapWidth, kPageBitmapHeight,
        [&](std::size_t i) { return join_path(folder, page_bitmap_file_name(static_cast<int>(i) + 1, kind)); }, kind,
        error);
}

}  // namespace tv
