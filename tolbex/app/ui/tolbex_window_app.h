// The windowed start of tolbex: the start-up steps that need windows (document templates, the
// main frame and its menu, the window placement, reopening the archive groups of the last run
// and arranging them) around the windowless ones of CTolbexApp, the File > Archive Group
// commands, and the compare-reports mode.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/qt/application.h"
#include "framework/qt/document.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/browser/app_commands.h"

class QWidget;

namespace tv {

class CTolbexApp;
class CMainFrame;

inline constexpr int kTimiTemplateResource = 185;
// File menu's recent-file list: "Recent File List" / "File1".."File8" in the profile.
inline constexpr int kRecentFileCount = 8;
inline constexpr const char* kTimiDocTypeId = "TIMI.Document";
inline constexpr const char* kTimiDocStrings =
    "\nTIMI\nTIMI\nTorvane TIMI Files (*.TIMI)\n.TIMI\nTIMI.Document\nTIMI Document";

inline constexpr const char* kFindGroupsCaption = "Base folder to search for archives:";
inline constexpr const char* kCreateGroupCaption = "Select folder to convert to an Archive Group";

using TemplateParts = fw::TemplateParts;

inline constexpr const char* kImportCaption = "Import Compressed Report";
inline constexpr const char* kNotCompressedReportText = "The file that you selected is not a compressed report.";

// File > Import's file dialog, or a test's stand-in: the path the "user" picked, "" for Cancel.
using ImportFileHook = std::function<std::string()>;
void set_import_file_hook(ImportFileHook hook);  // empty restores the real dialog
// Asks for a received report file (.CEF or .TVZ); "" when the user cancelled.
std::string choose_import_file(QWidget* parent);

// The report and TIMI windows: a test may put its own; left empty, the real ones are taken. The
// archive-group template is always the archive browser's.
struct WindowedParts {
    TemplateParts report;
    TemplateParts timi;
};

class TolbexWindowApp {
public:
    TolbexWindowApp(CTolbexApp& core, WindowedParts parts = {});
    ~TolbexWindowApp();
    TolbexWindowApp(const TolbexWindowApp&) = delete;
    TolbexWindowApp& operator=(const TolbexWindowApp&) = delete;

    // The whole start-up, once the window toolkit exists (it sets the locale from the environment;
    // this pins the numeric category back to "C"). False ends the program at once (the core's
    // exit code says why).
    // `expanded`: the parameter files were already expanded into `args`.
    bool init_instance(std::vector<std::string> args, bool expanded = false);

    fw::Application& framework() { return fwapp_; }
    CTolbexApp& core() { return core_; }
    CMainFrame* main_frame() const { return frame_; }

    // --- start-up steps, usable on their own ---
    void register_templates();
    // Frame and pruned menu; false when the frame could not be made.
    bool create_main_frame();
    // Shows the frame in the command line's show state (normal restores the saved placement).
    void show_main_window();
    // Reopens the groups of the last run when the window shows, preview is off and browsing on;
    // posts the arrangement. Returns the number of open documents afterwards.
    int reopen_archive_groups();

    // The framework's open-document path for an ARCHDIR.DAT (only while browsing is offered).
    bool open_group(const std::string& archdir_path);
    OpenGroupFn open_group_fn() {
        return [this](const std::string& p) { return open_group(p); };
    }

    // --- File > Archive Group ---
    void on_select_group();
    void on_find_groups();
    void on_create_group();
    void on_open_archive_index();

    // --- File > Import: a received .CEF or .TVZ into the archive the user chooses ---
    void on_import();

    // --- Options ---
    void on_default_clinic_code();

    // Posts a command to the main frame (runs once the event loop is back).
    void post_command(fw::CommandId id);

private:
    void install_commands();
    // The browser's ways into TIMI windows (day lists, stored and signed TIMI data) and their audit.
    void install_timi_openers();
    // What the imports of received files ("/mail", File > Import) need from the windows.
    void install_import_windowing();
    CTolbexApp& core_;
    WindowedParts parts_;
    fw::Application fwapp_;
    CMainFrame* frame_ = nullptr;
};

}  // namespace tv
