#include "tolbex/reports/ui/report_doc_ui.h"

#include <optional>
#include <utility>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/report_files.h"
#include "common/safe_open.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/print_job.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/wait_dialogs.h"
#include "framework/qt/window_helpers.h"
#include "platform/system.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/reports/ui/report_view.h"
#include "tolbex/reports/report_printing.h"
#include "tolbex/signing/shown_report.h"

namespace tv::gui {

namespace {

inline constexpr const char* kOpenNoLogMessage =
    "The report cannot be opened, because the logfile cannot be opened.\n\nPlease attempt the operation again.";

fw::MainFrame* tolbex_main_frame() {
    fw::Application* app = fw::app();
    return app ? app->main_frame() : nullptr;
}

ReportWindowHost* report_host() { return dynamic_cast<ReportWindowHost*>(tolbex_main_frame()); }

// The running application's settings; without one (tests, tools) the defaults.
ReportDocumentMode current_report_mode() {
    const CTolbexApp* app = CTolbexApp::current();
    return app ? report_mode_of(app->settings()) : ReportDocumentMode{};
}

PrintSettings current_print_settings() {
    const CTolbexApp* app = CTolbexApp::current();
    return app ? print_settings_of(app->settings()) : PrintSettings{};
}

}  // namespace

CPellarnDoc::CPellarnDoc() {
    if (CTolbexApp* app = CTolbexApp::current()) core_.set_audit(&app->audit());
    core_.set_peer_user_query([] {
        ReportWindowHost* host = report_host();
        return host ? host->confirming_user() : std::string();
    });
    // The status panes tell the confirmation as soon as it is known, not at the next activation.
    core_.set_on_confirmation_changed([] {
        if (fw::MainFrame* f = tolbex_main_frame()) f->update_command_ui();
    });
    install_commands();
}

CPellarnDoc::~CPellarnDoc() { core_.close(); }

namespace {

// The report's pages as the print loop draws them: the page box mapped onto the printable area
// (or at true scale) of whatever device prints or previews them.
class ReportPrintPages : public fw::PageSource {
public:
    ReportPrintPages(const ReportDocument& doc, PrintSettings settings) : doc_(doc), settings_(std::move(settings)) {}
    int page_count() const override { return doc_.page_count(); }
    void print_page(fw::DrawContext& dc, int number, const fw::Rc& page) override {
        const PageViewport vp =
            print_page_viewport(settings_.true_scale, dc.dpi(), settings_.margins, {page.width(), page.height()});
        draw_print_page(dc, doc_, number - 1, vp);
    }

private:
    const ReportDocument& doc_;
    PrintSettings settings_;
};

}  // namespace

void CPellarnDoc::install_commands() {
    on_command(report_cmd::Confirm, [this] { core_.confirm(); });
    on_update_command(report_cmd::Confirm, [this](fw::CommandUi& u) { u.enable(core_.can_confirm()); });
    on_command(report_cmd::Unconfirm, [this] { core_.unconfirm(); });
    on_update_command(report_cmd::Unconfirm, [this](fw::CommandUi& u) { u.enable(core_.can_unconfirm()); });
    on_command(report_cmd::SaveTraced, [this] {
        if (core_.save_with_audit()) set_modified(false);
    });
    on_update_command(report_cmd::SaveTraced, [this](fw::CommandUi& u) { u.enable(core_.is_modified()); });
    // Printing goes through the framework's print loop with the document's pages; nothing is
    // printed unless the audit log opens.
    auto print = [this](bool show_dialog) {
        // A printout is the whole report or nothing: the window shows what there is, a print may not.
        if (const std::string problem = core_.missing_parts(); !problem.empty()) {
            ui().message_box("The report cannot be printed: " + problem, "", MsgIcon::Error, MsgButtons::Ok);
            return;
        }
        CTolbexApp* app = CTolbexApp::current();
        const std::string location = core_.audit_location();
        if (app && !app->audit().open(location)) {
            ui().message_box(kPrintNoLogMessage, "", MsgIcon::Error, MsgButtons::Ok);
            app->audit().close();
            return;
        }
        ReportPrintPages pages(core_, current_print_settings());
        fw::PrintJobOptions options;
        options.document_name = title();
        options.duplicate_limit = app ? app->print_duplicate_limit() : 0;
        options.show_dialog = show_dialog;
        if (!views().empty()) options.parent = views().front();
        const fw::PrintOutcome outcome = fw::run_print_job(pages, options);
        if (outcome.result == fw::PrintResult::Printed) {
            if (app) app->audit().write(kAuditPrint, core_.report_name(), location, "");
        } else if (outcome.result == fw::PrintResult::Failed) {
            ui().message_box(outcome.error.empty() ? std::string(kPrintStartFailed) : outcome.error, "", MsgIcon::Error,
                             MsgButtons::Ok);
        }
        if (app) app->audit().close();
    };
    on_command(fw::cmd::FilePrint, [print] { print(true); });
    on_update_command(fw::cmd::FilePrint, [](fw::CommandUi& u) { u.set_text("&Print...\tCtrl+P"); });
    on_command(report_cmd::PrintDirect, [print] { print(false); });
    on_command(fw::cmd::FilePrintPreview, [this] {
        ReportPrintPages pages(core_, current_print_settings());
        fw::PrintJobOptions options;
        options.document_name = title();
        if (!views().empty()) options.parent = views().front();
        // While the preview is up, closing the main window only leaves the preview.
        options.preview_shown = [](std::function<void()> close) {
            const bool shown = static_cast<bool>(close);
            if (ReportWindowHost* host = report_host()) host->set_preview_mode(shown, std::move(close));
        };
        fw::run_print_preview(pages, options);
    });
    on_command(report_cmd::MerivalePdf, [this] {
        if (const std::string problem = core_.missing_parts(); !problem.empty()) {
            ui().message_box("The report cannot be printed: " + problem, "", MsgIcon::Error, MsgButtons::Ok);
            return;
        }
        fw::WaitCursor wait;
        export_merivale_pdf(core_, current_print_settings());
    });
}

namespace {
// The report folder open_archived_report reached from its group down, for the document it opens.
ReportFolder& folder_from_group() {
    static ReportFolder folder;
    return folder;
}
}  // namespace

bool CPellarnDoc::on_open_document(const std::string& path) {
    const std::string signed_folder = ReportDocument::folder_of(path);
    std::string error;
    fw::WaitCursor wait;
    bool loaded = false;
    {
        // Only a window on screen gets the notice: a report loaded for a hidden run shows nothing.
        QWidget* main = fw::main_window();
        std::optional<LoadingReportDlg> loading;
        if (main && main->isVisible()) loading.emplace(main);
        // A report opened from its archive is read from the group down, never by its path again.
        const ReportFolder from_group = std::exchange(folder_from_group(), ReportFolder());
        if (is_signed_report_folder(ReportFolder(signed_folder))) {
            // A signed report shows what its container restores, never what lies beside it.
            auto shown = signing::open_report_for_showing(signed_folder);
            if (!shown)
                error = shown.error().message.empty() ? "The signed report does not verify." : shown.error().message;
            else if ((loaded = core_.load(shown->folder(), current_report_mode(), &error)))
                core_.set_temporary_folder(shown->release());
        } else {
            loaded = from_group.is_open() && from_group.path() == signed_folder
                         ? core_.load(from_group, current_report_mode(), &error)
                         : core_.load(path, current_report_mode(), &error);
        }
        // The notice took the activation with it: the main window gets it back, whatever the
        // window manager does (the report's keys go to it).
        if (loading) {
            loading.reset();
            main->activateWindow();
        }
    }
    if (!loaded) {
        ui().message_box("The report cannot be opened:\n" + error, "", MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    set_path_name(join_path(core_.report_folder(), kSummaryTxtName), false);
    if (!core_.temporary_folder().empty()) {
        // The restored copy goes when the window closes: no recent-file entry may lead there.
        if (fw::Application* fwapp = fw::app()) fwapp->remove_from_recent_file_list(path_name());
        core_.set_archive_report_path(signed_folder);
    }
    // However it is opened, the report is described as its archive lists it; the browser and
    // the command line then add what they know.
    ArchivedReportEntry entry = find_archived_report(core_.audit_location());
    if (entry.record) {
        describe_archived_report(*this, *entry.archive, *entry.record, entry.archive_name);
    } else {
        set_report_title(kReportTitlePrefix + core_.report_folder());
        core_.set_report_name(get_path_file_name(core_.report_folder()));
        core_.set_confirmation(read_confirming_user(core_.report_files()).value_or(""));
    }
    return true;
}

void CPellarnDoc::set_title(const std::string& title) {
    // The framework titles a document by its file, SUMMARY.TXT: a report keeps its own title.
    fw::Document::set_title(core_.report_title().empty() ? title : core_.report_title());
}

bool CPellarnDoc::on_save_document(const std::string&) {
    std::string error;
    if (!core_.save(&error)) {
        ui().message_box(format_string(kReportSaveFailed, error.c_str()), "", MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    set_modified(false);
    return true;
}

bool CPellarnDoc::save_modified() {
    core_.set_modified(is_modified() || core_.is_modified());
    if (!core_.save_modified()) return false;
    set_modified(false);
    return true;
}

void CPellarnDoc::on_close_document() {
    core_.close();
    fw::Document::on_close_document();
}

void CPellarnDoc::set_report_title(const std::string& title) {
    core_.set_report_title(title);
    fw::Document::set_title(title);
}

int CPellarnDoc::add_annotation(int page, const std::string& text, int x, int y) {
    const int index = core_.add_annotation(page, text, x, y);
    if (index >= 0) set_modified(true);
    return index;
}

bool CPellarnDoc::replace_annotation(int page, int item, const std::string& text) {
    if (!core_.replace_annotation(page, item, text)) return false;
    set_modified(true);
    return true;
}

bool CPellarnDoc::delete_annotation(int page, int item) {
    if (!core_.delete_annotation(page, item)) return false;
    set_modified(true);
    return true;
}

fw::TemplateParts report_template_parts() {
    // The command line's "/load" and "/preview" open reports once the report windows exist.
    set_report_opener(open_report_from_command_line);
    fw::TemplateParts parts;
    parts.make_document = [] { return std::make_unique<CPellarnDoc>(); };
    parts.make_view = [](fw::Document& d) -> fw::View* { return new CPellarnView(static_cast<CPellarnDoc&>(d)); };
    return parts;
}

CPellarnDoc* open_report(const std::string& path) {
    fw::Application* app = fw::app();
    if (!app) return nullptr;
    fw::DocTemplate* tmpl = app->find_template(kReportDocTypeId);
    if (!tmpl) return nullptr;
    const std::string folder = ReportDocument::folder_of(path);
    auto* doc = dynamic_cast<CPellarnDoc*>(app->open_document_file(join_path(folder, kSummaryTxtName), tmpl));
    if (doc && !doc->core().temporary_folder().empty()) app->remove_from_recent_file_list(doc->path_name());
    return doc;
}

void describe_archived_report(CPellarnDoc& doc, ReportArchive& archive, ReportRecord& record,
                              const std::string& archive_name, std::function<void()> on_index_changed) {
    doc.set_report_title(record.get_description() + " (" + archive_name + ")");
    doc.core().set_report_name(record.get_description());
    doc.core().set_report_time(record.get_time());
    doc.core().set_report_size(static_cast<std::uint32_t>(record.get_size()));
    doc.core().set_archive(archive, record);
    doc.core().set_on_index_changed(std::move(on_index_changed));
    // The confirmation of the pages shown: for a signed report that is the signed content, not a
    // file anyone could put beside it in the archive.
    doc.core().set_confirmation(read_confirming_user(doc.core().report_folder()).value_or(""));
}

CPellarnDoc* open_archived_report(ReportArchive& archive, ReportRecord& record, const std::string& archive_name,
                                  std::function<void()> on_index_changed) {
    const std::string folder = record.get_folder_path();
    if (folder.empty()) return nullptr;
    CTolbexApp* app = CTolbexApp::current();
    if (app && !app->audit().open(folder)) {
        ui().message_box(kOpenNoLogMessage, "", MsgIcon::Error, MsgButtons::Ok);
        app->audit().close();
        return nullptr;
    }
    folder_from_group() = record.open_folder();
    if (!folder_from_group().is_open()) {
        const OutsideRefusal why = folder_from_group().refusal();
        ui().message_box("The report cannot be opened:\n" +
                             outside_refusal_text(folder, why == OutsideRefusal::None ? OutsideRefusal::Missing : why),
                         "", MsgIcon::Error, MsgButtons::Ok);
        if (app) app->audit().close();
        return nullptr;
    }
    CPellarnDoc* doc = open_report(folder);
    folder_from_group() = ReportFolder();
    if (doc) {
        describe_archived_report(*doc, archive, record, archive_name, std::move(on_index_changed));
        // Traced only when a report window resulted.
        if (app) app->audit().write(kAuditViewFormatted, record.get_description(), folder, "");
    }
    if (app) app->audit().close();
    return doc;
}

bool open_report_from_command_line(const std::string& path, const std::string& title, bool preview) {
    CPellarnDoc* doc = open_report(path);
    if (!doc) return false;
    // What the window shows: a signed report's restored copy, never the files beside its container.
    const std::string folder = doc->core().report_folder();
    if (preview) {
        const std::string window_title = preview_window_title(title, join_path(folder, kSummaryTxtName));
        const bool blank = title.find_first_not_of(" \t") == std::string::npos;
        // Appended, not "<" + name: gcc 12 at -O3 takes the string insert for an overlapping copy.
        doc->core().set_report_name(blank ? std::string("<").append(load_resource_string(1034)).append(">") : title);
        doc->set_report_title(window_title);
    } else {
        doc->set_report_title(title);
        doc->core().set_report_name(title);
    }
    doc->core().set_report_time(platform::system().now());
    std::int64_t size = 0;
    for (FileFinder f(join_path(folder, "*.*"), kFindAny); !f.at_end(); f.next()) size += f.get_size();
    doc->core().set_report_size(static_cast<std::uint32_t>(size));
    return true;
}

}  // namespace tv::gui

namespace tv {

namespace {
bool g_compare_mode = false;
bool g_compare_changing = false;
}  // namespace

bool is_compare_mode() { return g_compare_mode; }

void set_compare_mode(bool on) {
    if (g_compare_changing) return;
    g_compare_changing = true;
    const bool was_on = g_compare_mode;
    g_compare_mode = on;
    fw::Application* app = fw::app();
    if (was_on && !on && app) {
        // Leaving the mode closes every report window; frames left minimised come back.
        std::vector<fw::ChildFrame*> report_frames;
        for (fw::Document* doc : app->documents()) {
            if (!doc->doc_template() || doc->doc_template()->file_type_id() != kReportDocTypeId) continue;
            for (fw::View* v : doc->views())
                if (fw::ChildFrame* f = v->frame()) report_frames.push_back(f);
        }
        for (fw::ChildFrame* f : report_frames) QMetaObject::invokeMethod(f, &QWidget::close, Qt::QueuedConnection);
        if (fw::MainFrame* frame = app->main_frame())
            for (fw::ChildFrame* f : frame->child_frames())
                if (f->isMinimized()) f->showNormal();
    }
    g_compare_changing = false;
}

}  // namespace tv
