// The archive-group document as the framework sees it: a fw::Document that owns the windowless
// CBrowserListDoc and keeps the document title and the views in step with its reloads. Opening
// the same ARCHDIR.DAT again gives the document already open.
#pragma once
#include <string>

#include "framework/qt/document.h"
#include "tolbex/browser/browser_list_core.h"

namespace tv::fw {
class Application;
}  // namespace tv::fw

namespace tv::gui {

// Resource id and document strings of the archive-group template.
inline constexpr int kArchiveTemplateResource = 130;
inline constexpr const char* kArchiveDocStrings =
    "Archive Group\nArchive\nArchive Group\nArchive Directory File (ARCHDIR.DAT)\nARCHDIR.DAT\nCalvera.Archive\n"
    "Archive Group";

class CBrowserListDoc : public fw::Document {
public:
    CBrowserListDoc();
    ~CBrowserListDoc() override;

    BrowserListCore& core() { return core_; }
    const BrowserListCore& core() const { return core_; }

    bool on_new_document() override;
    bool on_open_document(const std::string& path) override;
    // Archives are written by the operations themselves.
    bool on_save_document(const std::string& path) override;
    // Once a group is loaded, the title is always "Archives in folder <group folder>".
    void set_title(const std::string& title) override;

private:
    void reloaded();
    BrowserListCore core_;
};

// Adds the archive-group template (document, browser frame and its views) to the application;
// the template, or the one already added.
fw::DocTemplate* register_archive_template(fw::Application& app);
// Opens the group of an ARCHDIR.DAT through the framework (the open document when there is one);
// null when it could not be opened.
CBrowserListDoc* open_archive_group(const std::string& archdir_path, bool visible = true);
// The group folders of every open archive-group document, in order.
std::vector<std::string> open_group_folders();

}  // namespace tv::gui
