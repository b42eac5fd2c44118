#include "tolbex/app/ui/tolbex_window_app.h"

#include <algorithm>
#include <clocale>
#include <optional>

#include <QFileDialog>
#include <QInputDialog>
#include <QMdiArea>
#include <QMetaObject>

#include "common/files.h"
#include "common/ui.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/exit_codes.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/last_groups.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/app/command_line.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/browser/ui/archive_dialogs_ui.h"
#include "tolbex/browser/archive_documents.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/app/ui/clinic_code_dialog.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/options_dialogs.h"
#include "tolbex/letters/ui/letters_ui.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/browser/ui/signed_report_open.h"
#include "tolbex/browser/ui/timi_open.h"
#include "tolbex/timi/timi_strings.h"
#include "tolbex/timi/ui/timi_windows.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/ui/signature_bitmap_dialogs.h"
#include "tolbex/external/ui/external_commands.h"
#include "tolbex/intake/ui/intake_dialogs.h"
#include "framework/qt/wait_dialogs.h"
#include "tolbex/mail/ui/mail_dialogs.h"
#include "tolbex/reports/render/page_render.h"

namespace tv {

namespace {

ImportFileHook& import_file_hook() {
    static ImportFileHook hook;
    return hook;
}

// The wait cursor with the wait dialog of an import, held as one object.
struct ImportWaitWindows {
    explicit ImportWaitWindows(bool unpacking) {
        if (unpacking)
            receiving = std::make_unique<ReceivingMailDlg>();
        else
            copying = std::make_unique<MoveCopyWaitDlg>();
    }
    fw::WaitCursor cursor;
    std::unique_ptr<ReceivingMailDlg> receiving;
    std::unique_ptr<MoveCopyWaitDlg> copying;
};

}  // namespace

void set_import_file_hook(ImportFileHook hook) { import_file_hook() = std::move(hook); }

std::string choose_import_file(QWidget* parent) {
    if (import_file_hook()) return import_file_hook()();
    QFileDialog dialog(parent ? parent : fw::active_or_main_window(), QString::fromLatin1(kImportCaption));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Compressed Reports (*.CEF *.TVZ *.cef *.tvz)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return path_from_qstring(dialog.selectedFiles().front());
}

TolbexWindowApp::TolbexWindowApp(CTolbexApp& core, WindowedParts parts) : core_(core), parts_(std::move(parts)) {
    install_commands();
    install_import_windowing();
    gui::register_letter_handlers();
    gui::register_external_program_handler();
    gui::install_mail(&core_.audit());
}

TolbexWindowApp::~TolbexWindowApp() {
    gui::set_timi_opener({});
    gui::set_signed_timi_opener({});
    set_timi_audit(nullptr);
    set_import_windowing({});
    gui::install_mail(nullptr);
    fwapp_.close_all_documents();
    delete frame_;
    frame_ = nullptr;
    fw::set_main_window(nullptr);
}

void TolbexWindowApp::register_templates() {
    // The report windows come with the reports: no placeholder that opens nothing.
    if (!parts_.report) parts_.report = gui::report_template_parts();
    if (parts_.report)
        fwapp_.add_doc_template(std::make_unique<fw::DocTemplate>(kReportTemplateResource, kReportDocStrings,
                                                                  parts_.report.make_document,
                                                                  parts_.report.make_view));
    if (core_.is_browse_enabled()) gui::register_archive_template(fwapp_);
    if (!parts_.timi) parts_.timi = timi_template_parts();
    if (core_.is_timi_enabled() && parts_.timi) {
        // The day files' keys and the TIMI messages come from the string table.
        register_timi_strings();
        fwapp_.add_doc_template(std::make_unique<fw::DocTemplate>(kTimiTemplateResource, kTimiDocStrings,
                                                                  parts_.timi.make_document, parts_.timi.make_view));
        install_timi_openers();
    }
}

void TolbexWindowApp::install_timi_openers() {
    set_timi_audit(&core_.audit());
    gui::set_timi_opener([this](const gui::TimiOpenRequest& r) {
        TIMIDoc* doc =
            open_timi_window(fwapp_, {r.path, r.archive_folder, r.saved_data_path, r.display_name, r.data_file_id});
        if (!doc) return gui::TimiOpenResult::NoDocument;
        return doc->get_data() ? gui::TimiOpenResult::Opened : gui::TimiOpenResult::NoData;
    });
    gui::set_signed_timi_opener([this](const gui::SignedTimiData& d) {
        TIMIDoc* doc = open_timi_window(fwapp_, {d.data_file, d.archive_folder, d.report_folder, d.description, ""});
        if (!doc || !doc->get_data()) return false;  // the window is closing; the caller removes the folder
        doc->set_signatures(d.signatures);
        doc->set_restored_folder(d.folder);
        doc->set_title(
            signing::signed_label(signing::SignedLabel::TimiWindowTitle, signing::all_verified(d.signatures)));
        return true;
    });
}

bool TolbexWindowApp::create_main_frame() {
    frame_ = new CMainFrame(fwapp_, core_);
    fw::set_main_window(frame_);
    fw::MenuModel menu = menu::build_main_menu();
    menu::MenuOffer offer;
    offer.timi = core_.is_timi_enabled();
    offer.merivale_pdf = CTolbexApp::is_merivale_pdf_enabled();
    offer.mail = menu::is_mail_configured();
    offer.archive_configured = core_.is_any_archive_configured();
    offer.browse = core_.is_browse_enabled();
    // The TIMI window's File commands: routed to the active TIMI window, disabled elsewhere.
    if (offer.timi && parts_.timi && !menu.items.empty()) {
        std::vector<fw::MenuItem>& file = menu.items.front().items;
        const auto recent =
            std::find_if(file.begin(), file.end(), [](const fw::MenuItem& i) { return i.id == fw::cmd::FileMru1; });
        const std::size_t at = recent == file.end() ? file.size() : static_cast<std::size_t>(recent - file.begin());
        file.insert(file.begin() + static_cast<std::ptrdiff_t>(at > 0 ? at - 1 : at),
                    {fw::MenuItem::separator(), fw::MenuItem::popup("&TIMI", timi_window_menu().items.front().items)});
    }
    menu::prune_startup_menu(menu, offer);
    frame_->set_menu(menu);
    return true;
}

void TolbexWindowApp::show_main_window() {
    fwapp_.set_show_cmd(core_.show_state());
    if (core_.show_state() == kShowNormal)
        fw::restore_window_placement(frame_);
    else if (core_.show_state() == kShowMaximized)
        frame_->showMaximized();
    frame_->update_command_ui();
}

int TolbexWindowApp::reopen_archive_groups() {
    if (core_.show_state() == kShowHidden || core_.is_preview() || !core_.is_browse_enabled()) return 0;
    std::string first_group;
    if (core_.archive_config().get_count() > 0) first_group = core_.archive_config().get_path(0);
    for (const std::string& path : archive_groups_to_reopen(first_group)) open_group(path);
    const int open = fw::count_documents();
    switch (startup_arrangement(open)) {
        case StartupArrangement::Cascade: post_command(menu::kWindowCascade); break;
        case StartupArrangement::TileHorizontally: post_command(menu::kWindowTileHorz); break;
        case StartupArrangement::None: break;
    }
    return open;
}

bool TolbexWindowApp::init_instance(std::vector<std::string> args, bool expanded) {
    // The toolkit took every locale category from the environment. Numbers in files keep '.'
    // under every locale; dates shown to the user keep the user's form (LC_TIME stays).
    std::setlocale(LC_NUMERIC, "C");
    // Windows print and export what they show: the renderer is there whoever starts them.
    install_page_renderer();
    fwapp_.load_std_profile_settings(kRecentFileCount);
    core_.read_command_line(std::move(args), expanded);
    core_.form_paths();
    core_.load_archive_configuration();
    register_templates();
    if (!create_main_frame()) return false;
    register_report_file_types();
    core_.choose_show_state();
    show_main_window();
    reopen_archive_groups();
    core_.read_settings();
    if (!core_.start_logging()) {
        if (core_.exit_code() == kCommandLineDone) core_.set_exit_code(kCommandLineRefused);
        return false;
    }
    // A command-line action ends the program once it has run.
    if (!dispatch_command_line(core_, core_.args(), false))
        QMetaObject::invokeMethod(frame_, &QWidget::close, Qt::QueuedConnection);
    core_.warn_when_no_clinic_code(frame_->isVisible());
    if (core_.show_state() != kShowHidden && !core_.is_preview() && core_.is_browse_enabled()) {
        const std::vector<BrowserListCore*> groups = open_archive_documents();
        if (!groups.empty() && offer_deleted_report_removal(groups, ui()) == 0) reload_archive_documents();
    }
    // A recording read earlier and not stored (a failed store, a crash) is offered before anything else.
    if (core_.show_state() != kShowHidden && !core_.is_preview() && !kept_reads().empty())
        post_command(menu::kKeptRecordings);
    return true;
}

bool TolbexWindowApp::open_group(const std::string& archdir_path) {
    if (!fwapp_.find_template(kArchiveDocTypeId)) return false;
    return gui::open_archive_group(archdir_path) != nullptr;
}

void TolbexWindowApp::post_command(fw::CommandId id) {
    if (!frame_) return;
    CMainFrame* frame = frame_;
    QMetaObject::invokeMethod(
        frame, [frame, id] { frame->execute_command(id); }, Qt::QueuedConnection);
}

// The menu and the intake's handlers name the same commands.
static_assert(menu::kCardStoreInArchive == gui::kCardStoreInArchive &&
              menu::kCardStoreInFolder == gui::kCardStoreInFolder && menu::kCardSendAsMail == gui::kCardSendAsMailCmd &&
              menu::kDiskStoreInArchive == gui::kDiskStoreInArchive &&
              menu::kDiskStoreInFolder == gui::kDiskStoreInFolder && menu::kDiskSendAsMail == gui::kDiskSendAsMailCmd &&
              menu::kStoreDiskRecording == gui::kStoreDiskRecordingCmd &&
              menu::kStoreCardRecording == gui::kStoreCardRecordingCmd &&
              menu::kMailDiskRecording == gui::kMailDiskRecordingCmd &&
              menu::kDefaultCompression == gui::kDefaultCompression &&
              menu::kKeptRecordings == gui::kKeptRecordingsCmd);

void TolbexWindowApp::install_commands() {
    fwapp_.on_command(menu::kSelectGroup, [this] { on_select_group(); });
    fwapp_.on_command(menu::kOpenGroupFromList, [this] { on_select_group(); });
    fwapp_.on_command(menu::kFindGroups, [this] { on_find_groups(); });
    fwapp_.on_command(menu::kCreateGroup, [this] { on_create_group(); });
    fwapp_.on_command(menu::kOpenArchiveIndex, [this] { on_open_archive_index(); });
    fwapp_.on_command(menu::kClinicCode, [this] { on_default_clinic_code(); });
    fwapp_.on_command(menu::kImport, [this] { on_import(); });
    gui::install_options_commands(fwapp_, core_, [this]() -> QWidget* { return frame_; });
    gui::install_intake_commands(fwapp_, &core_.audit(), [this]() -> QWidget* { return frame_; });
    fwapp_.on_command(menu::kSignatureSettings, [this] {
        if (!core_.is_signing_enabled()) return;
        gui::EditSignatureBitmapsDlg dialog(frame_);
        dialog.exec_modal();
    });
    fwapp_.on_update_command(menu::kSignatureSettings, [this](fw::CommandUi& u) {
        if (!core_.is_signing_enabled()) u.hide();
        u.enable(core_.is_signing_enabled());
    });
}

void TolbexWindowApp::install_import_windowing() {
    ImportWindowing w;
    w.choose_archive = [this](const std::string& caption) -> std::string {
        gui::ChooseArchiveDlg dialog(true, frame_);
        dialog.set_caption(caption);
        if (dialog.exec_modal() != QDialog::Accepted) return {};
        return dialog.get_archive_path();
    };
    w.wait = [](bool unpacking) -> std::shared_ptr<void> { return std::make_shared<ImportWaitWindows>(unpacking); };
    w.stored = [](const std::string& report_folder) {
        reload_archive_documents();
        if (get_extension_upper(get_path_file_name(report_folder)) == "IMG")
            gui::open_report(join_path(report_folder, "SUMMARY.TXT"));
    };
    set_import_windowing(std::move(w));
}

void TolbexWindowApp::on_import() {
    for (;;) {
        const std::string path = choose_import_file(frame_);
        if (path.empty()) return;
        const std::string extension = get_extension_upper(get_path_file_name(path));
        if (extension == "CEF" || extension == "TVZ") {
            receive_mailed_report(path);
            return;
        }
        ui().message_box(kNotCompressedReportText, "", MsgIcon::Warning, MsgButtons::Ok);
    }
}

void TolbexWindowApp::on_select_group() {
    ArchiveConfigList& config = core_.archive_config();
    if (config.get_count() == 0) return;
    gui::ArchiveListDlg dlg(config, frame_);
    if (dlg.exec_modal() != QDialog::Accepted) return;
    const std::string path = dlg.get_archdir_path();
    if (path.empty()) return;
    open_configured_group(config, path, open_group_fn(), ui());
}

void TolbexWindowApp::on_find_groups() {
    const std::string base = fw::browse_for_folder(kFindGroupsCaption, "", frame_);
    if (base.empty()) return;
    bool cascade = false;
    std::optional<SearchingArchivesDlg> searching(std::in_place, frame_);
    std::optional<fw::WaitCursor> wait(std::in_place);
    const std::string old_text = frame_ ? frame_->pane_text(0) : std::string();
    // The status bar names the folder being searched, and has its old text back once the search
    // ends: the groups found open and the count is told without the search's dialog.
    find_and_open_archive_groups(
        base, open_group_fn(), ui(), &cascade,
        [this](const std::string& folder) {
            if (frame_) frame_->set_message_text(folder);
        },
        [&] {
            if (frame_) frame_->set_message_text(old_text);
            wait.reset();
            searching.reset();
        });
    if (cascade) post_command(menu::kWindowCascade);
}

void TolbexWindowApp::on_create_group() {
    const std::string folder = fw::browse_for_folder(kCreateGroupCaption, "", frame_);
    if (folder.empty()) return;
    create_archive_group(folder, core_.archive_config(), open_group_fn(), ui());
}

void TolbexWindowApp::on_open_archive_index() {
    const std::string path = gui::choose_archive_file(frame_, true);
    if (!path.empty()) open_group(path);
}

void TolbexWindowApp::on_default_clinic_code() {
    gui::ClinicCodeDlg dlg(frame_);
    dlg.exec_modal();
}

}  // namespace tv
