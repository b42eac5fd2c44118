// The application object: document templates, the main frame, the recent-file list and the end
// of the command route. One per process (current()). It does not own the QApplication.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "framework/core/command.h"
#include "framework/qt/document.h"
#include "framework/core/recent_files.h"

namespace tv::fw {

class MainFrame;

class Application : public CommandTarget {
public:
    Application();
    ~Application() override;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application* current();

    DocTemplate* add_doc_template(std::unique_ptr<DocTemplate> tmpl);
    const std::vector<std::unique_ptr<DocTemplate>>& doc_templates() const { return templates_; }
    // The template whose file-type id is given (case-sensitive); nullptr when none.
    DocTemplate* find_template(const std::string& file_type_id) const;

    void set_main_frame(MainFrame* frame) { main_frame_ = frame; }
    MainFrame* main_frame() const { return main_frame_; }
    // The show command for the main window (1 normal, 3 maximised, 0 hidden).
    int show_cmd() const { return show_cmd_; }
    void set_show_cmd(int cmd) { show_cmd_ = cmd; }

    // The document already open for the path (same file), else opens it with `tmpl`, else with
    // the first template whose extension matches, else the first template. Activates its frame.
    Document* open_document_file(const std::string& path, DocTemplate* tmpl = nullptr);
    Document* find_open_document(const std::string& path) const;
    // Asks about every modified document; false when the user cancelled or a save failed.
    bool save_all_modified();
    void close_all_documents();
    std::vector<Document*> documents() const;

    RecentFileList& recent_files() { return recent_; }
    // Loads the recent-file list of `max_recent` entries from the profile; from then on every
    // change of the list is written back at once, so a program that ends abruptly keeps it.
    void load_std_profile_settings(int max_recent = 4);
    // Puts the path first in the recent-file list (and the profile, once it was loaded).
    void add_to_recent_file_list(const std::string& path);
    void remove_from_recent_file_list(const std::string& path);
    // File > recent entry `index`: opens it; an entry that no longer opens leaves the list.
    Document* open_recent_file(std::size_t index);

    // Routes through the main frame when there is one, else to the application alone.
    bool execute_command(CommandId id);
    CommandUi command_state(CommandId id);

private:
    std::vector<std::unique_ptr<DocTemplate>> templates_;
    MainFrame* main_frame_ = nullptr;
    int show_cmd_ = 1;
    RecentFileList recent_;
    bool recent_in_profile_ = false;
};

inline Application* app() { return Application::current(); }

}  // namespace tv::fw
