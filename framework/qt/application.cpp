#include "framework/qt/application.h"

#include "framework/qt/frame.h"

namespace tv::fw {
namespace {
Application* g_current = nullptr;
}  // namespace

Application::Application() {
    g_current = this;
    on_command_range(cmd::FileMru1, cmd::FileMru1 + 15,
                     [this](CommandId id) { open_recent_file(static_cast<std::size_t>(id - cmd::FileMru1)); });
    // The first entry stays as a disabled placeholder while the list is empty.
    on_update_command_range(cmd::FileMru1, cmd::FileMru1 + 15, [this](CommandUi& ui) {
        const auto index = static_cast<std::size_t>(ui.id() - cmd::FileMru1);
        ui.enable(index < recent_.items().size());
        if (index > 0 && index >= recent_.items().size()) ui.hide();
    });
}

Application::~Application() {
    close_all_documents();
    templates_.clear();
    if (g_current == this) g_current = nullptr;
}

Application* Application::current() { return g_current; }

DocTemplate* Application::add_doc_template(std::unique_ptr<DocTemplate> tmpl) {
    if (!tmpl) return nullptr;
    tmpl->app_ = this;
    templates_.push_back(std::move(tmpl));
    return templates_.back().get();
}

DocTemplate* Application::find_template(const std::string& file_type_id) const {
    for (const auto& t : templates_)
        if (t->file_type_id() == file_type_id) return t.get();
    return nullptr;
}

Document* Application::find_open_document(const std::string& path) const {
    if (path.empty()) return nullptr;
    for (const auto& t : templates_)
        if (Document* d = t->find_document(path)) return d;
    return nullptr;
}

Document* Application::open_document_file(const std::string& path, DocTemplate* tmpl) {
    if (Document* open = find_open_document(path)) {
        if (main_frame_ && !open->views().empty())
            if (ChildFrame* f = open->views().front()->frame()) main_frame_->activate_child(f);
        return open;
    }
    if (!tmpl) {
        for (const auto& t : templates_) {
            if (t->matches_extension(path)) {
                tmpl = t.get();
                break;
            }
        }
    }
    if (!tmpl && !templates_.empty()) tmpl = templates_.front().get();
    return tmpl ? tmpl->open_document_file(path) : nullptr;
}

bool Application::save_all_modified() {
    for (Document* d : documents())
        if (!d->save_modified()) return false;
    return true;
}

void Application::close_all_documents() {
    for (const auto& t : templates_) t->close_all_documents();
}

std::vector<Document*> Application::documents() const {
    std::vector<Document*> out;
    for (const auto& t : templates_)
        for (const auto& d : t->documents()) out.push_back(d.get());
    return out;
}

void Application::load_std_profile_settings(int max_recent) {
    recent_ = RecentFileList(max_recent);
    recent_.read_list();
    recent_in_profile_ = true;
}

void Application::add_to_recent_file_list(const std::string& path) {
    recent_.add(path);
    if (recent_in_profile_) recent_.write_list();
}

void Application::remove_from_recent_file_list(const std::string& path) {
    if (recent_.remove_path(path) && recent_in_profile_) recent_.write_list();
}

Document* Application::open_recent_file(std::size_t index) {
    if (index >= recent_.items().size()) return nullptr;
    const std::string path = recent_.items()[index];
    Document* doc = open_document_file(path);
    if (!doc) {
        // The opener told the user why; the entry would only fail again.
        remove_from_recent_file_list(path);
    }
    return doc;
}

bool Application::execute_command(CommandId id) {
    if (main_frame_) return main_frame_->execute_command(id);
    return route_command({this}, id);
}

CommandUi Application::command_state(CommandId id) {
    if (main_frame_) return main_frame_->command_state(id);
    return route_update({this}, id);
}

}  // namespace tv::fw
