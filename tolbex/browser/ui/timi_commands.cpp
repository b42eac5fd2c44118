// The browser's TIMI commands and the stored TIMI reports it opens. TIMI hands a list of the
// selected day files to the TIMI windows (timi_open.h); TIMI Arrhythmia summarises the days'
// events here and stores the summary as a new report. The list files never outlive a command
// that did not open a window.
#include <unistd.h>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/wait_dialogs.h"
#include "platform/fs.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/browser/archive_documents.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/timi_days.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/browser/ui/timi_open.h"
#include "tolbex/timi/timi_arrhythmia.h"
#include "tolbex/timi/timi_files.h"

namespace tv::gui {
namespace {

bool timi_enabled() {
    const CTolbexApp* app = CTolbexApp::current();
    return app && app->is_timi_enabled();
}

// Deletes the list files when the command ends, unless kept.
class ListFiles {
public:
    ListFiles() = default;
    ListFiles(const ListFiles&) = delete;
    ListFiles& operator=(const ListFiles&) = delete;
    ~ListFiles() { remove(); }
    void add(const std::string& path) { paths_.push_back(path); }
    void keep() { paths_.clear(); }
    void remove() {
        for (const auto& p : paths_) ::unlink(p.c_str());
        paths_.clear();
    }

private:
    std::vector<std::string> paths_;
};

}  // namespace

void CBrowserListView::register_timi_commands() {
    using namespace browser_cmd;
    on_command(Timi, [this] { on_timi(); });
    on_command(TimiArrhythmia, [this] { on_timi_arrhythmia(); });
    for (fw::CommandId id : {Timi, TimiArrhythmia})
        on_update_command(id, [this, id](fw::CommandUi& u) {
            if (!timi_enabled()) {
                u.hide();
                u.enable(false);
                return;
            }
            // TIMI needs the TIMI windows; the arrhythmia summary is made here.
            u.enable(!list_.selected_items().empty() && (id == TimiArrhythmia || timi_opener()));
        });
}

std::vector<TimiDaySource> CBrowserListView::selected_day_sources() const {
    std::vector<TimiDaySource> sources;
    for (std::int32_t row : list_.selected_rows())
        if (const ReportRecord* r = doc_.core().get_record(row))
            sources.push_back({r->get_description(), doc_.core().get_report_folder(row)});
    return sources;
}

bool CBrowserListView::on_timi() {
    std::vector<TimiDayReport> days;
    if (!collect_timi_days(selected_day_sources(), false, days) || !check_timi_days(days) || days.empty()) return false;
    const TimiOpener& opener = timi_opener();
    if (!opener) return false;
    ListFiles lists;
    const std::string list = write_timi_list_file(kTimiDayListExtension, timi_day_list_text(days));
    if (list.empty()) return false;
    lists.add(list);

    const TimiDayReport& first = days.front();
    CTolbexApp* app = CTolbexApp::current();
    AuditTrail* audit = app ? &app->audit() : nullptr;
    if (audit && !audit->open(first.report_folder)) {
        show_error(kTimiCreateNoLogText);
        audit->close();
        return false;
    }
    TimiOpenRequest request;
    request.path = list;
    request.archive_folder = get_path_folder(first.report_folder);
    request.display_name = first.description;
    request.data_file_id = timi_series_id(first.day_file_name);
    const TimiOpenResult result = opener(request);
    if (result == TimiOpenResult::Opened) {
        // The list is the window's file from here on.
        lists.keep();
        if (audit) audit->write(kAuditTimiCreate, first.description, first.report_folder, std::string());
    }
    if (audit) audit->close();
    return result == TimiOpenResult::Opened;
}

bool CBrowserListView::on_timi_arrhythmia() {
    fw::WaitCursor wait;
    std::vector<TimiDayReport> days;
    if (!collect_timi_days(selected_day_sources(), true, days) || !check_timi_days(days) || days.empty()) return false;
    if (static_cast<int>(days.size()) > kTimiArrhythmiaMaxDays) {
        show_error(kTimiArrhythmiaTooManyDaysText);
        return false;
    }
    ListFiles lists;
    const std::string arrhythmia_list =
        write_timi_list_file(kTimiArrhythmiaListExtension, timi_arrhythmia_list_text(days));
    if (arrhythmia_list.empty()) return false;
    lists.add(arrhythmia_list);
    const std::string day_list = write_timi_list_file(kTimiDayListExtension, timi_day_list_text(days));
    if (day_list.empty()) return false;
    lists.add(day_list);

    CTolbexApp* app = CTolbexApp::current();
    TimiArrhData job;
    job.set_archive_folder(get_path_folder(days.front().report_folder));
    job.set_report_name(days.front().description);
    job.set_audit(app ? &app->audit() : nullptr);
    job.set_reload_hook([] { reload_archive_documents(); });
    // A summary after a file error would be short of events: it is not stored (the error was shown).
    const bool counted = job.calc_timi_arrh_data(ArrhythmiaListPath(arrhythmia_list), TimiDayListPath(day_list));
    lists.remove();
    if (!counted) return false;
    return job.save_timi_arrh_summary();
}

bool CBrowserListView::open_timi_report(std::int32_t row) {
    BrowserListCore& core = doc_.core();
    ReportArchive* archive = core.get_archive(row);
    ReportRecord* record = core.get_record(row);
    if (!archive || !record) return false;
    if (!timi_enabled()) {
        show_error(kTimiNoFeatureText);
        return false;
    }
    const std::string folder = record->get_folder_path();
    const ReportType type = record->get_type();
    if (type != kReportTimiData) {
        const char* name = type == kReportTimiSummary ? kTimiSummaryFileName : kTimiArrhythmiaFileName;
        const auto file = platform::find_name_ci(folder, name);
        // The viewer would offer to create a missing file inside the archive.
        if (!file || !file_exists(*file)) {
            show_error(format_string("The file \"%s\" cannot be found.", join_path(folder, name).c_str()));
            return false;
        }
        set_read_only(*file);
        return view_text_file_and_wait(*file, this);
    }
    const TimiOpener& opener = timi_opener();
    if (!opener) {
        show_error("You can only view formatted reports.", "Wrong kind of report");
        return false;
    }
    CTolbexApp* app = CTolbexApp::current();
    AuditTrail* audit = app ? &app->audit() : nullptr;
    if (audit && !audit->open(folder)) {
        show_error(kTimiLoadNoLogText);
        audit->close();
        return false;
    }
    TimiOpenRequest request;
    request.path = platform::find_name_ci(folder, kTimiDataFileName).value_or(join_path(folder, kTimiDataFileName));
    request.archive_folder = archive->get_path();
    request.saved_data_path = folder;
    request.display_name = record->get_description();
    const TimiOpenResult result = opener(request);
    if (result == TimiOpenResult::Opened && audit)
        audit->write(kAuditTimiLoadArchive, record->get_description(), folder, std::string());
    if (audit) audit->close();
    return result == TimiOpenResult::Opened;
}

}  // namespace tv::gui
