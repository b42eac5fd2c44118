// The TIMI window's printing: the three print commands on the framework's print job (dialog,
// preview, PDF), the print settings in the profile, and the dialogs that change them. The rows
// and pages themselves are tolbex/timi/timi_print.h.
#pragma once
#include <functional>
#include <string>

#include "framework/qt/dialog.h"
#include "framework/qt/print_job.h"
#include "tolbex/timi/timi_print.h"

class QFont;
class QLineEdit;
class QWidget;

namespace tv::gui {

// The settings from the profile, each missing entry at its default.
TimiPrintSettings load_timi_print_settings();

// Prints (or with `preview` shows) the table as `request` says, with the application's printer
// in the orientation of the landscape setting for the job and as it was afterwards. Tests answer
// the print dialog through fw::set_print_dialog_hook.
fw::PrintOutcome run_timi_print(QWidget* parent, const TimiData& data, TimiPrintSettings& settings,
                                TimiPrintRequest request, bool preview = false,
                                const std::string& document_name = "TIMI Data");

// Pre and post event times in minutes (the settings keep table rows, two a minute).
class DlgTIMIPrePostMins : public fw::Dialog {
public:
    DlgTIMIPrePostMins(int pre_minutes, int post_minutes, QWidget* parent = nullptr);
    QLineEdit* pre_edit() const { return pre_; }
    QLineEdit* post_edit() const { return post_; }
    int pre_minutes() const { return pre_minutes_; }
    int post_minutes() const { return post_minutes_; }

protected:
    void do_data_exchange(fw::DataExchange& dx) override;

private:
    int pre_minutes_, post_minutes_;
    QLineEdit* pre_;
    QLineEdit* post_;
};

// Each change below is kept by the window at once and written to the profile; a profile that
// cannot be written leaves the change to this window only.

// The pre/post dialog; on OK the times are kept. False when cancelled.
bool edit_timi_pre_post(QWidget* parent, TimiPrintSettings& settings);

enum class TimiFontKind { Heading, Body };
// The font dialog on the stored font; on OK the font is kept. False when cancelled.
bool choose_timi_font(QWidget* parent, TimiPrintSettings& settings, TimiFontKind which);
// Stands in for the font dialog in tests: gets the font the dialog would open on, may change it,
// and answers whether it was accepted. An empty function restores the real dialog.
using TimiFontDialogHook = std::function<bool(QFont& font)>;
void set_timi_font_dialog_hook(TimiFontDialogHook hook);

// Turns landscape on or off; returns the new value.
bool toggle_landscape(TimiPrintSettings& settings);

}  // namespace tv::gui
