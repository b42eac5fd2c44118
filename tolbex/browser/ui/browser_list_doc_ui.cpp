#include "tolbex/browser/ui/browser_list_doc_ui.h"

#include "framework/qt/application.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/wait_dialogs.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/browser/ui/browser_frame.h"

namespace tv::gui {

namespace {

// Copying and moving reports on screen: the wait cursor and the "Moving/Copying Reports" dialog,
// which names each report as it is handled.
class MoveCopyWait : public ProgressWindow {
public:
    void set_text(const std::string& text) override { dialog_.set_report_text(text); }

private:
    fw::WaitCursor cursor_;
    MoveCopyWaitDlg dialog_;
};

}  // namespace

CBrowserListDoc::CBrowserListDoc() {
    core_.set_on_reloaded([this] { reloaded(); });
    core_.set_wait_window_maker([] { return std::make_unique<MoveCopyWait>(); });
    if (CTolbexApp* app = CTolbexApp::current()) core_.set_audit(&app->audit());
}

CBrowserListDoc::~CBrowserListDoc() { core_.set_on_reloaded({}); }

bool CBrowserListDoc::on_new_document() { return fw::Document::on_new_document(); }

bool CBrowserListDoc::on_open_document(const std::string& path) {
    if (!fw::Document::on_open_document(path)) return false;
    const bool ok = core_.open_document(path);
    if (ok) set_title(core_.get_title());
    return ok;
}

bool CBrowserListDoc::on_save_document(const std::string&) { return true; }

void CBrowserListDoc::set_title(const std::string& title) {
    fw::Document::set_title(core_.has_group() ? core_.get_title() : title);
}

void CBrowserListDoc::reloaded() {
    set_title(core_.get_title());
    update_all_views(nullptr);
}

fw::DocTemplate* register_archive_template(fw::Application& app) {
    if (fw::DocTemplate* t = app.find_template(kArchiveDocTypeId)) return t;
    return app.add_doc_template(std::make_unique<fw::DocTemplate>(
        kArchiveTemplateResource, kArchiveDocStrings, [] { return std::make_unique<CBrowserListDoc>(); },
        [](fw::Document& d) -> fw::View* { return new CBrowserFrame(static_cast<CBrowserListDoc&>(d)); }));
}

CBrowserListDoc* open_archive_group(const std::string& archdir_path, bool visible) {
    fw::Application* app = fw::app();
    if (!app || archdir_path.empty()) return nullptr;
    fw::DocTemplate* tmpl = register_archive_template(*app);
    if (!visible) {
        if (auto* open = dynamic_cast<CBrowserListDoc*>(app->find_open_document(archdir_path))) return open;
        return dynamic_cast<CBrowserListDoc*>(tmpl->open_document_file(archdir_path, false));
    }
    return dynamic_cast<CBrowserListDoc*>(app->open_document_file(archdir_path, tmpl));
}

std::vector<std::string> open_group_folders() {
    std::vector<std::string> folders;
    for (BrowserListCore* d : open_archive_documents())
        if (d->has_group()) folders.push_back(d->get_group_folder());
    return folders;
}

}  // namespace tv::gui
