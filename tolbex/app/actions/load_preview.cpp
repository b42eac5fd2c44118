// "/load" and "/preview": the report opens in the main window, when there is one.
#include "common/strings.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/reports/report_document.h"

namespace tv {

namespace {

ReportOpener& report_opener() {
    static ReportOpener opener;
    return opener;
}

// The split of a "/load" or "/preview" operand at its first vertical bar.
std::string path_before_bar(const std::string& operand) {
    const auto bar = operand.find('|');
    return bar == std::string::npos ? operand : operand.substr(0, bar);
}

std::string text_after_bar(const std::string& operand) {
    const auto bar = operand.find('|');
    return bar == std::string::npos ? std::string() : operand.substr(bar + 1);
}

}  // namespace

void set_report_opener(ReportOpener opener) { report_opener() = std::move(opener); }

void load_report_command(CTolbexApp& app, const std::string& operand) {
    const std::string path = path_before_bar(operand);
    if (report_opener()) report_opener()(path, text_after_bar(operand), false);
    const auto slash = path.rfind('/');
    app.set_auto_delete_folder(slash == std::string::npos ? std::string() : path.substr(0, slash));
}

void preview_report_command(const std::string& operand) {
    const std::string path = path_before_bar(operand);
    if (report_opener()) report_opener()(path, text_after_bar(operand), true);
}

std::string preview_window_title(const std::string& given_title, const std::string& path) {
    std::string title = given_title;
    if (action_support::is_blank_title(title))
        title = action_support::patient_name_of(ReportFolder(ReportDocument::folder_of(path)));
    const std::string preview = load_resource_string(kStrPreview);
    if (action_support::is_blank_title(title)) return preview;
    return title + " (" + preview + ")";
}

}  // namespace tv
