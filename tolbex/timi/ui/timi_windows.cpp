#include "tolbex/timi/ui/timi_windows.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "common/files.h"
#include "common/ui.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_dialogs.h"
#include "framework/qt/window_helpers.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "tolbex/browser/archive_documents.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/timi/timi_files.h"
#include "tolbex/timi/ui/stemi_sheet_dialog.h"
#include "tolbex/timi/ui/timi_print_ui.h"

namespace tv {

namespace {

AuditTrail*& timi_audit() {
    static AuditTrail* audit = nullptr;
    return audit;
}

std::function<int(bool)>& overwrite_hook() {
    static std::function<int(bool)> hook;
    return hook;
}

int ask_overwrite(bool summary) {
    if (overwrite_hook()) return overwrite_hook()(summary);
    TIMICheckOverwriteDlg dialog(summary, fw::active_or_main_window());
    return dialog.exec();
}

}  // namespace

void set_timi_audit(AuditTrail* audit) { timi_audit() = audit; }
void set_timi_overwrite_hook(std::function<int(bool)> hook) { overwrite_hook() = std::move(hook); }

// --- TIMICheckOverwriteDlg

std::string TIMICheckOverwriteDlg::caption(bool summary) { return summary ? "Save TIMI Summary" : "Save TIMI Data"; }

std::string TIMICheckOverwriteDlg::text(bool summary) {
    return summary ? "The TIMI summary you are saving has already been saved.\nDo you want to overwrite this, or "
                     "create a new TIMI Summary archive ?"
                   : "The TIMI data you are saving has already been saved.\nDo you want to overwrite this data, or "
                     "create a new TIMI Data archive ?";
}

TIMICheckOverwriteDlg::TIMICheckOverwriteDlg(bool summary, QWidget* parent) : QDialog(parent) {
    setWindowTitle(to_qstring(caption(summary)));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(to_qstring(text(summary)), this);
    label->setObjectName(QStringLiteral("1586"));
    layout->addWidget(label);
    auto* buttons = new QHBoxLayout();
    auto* overwrite = new QPushButton(QStringLiteral("Overwrite"), this);
    auto* create = new QPushButton(QStringLiteral("Create New"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    overwrite->setObjectName(QStringLiteral("1584"));
    create->setObjectName(QStringLiteral("1585"));
    overwrite->setDefault(true);
    for (QPushButton* b : {overwrite, create, cancel}) buttons->addWidget(b);
    layout->addLayout(buttons);
    connect(overwrite, &QPushButton::clicked, this, [this] { done(kTimiOverwrite); });
    connect(create, &QPushButton::clicked, this, [this] { done(kTimiCreateNew); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
}

// --- TIMIDoc

TIMIDoc::TIMIDoc() {
    store_.set_ask_overwrite(ask_overwrite);
    store_.set_reload_hook([] { reload_archive_documents(); });
    store_.set_writing_hook([this](bool on) {
        saving_.reset();
        if (on)
            saving_ = std::make_unique<TextWaitDlg>(std::string(), kSavingTimiText, fw::main_window(), true);
        else if (QWidget* main = fw::main_window())
            main->activateWindow();  // the message took the activation with it
    });
    on_command(timi_cmd::SaveData, [this] { save_timi_data(TimiRowRange::whole_table()); });
    on_command(timi_cmd::SaveSelected, [this] { save_selected_timi_data(); });
    on_command(timi_cmd::SaveSummary, [this] { save_timi_summary(); });
}

TIMIDoc::~TIMIDoc() {
    if (!restored_folder_.empty()) delete_folder_tree(restored_folder_, true, true);
}

void TIMIDoc::set_signatures(std::vector<signing::SignatureRecord> signers) {
    signatures_ = std::move(signers);
    store_.set_signed_source(!signatures_.empty());
}

// The title is no file: the recent-file list could never open it again.
void TIMIDoc::update_title() { set_path_name(kTimiTitlePrefix + store_.display_name(), false); }

void TIMIDoc::set_data(TimiData* data) {
    data_ = data;
    store_.set_data(data);
}

TIMIDoc* TIMIView::timi_document() const { return dynamic_cast<TIMIDoc*>(document()); }

TIMIView* TIMIDoc::first_view() const {
    for (fw::View* v : views())
        if (auto* t = dynamic_cast<TIMIView*>(v)) return t;
    return nullptr;
}

bool TIMIDoc::save_timi_data(const TimiRowRange& rows) {
    store_.set_audit(timi_audit());
    if (!store_.save_timi_data(rows, is_modified())) return false;
    if (store_.last_stored_whole()) {
        set_modified(false);
        unedited_new_ = false;
    }
    update_title();
    return true;
}

bool TIMIDoc::save_selected_timi_data() {
    std::int32_t first = -1, last = -1;
    if (TIMIView* view = first_view()) view->grid().get_selected_rows(first, last);
    return save_timi_data(TimiRowRange::selected(first, last));
}

TimiStore::SummaryResult TIMIDoc::save_timi_summary() {
    store_.set_audit(timi_audit());
    const TimiStore::SummaryResult result = store_.save_timi_summary();
    if (result == TimiStore::SummaryResult::Overwritten) set_modified(false);
    if (result != TimiStore::SummaryResult::Refused) update_title();
    return result;
}

void TIMIDoc::set_title(const std::string& title) {
    fw::Document::set_title(get_extension_upper(title) == "TIMI" ? std::string(kUnsavedTimiTitle) : title);
}

void TIMIDoc::set_new_analysis() {
    set_modified(true);
    unedited_new_ = true;
}

void TIMIDoc::set_edited() {
    set_modified(true);
    unedited_new_ = false;
    // What is shown is no longer what was signed.
    if (!signatures_.empty()) set_title(kEditedSignedTimiTitle);
}

bool TIMIDoc::save_modified() {
    if (!is_modified()) return true;
    std::string text = kSaveModifiedTimiText;
    // Nothing edited yet: the question says only that the analysis is unsaved.
    if (unedited_new_) {
        text = kSaveNewTimiText;
    } else if (!path_name().empty()) {
        std::string name = get_path_file_name(path_name());
        // The display name after "TIMI Data - "; a shorter name stands whole.
        if (name.size() > 12) name = name.substr(12);
        text = kSaveModifiedTimiFormat;
        text.replace(text.find("%s"), 2, name);
    }
    switch (ui().message_box(text, std::string(), MsgIcon::Question, MsgButtons::YesNoCancel)) {
        case MsgResult::Yes: return save_timi_data(TimiRowRange::whole_table());  // closes only when saved
        case MsgResult::No: return true;
        default: return false;
    }
}

// --- TIMIView

TIMIView::TIMIView(TIMIDoc&) : print_settings_(gui::load_timi_print_settings()) {
    // The document may go before the view (its frame closes later): always ask the framework.
    widget_ = new TIMIGridWidget(
        [this](TimiData* d) {
            if (TIMIDoc* doc = timi_document()) doc->set_data(d);
        },
        [this] {
            if (TIMIDoc* doc = timi_document()) doc->set_edited();
        },
        this);
    install_commands();
}

TIMIView::~TIMIView() {
    if (TIMIDoc* doc = timi_document(); doc && doc->get_data() == &grid().data()) doc->set_data(nullptr);
    delete widget_;
    widget_ = nullptr;
}

void TIMIView::install_commands() {
    const auto print = [this](TimiPrintRequest request) {
        const TIMIDoc* doc = timi_document();
        if (!doc || !doc->get_data()) return;
        gui::run_timi_print(this, *doc->get_data(), print_settings_, request, false, doc->title());
    };
    on_command(timi_cmd::PrintTable, [print] { print(TimiPrintRequest::entire_table()); });
    on_command(timi_cmd::PrintEvents, [print] { print(TimiPrintRequest::events_only()); });
    on_command(timi_cmd::PrintSelected, [this, print] {
        std::int32_t first = -1, last = -1;
        grid().get_selected_rows(first, last);
        print(TimiPrintRequest::selected(first, last));
    });
    on_command(timi_cmd::HeadingFont,
               [this] { gui::choose_timi_font(this, print_settings_, gui::TimiFontKind::Heading); });
    on_command(timi_cmd::BodyFont, [this] { gui::choose_timi_font(this, print_settings_, gui::TimiFontKind::Body); });
    on_command(timi_cmd::PrePostTimes, [this] { gui::edit_timi_pre_post(this, print_settings_); });
    on_command(timi_cmd::Landscape, [this] { gui::toggle_landscape(print_settings_); });
    on_update_command(timi_cmd::Landscape, [this](fw::CommandUi& ui) { ui.set_check(print_settings_.landscape); });
    on_command(timi_cmd::Stemi, [this] {
        if (TIMIDoc* doc = timi_document(); doc && doc->get_data()) gui::run_stemi_sheet(this, *doc->get_data());
    });
    for (fw::CommandId id : {timi_cmd::PrintTable, timi_cmd::PrintSelected, timi_cmd::PrintEvents, timi_cmd::Stemi})
        on_update_command(id, [this](fw::CommandUi& ui) {
            const TIMIDoc* doc = timi_document();
            ui.enable(doc && doc->get_data() != nullptr);
        });
    on_command(timi_cmd::SignatureDetails, [this] {
        const TIMIDoc* doc = timi_document();
        if (doc && !doc->get_signatures().empty())
            ui().message_box(signing::timi_data_signature_message(doc->get_signatures()), std::string(),
                             MsgIcon::Information, MsgButtons::Ok);
    });
    on_update_command(timi_cmd::SignatureDetails, [this](fw::CommandUi& ui) {
        const TIMIDoc* doc = timi_document();
        ui.enable(doc && !doc->get_signatures().empty());
    });
}

void TIMIView::on_initial_update() {
    fw::View::on_initial_update();
    TIMIDoc* doc = timi_document();
    if (!doc) return;
    // The table lives in the first window's grid: a further window on the document closes again.
    if (doc->get_data() && doc->first_view() != this) {
        if (fw::ChildFrame* f = frame()) QTimer::singleShot(0, f, [f] { f->close(); });
        return;
    }
    const std::string path = doc->path_name();
    bool ok = false;
    std::optional<TimiFileFault> unread;  // told once the wait message is gone
    {
        TextWaitDlg wait(std::string(), kLoadingTimiText, this, true);
        if (platform::compare_text_nocase(get_path_file_name(path), kTimiDataFileName) != 0) {
            // A day list of a new analysis: read once, then gone.
            ok = grid().load_day_list(path);
            if (ok) {
                doc->on_new_document();
                doc->set_new_analysis();
            }
            std::remove(path.c_str());
        } else {
            TimiFileFault fault;
            ok = grid().load_data_file(path, &fault);
            if (ok)
                doc->set_modified(false);
            else
                unread = std::move(fault);
        }
    }
    loaded_ = ok;
    widget_->refresh();
    if (ok) {
        // The wait message took the activation with it: give it back with the focus.
        QTimer::singleShot(0, widget_, [w = widget_] {
            w->window()->activateWindow();
            w->setFocus();
        });
    } else {
        doc->set_data(nullptr);
        if (unread) show_error(timi_data_file_error_text(path, *unread));
        if (fw::ChildFrame* f = frame()) QTimer::singleShot(0, f, [f] { f->close(); });
    }
}

void TIMIView::resizeEvent(QResizeEvent* e) {
    fw::View::resizeEvent(e);
    if (width() >= 1 && height() >= 1) widget_->setGeometry(0, 0, width(), height());
}

// --- menu, template, opening

fw::MenuModel timi_window_menu() {
    using fw::MenuItem;
    const auto c = [](fw::CommandId id, std::string text, std::string status = {}) {
        return MenuItem::command(id, std::move(text), std::move(status));
    };
    fw::MenuModel m;
    m.items = {MenuItem::popup(
        "&File", {c(timi_cmd::SaveData, "Save TIMI &Data"), c(timi_cmd::SaveSelected, "Save Se&lected TIMI Data"),
                  c(timi_cmd::SaveSummary, "&Save TIMI Summary"), MenuItem::separator(),
                  MenuItem::popup("&Print", {c(timi_cmd::PrintTable, "Entire &Table..."),
                                             c(timi_cmd::PrintSelected, "&Selected Data..."),
                                             c(timi_cmd::PrintEvents, "&Events Only...")}),
                  MenuItem::popup("Printing &Options", {c(timi_cmd::BodyFont, "Set Body Font..."),
                                                        c(timi_cmd::HeadingFont, "Set Heading Font..."),
                                                        c(timi_cmd::PrePostTimes, "Set Pre && Post Event Times..."),
                                                        c(timi_cmd::Landscape, "Use Landscape Mode?")}),
                  c(timi_cmd::Stemi, "STEMI"), c(timi_cmd::SignatureDetails, "View Signature Details")})};
    return m;
}

fw::TemplateParts timi_template_parts() {
    fw::TemplateParts parts;
    parts.make_document = [] { return std::make_unique<TIMIDoc>(); };
    parts.make_view = [](fw::Document& doc) -> fw::View* {
        auto* timi = dynamic_cast<TIMIDoc*>(&doc);
        return timi ? new TIMIView(*timi) : nullptr;
    };
    return parts;
}

TIMIDoc* open_timi_window(fw::Application& app, const TimiWindowRequest& request) {
    auto* doc = dynamic_cast<TIMIDoc*>(app.open_document_file(request.path, app.find_template("TIMI.Document")));
    // The day list of a new analysis is read once and deleted, a signed report's data lives in a
    // folder that goes with the window, and a stored report's data file opened on its own would
    // not know its report: none of them opens again from the recent-file list.
    app.remove_from_recent_file_list(request.path);
    if (!doc) return nullptr;
    doc->set_data_folder(request.archive_folder);
    doc->set_display_name(request.display_name);
    doc->set_saved_data_path(request.saved_data_path);
    doc->set_data_file_id(request.data_file_id);
    // A new analysis stays "Unsaved TIMI Data" until it is stored.
    if (doc->get_data() && !request.saved_data_path.empty()) doc->update_title();
    return doc;
}

}  // namespace tv
