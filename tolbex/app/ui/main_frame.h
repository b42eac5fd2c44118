// The main frame of tolbex: the MDI frame with the read-only and confirmation panes, the window
// commands, and the close sequence (remember the open archive groups and the placement, say
// goodbye to the analysis system when started from it). It also asks the identity window for
// the confirming user.
#pragma once
#include <functional>
#include <string>

#include "framework/qt/frame.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/app/analysis_system.h"

namespace tv {

class CTolbexApp;

inline constexpr int kMainFrameResourceId = 128;
inline constexpr const char* kMainFrameTitle = "Calvera";
inline constexpr const char* kReadOnlyText = "Read-Only";
inline constexpr const char* kConfirmedByText = "Confirmed by";
inline constexpr const char* kNotConfirmedText = "Not confirmed";
inline constexpr const char* kConfirmationPaneWidthText = "<-------- confirmation status -------->";

// The confirmation pane's text for a report's confirmation.
std::string confirmation_pane_text(const std::string& confirmation);

class CMainFrame : public fw::MainFrame, public ReportWindowHost {
public:
    CMainFrame(fw::Application& app, CTolbexApp& core);
    ~CMainFrame() override;

    CTolbexApp& core() const { return core_; }

    // The saving on close: true when the close may go on.
    bool save_on_close();
    // The whole close sequence; false keeps the program open.
    bool query_close() override;

    // Print preview: while it is shown, a close only leaves it (through `leave`).
    void set_preview_mode(bool on, std::function<void()> leave = {}) override;
    bool in_preview() const { return in_preview_; }
    bool is_closing_down() const override { return closing_down_ || is_closing(); }

    // Asks the identity window for the user who confirms a report; empty on any failure (the
    // status then says why). The window stays painted meanwhile; user input waits.
    std::string get_confirming_user(int overall_limit_ms = kConfirmOverallLimitMs);
    std::string confirming_user() override { return get_confirming_user(); }
    int query_status() const { return query_status_; }

protected:
    void on_size() override;

private:
    void install_handlers();
    CTolbexApp& core_;
    bool in_preview_ = false;
    bool closing_down_ = false;
    std::function<void()> leave_preview_;
    int query_status_ = 0;
};

}  // namespace tv
