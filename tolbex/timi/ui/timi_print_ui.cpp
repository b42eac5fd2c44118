#include "tolbex/timi/ui/timi_print_ui.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QFont>
#include <QFontDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>

#include "common/profile.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/timi/ui/timi_print_text.h"

namespace tv::gui {

namespace {

fw::LogFont to_log_font(const TimiPrintFont& f) { return {f.height, f.weight, f.italic, f.strike, f.charset, f.face}; }

TimiPrintFont from_log_font(const fw::LogFont& f) {
    return {f.height, f.weight, f.italic, f.strike, f.charset, f.face};
}

const char* font_section(TimiFontKind which) {
    return which == TimiFontKind::Heading ? kTimiHeadFontSection : kTimiBodyFontSection;
}

int screen_dpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(screen->logicalDotsPerInchY() + 0.5) : 96;
}

TimiFontDialogHook& font_hook() {
    static TimiFontDialogHook hook;
    return hook;
}

}  // namespace

TimiPrintSettings load_timi_print_settings() {
    TimiPrintSettings s;
    s.landscape = get_profile_int(kTimiPrintSection, kTimiLandscapeEntry, s.landscape ? 1 : 0) != 0;
    s.pre_time = get_profile_int(kTimiPrintSection, kTimiPreTimeEntry, s.pre_time);
    s.post_time = get_profile_int(kTimiPrintSection, kTimiPostTimeEntry, s.post_time);
    for (TimiFontKind which : {TimiFontKind::Heading, TimiFontKind::Body}) {
        TimiPrintFont& font = which == TimiFontKind::Heading ? s.head_font : s.body_font;
        fw::LogFont f = to_log_font(font);
        fw::read_profile_font(font_section(which), f);
        font = from_log_font(f);
    }
    return s;
}

fw::PrintOutcome run_timi_print(QWidget* parent, const TimiData& data, TimiPrintSettings& settings,
                                TimiPrintRequest request, bool preview, const std::string& document_name) {
    // The orientation is the application's, shared by every window: a report printed after the
    // table must not come out in the table's orientation.
    const fw::ScopedPrintOrientation put_back(fw::print_setup().orientation);
    CTolbexApp::set_printer_orientation(settings.landscape);
    TimiQtTablePrinter printer(data, settings, request);
    fw::PrintJobOptions options;
    options.document_name = document_name;
    options.parent = parent;
    if (preview) {
        fw::PrintOutcome out;
        out.pages = fw::run_print_preview(printer, options);
        out.result = fw::PrintResult::Printed;
        return out;
    }
    return fw::run_print_job(printer, options);
}

// --- pre and post event times ---

DlgTIMIPrePostMins::DlgTIMIPrePostMins(int pre_minutes, int post_minutes, QWidget* parent)
    : fw::Dialog(parent),
      pre_minutes_(pre_minutes),
      post_minutes_(post_minutes),
      pre_(new QLineEdit(this)),
      post_(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("Pre and Post Event Times"));
    pre_->setObjectName(QStringLiteral("1085"));
    post_->setObjectName(QStringLiteral("1086"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Pre-Event Time:"), this), 0, 0);
    grid->addWidget(pre_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("minutes"), this), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Post-Event Time:"), this), 1, 0);
    grid->addWidget(post_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("minutes"), this), 1, 2);
    layout->addLayout(grid);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void DlgTIMIPrePostMins::do_data_exchange(fw::DataExchange& dx) {
    fw::ddx_int(dx, pre_, pre_minutes_, 0, kTimiPrePostMinutesMax);
    fw::ddx_int(dx, post_, post_minutes_, 0, kTimiPrePostMinutesMax);
}

bool edit_timi_pre_post(QWidget* parent, TimiPrintSettings& settings) {
    DlgTIMIPrePostMins dialog(settings.pre_time / 2, settings.post_time / 2, parent);
    if (dialog.exec_modal() != QDialog::Accepted) return false;
    settings.pre_time = dialog.pre_minutes() * 2;
    settings.post_time = dialog.post_minutes() * 2;
    write_profile_int(kTimiPrintSection, kTimiPreTimeEntry, settings.pre_time);
    write_profile_int(kTimiPrintSection, kTimiPostTimeEntry, settings.post_time);
    return true;
}

// --- fonts and orientation ---

void set_timi_font_dialog_hook(TimiFontDialogHook hook) { font_hook() = std::move(hook); }

bool choose_timi_font(QWidget* parent, TimiPrintSettings& settings, TimiFontKind which) {
    TimiPrintFont& stored = which == TimiFontKind::Heading ? settings.head_font : settings.body_font;
    const int dpi = screen_dpi();
    QFont font(to_qstring(stored.face));
    font.setPixelSize(std::max(1, -timi_font_dialog_pixels(stored.height, dpi)));
    font.setWeight(static_cast<QFont::Weight>(std::clamp(stored.weight, 1, 1000)));
    font.setItalic(stored.italic);
    font.setStrikeOut(stored.strike);
    bool accepted = false;
    if (font_hook()) {
        accepted = font_hook()(font);
    } else {
        font = QFontDialog::getFont(&accepted, font, parent);
    }
    if (!accepted) return false;
    // The dialog answers in points; a font set by pixels (as it opened) is converted back.
    stored.height = font.pointSizeF() > 0 ? static_cast<int>(font.pointSizeF() * 10.0 + 0.5)
                                          : timi_font_tenths_from_pixels(font.pixelSize(), dpi);
    stored.weight = font.weight();
    stored.italic = font.italic();
    stored.strike = font.strikeOut();
    stored.face = from_qstring(font.family());
    if (stored.face.size() > 31) stored.face.resize(31);
    fw::write_profile_font(font_section(which), to_log_font(stored));
    return true;
}

bool toggle_landscape(TimiPrintSettings& settings) {
    settings.landscape = !settings.landscape;
    write_profile_int(kTimiPrintSection, kTimiLandscapeEntry, settings.landscape ? 1 : 0);
    return settings.landscape;
}

}  // namespace tv::gui
