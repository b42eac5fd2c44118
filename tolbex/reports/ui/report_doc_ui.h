// The report document as the framework sees it: a fw::Document that owns the windowless
// ReportDocument, answers the status panes, and carries Confirm / Unconfirm and the traced save.
// Also the "Pellarn.Document" template and the ways the browser and the command line open reports.
#pragma once
#include <functional>
#include <string>

#include "framework/qt/document.h"
#include "tolbex/reports/report_document.h"

namespace tv {
class ReportArchive;
class ReportRecord;

// The report template: resource id, file-type id and document strings.
inline constexpr int kReportTemplateResource = 129;
inline constexpr const char* kReportDocTypeId = "Pellarn.Document";
inline constexpr const char* kReportDocStrings = "\nReport\nReport\n\n\nPellarn.Document\nReport";

// Compare-reports mode: on, the main frame keeps its windows side by side; going off closes
// every report window and restores the minimised frames.
bool is_compare_mode();
void set_compare_mode(bool on);

// What the status panes need from the active report document; the report document implements it.
class ReportDocumentStatus {
public:
    virtual ~ReportDocumentStatus() = default;
    virtual bool is_read_only() const = 0;
    // The confirming user (CONFIRM.TXT's first line); empty when not confirmed.
    virtual std::string get_confirmation() const = 0;
};

// What a report window asks of the main frame that holds it.
class ReportWindowHost {
public:
    virtual ~ReportWindowHost() = default;
    // The user who confirms a report, asked of the analysis system (may wait for its answer).
    virtual std::string confirming_user() = 0;
    // A print preview is on screen (`leave` closes it) or gone.
    virtual void set_preview_mode(bool on, std::function<void()> leave) = 0;
    // The main window is on its way out (its documents are being closed): a report window that
    // closes then must not ask it to close again.
    virtual bool is_closing_down() const { return false; }
};

}  // namespace tv

namespace tv::gui {

namespace report_cmd {
inline constexpr fw::CommandId Confirm = 32851, Unconfirm = 32852, SaveTraced = 250, PrintDirect = 57608,
                               MerivalePdf = 32866, ExportBmp = 32772, ExportPcx = 32789, ExportRtf = 32827,
                               Zoom = 32773, Goto = 32774;
}  // namespace report_cmd

class CPellarnDoc : public fw::Document, public ReportDocumentStatus {
public:
    CPellarnDoc();
    ~CPellarnDoc() override;

    ReportDocument& core() { return core_; }
    const ReportDocument& core() const { return core_; }

    bool on_open_document(const std::string& path) override;
    bool on_save_document(const std::string& path) override;
    bool save_modified() override;
    void on_close_document() override;

    // The report title also titles the window.
    void set_report_title(const std::string& title);
    // Keeps the report title once there is one (the framework's title is the file's name).
    void set_title(const std::string& title) override;

    bool is_read_only() const override { return core_.is_read_only(); }
    std::string get_confirmation() const override { return core_.confirmation(); }

    // Annotation operations, keeping the framework's modified flag in step.
    int add_annotation(int page, const std::string& text, int x, int y);
    bool replace_annotation(int page, int item, const std::string& text);
    bool delete_annotation(int page, int item);

private:
    void install_commands();
    ReportDocument core_;
};

// The report template's makers (document and view).
fw::TemplateParts report_template_parts();

// Opens a report folder (or its SUMMARY.TXT) in a report window; null when it did not open.
CPellarnDoc* open_report(const std::string& path);
// What a report window opened from an archive shows and updates: title "<description> (<archive
// name>)", description, time, size and archive link from the index, and the confirmation of the
// folder the document shows (a signed report's restored content). `on_index_changed` runs after
// the window confirmed or unconfirmed the report in its index.
void describe_archived_report(CPellarnDoc& doc, ReportArchive& archive, ReportRecord& record,
                              const std::string& archive_name, std::function<void()> on_index_changed = {});
// The browser's open of a formatted report: title "<description> (<archive name>)", description,
// time, size, archive link and confirmation. Null when it did not open.
CPellarnDoc* open_archived_report(ReportArchive& archive, ReportRecord& record, const std::string& archive_name,
                                  std::function<void()> on_index_changed = {});
// The command line's "/load" and "/preview".
bool open_report_from_command_line(const std::string& path, const std::string& title, bool preview);

}  // namespace tv::gui
