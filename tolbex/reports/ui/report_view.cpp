#include "tolbex/reports/ui/report_view.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "common/files.h"
#include "common/registry.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/painter_draw_context.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/window_helpers.h"
#include "platform/fs.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/app/tolbex_app.h"
#include "framework/qt/folder_dialog.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "framework/qt/wait_dialogs.h"
#include "tolbex/reports/render/page_render.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/rtf_export.h"

namespace tv::gui {

namespace {

constexpr fw::CommandId kInsertText = 40000, kDeleteText = 40001, kEditText = 40003;

// Radio index (Tiny, Small, Medium, Large) <-> size code.
constexpr int kCodeOfIndex[4] = {kTextTiny, kTextSmall, kTextMedium, kTextLarge};

int index_of_code(int code) {
    for (int i = 0; i < 4; ++i)
        if (kCodeOfIndex[i] == code) return i;
    return 1;
}

std::string trim_right_blanks(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}

std::vector<CPellarnView*> all_report_views() {
    std::vector<CPellarnView*> views;
    if (fw::Application* app = fw::app())
        for (fw::Document* d : app->documents())
            for (fw::View* v : d->views())
                if (auto* rv = dynamic_cast<CPellarnView*>(v)) views.push_back(rv);
    return views;
}

}  // namespace

int zoom_step(int zoom) {
    if (zoom < 25) return 1;
    if (zoom < 100) return 5;
    if (zoom < 250) return 10;
    return 20;
}

// --- geometry ---

void ReportViewGeometry::set_client_size(int w, int h) {
    client_w_ = std::max(w, 0);
    client_h_ = std::max(h, 0);
}

bool ReportViewGeometry::set_zoom(int zoom) {
    zoom = std::clamp(zoom, kZoomMin, kZoomMax);
    if (zoom == zoom_) return false;
    zoom_ = zoom;
    scroll_to(hpos_, vpos_);
    return true;
}

int ReportViewGeometry::client_logical_width() const {
    return static_cast<int>(static_cast<std::int64_t>(kPageBoxWidth) * client_w_ / viewport_width());
}

int ReportViewGeometry::client_logical_height() const {
    return static_cast<int>(static_cast<std::int64_t>(kPageBoxHeight) * client_h_ / viewport_height());
}

std::int64_t ReportViewGeometry::total_height() const { return static_cast<std::int64_t>(kPageBoxHeight) * pages_; }

int ReportViewGeometry::vertical_range() const { return static_cast<int>(total_height() / kScrollStep); }

int ReportViewGeometry::bottom_position() const { return std::max(vertical_range() - vertical_page() * 19 / 20, 0); }

int ReportViewGeometry::max_hpos() const { return std::max(kPageBoxWidth - client_logical_width(), 0); }

bool ReportViewGeometry::scroll_to(int x, int y) {
    const int h = std::min(std::max(x, 0), max_hpos());
    const int v = std::min(std::max(y, 0), bottom_position());
    const bool changed = h != hpos_ || v != vpos_;
    hpos_ = h;
    vpos_ = v;
    return changed;
}

bool ReportViewGeometry::scroll_vertical(Code code) {
    const int page = vertical_page();
    switch (code) {
        case Code::LineUp: return scroll_to(hpos_, vpos_ - std::max(page / 16, 1));
        case Code::LineDown: return scroll_to(hpos_, vpos_ + std::max(page / 16, 1));
        case Code::PageUp: return scroll_to(hpos_, vpos_ - page);
        case Code::PageDown: return scroll_to(hpos_, vpos_ + page);
        case Code::Top: return scroll_to(hpos_, 0);
        case Code::Bottom: return scroll_to(hpos_, bottom_position());
    }
    return false;
}

bool ReportViewGeometry::scroll_horizontal(HCode code) {
    const int w = client_logical_width();
    switch (code) {
        case HCode::LineLeft: return scroll_to(hpos_ - w / 16, vpos_);
        case HCode::LineRight: return scroll_to(hpos_ + w / 16, vpos_);
        case HCode::PageLeft: return scroll_to(hpos_ - w / 2, vpos_);
        case HCode::PageRight: return scroll_to(hpos_ + w / 2, vpos_);
        case HCode::LeftEnd: return scroll_to(0, vpos_);
        case HCode::RightEnd: return scroll_to(max_hpos(), vpos_);
    }
    return false;
}

ReportViewGeometry::PagePoint ReportViewGeometry::client_to_page(int px, int py) const {
    const std::int64_t lx = static_cast<std::int64_t>(px) * kPageBoxWidth / viewport_width() + hpos_;
    const std::int64_t ly = static_cast<std::int64_t>(py) * kPageBoxHeight / viewport_height() +
                            static_cast<std::int64_t>(vpos_) * kScrollStep;
    PagePoint p;
    p.page = static_cast<int>(ly / kPageBoxHeight);
    p.y = static_cast<int>(ly % kPageBoxHeight);
    p.x = static_cast<int>(lx);
    return p;
}

int ReportViewGeometry::first_visible_page() const {
    return static_cast<int>(static_cast<std::int64_t>(vpos_) * kScrollStep / kPageBoxHeight);
}

int ReportViewGeometry::last_visible_page() const {
    const std::int64_t s = static_cast<std::int64_t>(vpos_) * kScrollStep;
    const int last = static_cast<int>((s + client_logical_height() - 1) / kPageBoxHeight);
    return std::min(last, pages_ - 1);
}

int ReportViewGeometry::window_origin_y(int k) const {
    const std::int64_t s = static_cast<std::int64_t>(vpos_) * kScrollStep;
    return static_cast<int>(s % kPageBoxHeight) - k * kPageBoxHeight;
}

// --- annotation dialog rules ---

AnnotationDialogState annotation_dialog_open(const std::string& stored, int default_index) {
    AnnotationDialogState s;
    if (stored.size() >= 2 && stored[0] == '\x1b') {
        s.size_index = index_of_code(text_size_code(stored));
        s.text = stored.substr(2);
    } else {
        s.text = stored;
        s.size_index = default_index >= 0 && default_index < 4 ? default_index : 1;
    }
    // The editor ends its lines in LF alone; a CR left in would show as a line of its own.
    std::erase(s.text, '\r');
    return s;
}

std::string annotation_dialog_result(const std::string& text, int size_index) {
    const int code = kCodeOfIndex[std::clamp(size_index, 0, 3)];
    return note_text_for_page(size_prefix(code) + text);
}

int default_annotation_size_index() {
    const std::uint32_t v = reg_get_dword(HKEY_LOCAL_MACHINE, kAnalyserKey, kDefaultAnnotationFontValue, 1);
    return v < 4 ? static_cast<int>(v) : 1;
}

void set_default_annotation_size_index(int index) {
    reg_set_dword(HKEY_LOCAL_MACHINE, kAnalyserKey, kDefaultAnnotationFontValue,
                  static_cast<std::uint32_t>(std::clamp(index, 0, 3)));
}

// --- export ---

namespace {

PageRangeHook& page_range_hook() {
    static PageRangeHook hook;
    return hook;
}

// The real dialog: two numbers, OK and Cancel.
std::optional<PageRange> page_range_dialog(const std::string& caption, PageRange preset, QWidget* parent) {
    QDialog dlg(parent ? parent : fw::main_window());
    dlg.setWindowTitle(to_qstring(caption));
    auto* layout = new QVBoxLayout(&dlg);
    auto* start = new QSpinBox(&dlg);
    auto* end = new QSpinBox(&dlg);
    for (QSpinBox* box : {start, end}) box->setRange(-999999, 999999);
    start->setValue(preset.start);
    end->setValue(preset.end);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Start Page"), &dlg));
    row->addWidget(start);
    row->addWidget(new QLabel(QStringLiteral("End Page"), &dlg));
    row->addWidget(end);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    layout->addWidget(buttons);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return PageRange{start->value(), end->value()};
}

// The file `name` in `folder` as it exists (any case), else as given.
std::string existing_or_new(const std::string& folder, const std::string& name) {
    return platform::find_name_ci(folder, name).value_or(join_path(folder, name));
}

bool export_bitmaps(const ReportDocument& doc, const PageRange& range, const std::string& folder, BitmapFormat format) {
    ensure_render_application();
    for (int n = range.start; n <= range.end; ++n) {
        const CReportPage* page = doc.page(n - 1);
        if (!page) break;
        std::string error;
        const std::string file = existing_or_new(folder, page_bitmap_file_name(n, format));
        if (!export_page_bitmap(*page, doc.fonts(), kPageBitmapWidth, kPageBitmapHeight, file, format, &error)) {
            ui().message_box(format_string(kBitmapWriteFailed, (error.empty() ? file : error).c_str()), "",
                             MsgIcon::Error, MsgButtons::Ok);
            return false;
        }
        QCoreApplication::processEvents();
    }
    return true;
}

bool folder_has_metafiles(const std::string& folder) {
    for (FileFinder f(join_path(folder, "*.emf"), kFindFiles); !f.at_end(); f.next())
        if (!f.is_folder()) return true;
    return false;
}

}  // namespace

std::string page_range_refusal(const PageRange& range, int minimum, int maximum) {
    if (range.start < minimum || range.end > maximum || range.end < range.start)
        return format_string(kPageRangeRefusal, minimum, maximum);
    return {};
}

void set_page_range_hook(PageRangeHook hook) { page_range_hook() = std::move(hook); }

std::optional<PageRange> choose_page_range(const std::string& caption, int minimum, int maximum, QWidget* parent) {
    PageRange current{minimum, maximum};
    for (;;) {
        std::optional<PageRange> got = page_range_hook() ? page_range_hook()(caption, minimum, maximum, current)
                                                         : page_range_dialog(caption, current, parent);
        if (!got) return std::nullopt;
        const std::string refusal = page_range_refusal(*got, minimum, maximum);
        if (refusal.empty()) return got;
        ui().message_box(refusal, kPageRangeRefusalCaption, MsgIcon::Error, MsgButtons::Ok);
        current = *got;  // the dialog stays open with what was typed
    }
}

int first_existing_page_bitmap(const std::string& folder, const PageRange& range, BitmapFormat format) {
    for (int n = range.start; n <= range.end; ++n)
        if (platform::find_name_ci(folder, page_bitmap_file_name(n, format))) return n;
    return 0;
}

bool run_report_export(const ReportDocument& doc, ReportExportKind kind, QWidget* parent) {
    const bool rtf = kind == ReportExportKind::Rtf;
    // The files are of the whole report or of none of it (RTF holds the page files alone).
    if (const std::string problem = rtf ? doc.page_problem() : doc.missing_parts(); !problem.empty()) {
        ui().message_box("The report cannot be exported: " + problem, "", MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    const BitmapFormat format = kind == ReportExportKind::Pcx ? BitmapFormat::Pcx : BitmapFormat::Bmp;
    const std::string caption = rtf                             ? kExportRtfCaption
                                : kind == ReportExportKind::Pcx ? kExportPcxCaption
                                                                : kExportBmpCaption;
    if (rtf && folder_has_metafiles(doc.report_folder()) &&
        ui().message_box(kRtfWithout12LeadQuestion, "", MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes)
        return false;
    const std::optional<PageRange> range = choose_page_range(caption, 1, doc.page_count(), parent);
    if (!range) return false;
    const std::string folder = fw::browse_for_folder(caption, CTolbexApp::get_export_folder(), parent);
    if (folder.empty()) return false;
    CTolbexApp::set_export_folder(folder);

    if (rtf) {
        const std::string output = existing_or_new(folder, kReportRtfName);
        if (file_exists(output) &&
            ui().message_box(kRtfOverwriteQuestion, "", MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok)
            return false;
        bool ok = false;
        {
            fw::WaitCursor wait;
            ExportWaitDlg waiting(parent);
            ok = write_rtf_report(doc.report_folder(), output, range->start, range->end, doc.is_oem());
        }
        if (!ok) ui().message_box(kRtfWriteFailed, kRtfWriteFailedCaption, MsgIcon::Error, MsgButtons::Ok);
        return ok;
    }

    if (first_existing_page_bitmap(folder, *range, format) != 0 &&
        ui().message_box(kBitmapOverwriteQuestion, "", MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok)
        return false;
    fw::WaitCursor wait;
    ExportWaitDlg waiting(parent);
    return export_bitmaps(doc, *range, folder, format);
}

// --- the view ---

CPellarnView::CPellarnView(CPellarnDoc& doc, QWidget* parent) : fw::View(parent), doc_(doc) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    vbar_ = new QScrollBar(Qt::Vertical, this);
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    connect(vbar_, &QScrollBar::valueChanged, this, [this](int v) {
        if (!syncing_) scroll_to(geom_.hpos(), v);
    });
    connect(hbar_, &QScrollBar::valueChanged, this, [this](int h) {
        if (!syncing_) scroll_to(h, geom_.vpos());
    });
    geom_.set_page_count(doc_.core().page_count());
    install_commands();
}

CPellarnView::~CPellarnView() = default;

void CPellarnView::install_commands() {
    auto add_export = [this](fw::CommandId id, ReportExportKind kind) {
        on_command(id, [this, kind] { run_report_export(doc_.core(), kind, this); });
        // Export needs a system of version 4 or later, which every system here is.
        on_update_command(id, [](fw::CommandUi& u) { u.enable(true); });
    };
    add_export(report_cmd::ExportBmp, ReportExportKind::Bmp);
    add_export(report_cmd::ExportPcx, ReportExportKind::Pcx);
    add_export(report_cmd::ExportRtf, ReportExportKind::Rtf);

    on_command(report_view_cmd::CreateLetter, [this] {
        hand_over_letter(doc_.core().report_folder(), doc_.core().report_name());
        refresh_letters_present();
    });
    on_update_command(report_view_cmd::CreateLetter, [](fw::CommandUi& u) { u.enable(has_letter_handler()); });
    on_command(report_view_cmd::ViewLetters, [this] {
        hand_over_view_letters(doc_.core().report_folder());
        refresh_letters_present();
    });
    on_update_command(report_view_cmd::ViewLetters,
                      [this](fw::CommandUi& u) { u.enable(letters_present_ && has_view_letters_handler()); });
    on_command(report_view_cmd::SendMail, [this] {
        const ReportDocument& core = doc_.core();
        hand_over_mail(
            {make_mail_entry(core.report_folder(), core.report_name(), core.report_size(), core.report_time())});
    });
    on_update_command(report_view_cmd::SendMail, [](fw::CommandUi& u) { u.enable(has_mail_handler()); });
    on_command(report_view_cmd::SendToExternal, [this] {
        // Saving is traced: through the report's own save command, and only when there is
        // something to save. A refused save hands nothing over.
        if (doc_.is_modified() || doc_.core().is_modified()) {
            doc_.core().set_modified(true);
            doc_.execute(report_cmd::SaveTraced);
            if (doc_.core().is_modified()) return;
            doc_.set_modified(false);
        }
        hand_over_external_jobs({make_external_entry(doc_.core().report_folder(), doc_.core().report_name())});
    });
    on_update_command(report_view_cmd::SendToExternal,
                      [](fw::CommandUi& u) { u.enable(can_send_to_external_program()); });

    auto add_help = [this](fw::CommandId id, const char* text, const char* title) {
        on_command(id, [text, title] { ui().message_box(text, title, MsgIcon::Information, MsgButtons::Ok); });
        on_update_command(id, [this](fw::CommandUi& u) { u.enable(!doc_.core().is_read_only()); });
    };
    add_help(report_view_cmd::InsertTextHelp, kInsertTextHelp, kInsertTextHelpTitle);
    add_help(report_view_cmd::DeleteTextHelp, kDeleteTextHelp, kDeleteTextHelpTitle);
    add_help(report_view_cmd::EditTextHelp, kEditTextHelp, kEditTextHelpTitle);

    on_command(report_cmd::Zoom, [this] {
        static const int presets[] = {25, 50, 75, 100, 125, 150, 200, 300};
        QStringList items;
        int current = 7;
        for (int i = 0; i < 8; ++i) {
            items << QStringLiteral("%1 %").arg(presets[i]);
            if (current == 7 && i < 7 && presets[i] >= geom_.zoom()) current = i;
        }
        bool ok = false;
        const QString chosen = QInputDialog::getItem(this, QStringLiteral("Zoom Settings"), QStringLiteral("Zoom:"),
                                                     items, current, false, &ok);
        if (ok) set_zoom(presets[std::max<qsizetype>(items.indexOf(chosen), 0)]);
    });
    on_command(report_cmd::Goto, [this] {
        bool ok = false;
        const int n = QInputDialog::getInt(this, QStringLiteral("Goto Page"), QStringLiteral("Page:"), 1, -1000000,
                                           1000000, 1, &ok);
        if (!ok) return;
        const int count = doc_.core().page_count();
        const int page = count == 0 ? 1 : std::clamp(n, 1, count);
        scroll_to(geom_.hpos(), static_cast<int>(static_cast<std::int64_t>(kPageBoxHeight) * (page - 1) / kScrollStep));
    });
}

void CPellarnView::closeEvent(QCloseEvent* event) {
    fw::View::closeEvent(event);
    // A frame already closed may be closed again (leaving compare mode closes every report frame).
    if (closed_ || !event->isAccepted()) return;
    closed_ = true;
    set_compare_mode(false);
    // With browsing disabled the report window was all there was to see.
    const CTolbexApp* app = CTolbexApp::current();
    fw::Application* fwapp = fw::app();
    fw::MainFrame* main = fwapp ? fwapp->main_frame() : nullptr;
    if (!app || app->is_browse_enabled() || !main || main->is_closing()) return;
    if (const auto* host = dynamic_cast<const ReportWindowHost*>(main); host && host->is_closing_down()) return;
    // Posted: the frame that holds this view is still in its own close.
    QMetaObject::invokeMethod(main, &QWidget::close, Qt::QueuedConnection);
}

void CPellarnView::on_initial_update() {
    // The view has no natural size: a frame shown normal next to a tiled browser would shrink to
    // its caption. Compare mode tiles the frames afterwards.
    if (fw::ChildFrame* f = frame()) f->setWindowState(f->windowState() | Qt::WindowMaximized);
    geom_.set_page_count(doc_.core().page_count());
    sync_scroll_bars();
    refresh_letters_present();
}

void CPellarnView::refresh_letters_present() { letters_present_ = folder_has_letters(doc_.core().report_folder()); }

void CPellarnView::on_update(fw::View*, long, void*) {
    geom_.set_page_count(doc_.core().page_count());
    sync_scroll_bars();
    update();
}

void CPellarnView::set_zoom(int zoom, bool propagate) {
    if (propagate && is_compare_mode()) {
        for (CPellarnView* v : all_report_views()) v->set_zoom(zoom, false);
        return;
    }
    if (!geom_.set_zoom(zoom)) return;
    sync_scroll_bars();
    update();
}

void CPellarnView::scroll_to(int x, int y, bool propagate) {
    if (propagate && is_compare_mode()) {
        for (CPellarnView* v : all_report_views()) v->scroll_to(x, y, false);
        return;
    }
    if (geom_.scroll_to(x, y)) {
        sync_scroll_bars();
        update();
    }
}

void CPellarnView::sync_scroll_bars() {
    syncing_ = true;
    vbar_->setRange(0, std::max(geom_.bottom_position(), 0));
    vbar_->setPageStep(std::max(geom_.vertical_page(), 1));
    vbar_->setSingleStep(std::max(geom_.vertical_page() / 16, 1));
    vbar_->setValue(geom_.vpos());
    hbar_->setRange(0, geom_.max_hpos());
    hbar_->setPageStep(std::max(geom_.client_logical_width(), 1));
    hbar_->setSingleStep(std::max(geom_.client_logical_width() / 16, 1));
    hbar_->setValue(geom_.hpos());
    syncing_ = false;
}

void CPellarnView::resizeEvent(QResizeEvent*) {
    const int vw = vbar_->sizeHint().width(), hh = hbar_->sizeHint().height();
    vbar_->setGeometry(width() - vw, 0, vw, height() - hh);
    hbar_->setGeometry(0, height() - hh, width() - vw, hh);
    geom_.set_client_size(width() - vw, height() - hh);
    geom_.scroll_to(geom_.hpos(), geom_.vpos());
    sync_scroll_bars();
    if (is_compare_mode()) {
        if (fw::Application* app = fw::app())
            if (fw::MainFrame* mf = app->main_frame()) {
                QPointer<fw::MainFrame> guard(mf);
                QMetaObject::invokeMethod(
                    mf,
                    [guard] {
                        if (guard) guard->tile_vertically();
                    },
                    Qt::QueuedConnection);
            }
    }
}

void CPellarnView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int cw = width() - vbar_->width(), ch = height() - hbar_->height();
    painter.fillRect(QRect(0, 0, cw, ch), Qt::white);
    painter.setClipRect(QRect(0, 0, cw, ch));
    const ReportDocument& doc = doc_.core();
    fw::PainterDrawContext dc(painter, fw::DrawContext::Kind::Screen);
    dc.set_map_mode(fw::MapMode::Anisotropic);
    dc.set_window_ext({kPageBoxWidth, kPageBoxHeight});
    dc.set_viewport_ext({geom_.viewport_width(), geom_.viewport_height()});
    dc.set_viewport_org({0, 0});
    const int first = geom_.first_visible_page();
    for (int i = first, k = 0; i <= geom_.last_visible_page(); ++i, ++k) {
        const CReportPage* page = doc.page(i);
        if (!page) continue;
        dc.set_window_org({geom_.hpos(), geom_.window_origin_y(k)});
        dc.clear_clip();
        page->draw(dc, doc.fonts());
    }
}

void CPellarnView::keyPressEvent(QKeyEvent* event) {
    using C = ReportViewGeometry::Code;
    using H = ReportViewGeometry::HCode;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    int x = geom_.hpos(), y = geom_.vpos();
    ReportViewGeometry g = geom_;
    bool scrolled = true;
    switch (event->key()) {
        case Qt::Key_Escape: set_compare_mode(false); return;
        case Qt::Key_PageUp: g.scroll_vertical(C::PageUp); break;
        case Qt::Key_PageDown: g.scroll_vertical(C::PageDown); break;
        case Qt::Key_Up: g.scroll_vertical(C::LineUp); break;
        case Qt::Key_Down: g.scroll_vertical(C::LineDown); break;
        case Qt::Key_Left: g.scroll_horizontal(ctrl ? H::PageLeft : H::LineLeft); break;
        case Qt::Key_Right: g.scroll_horizontal(ctrl ? H::PageRight : H::LineRight); break;
        case Qt::Key_Home: ctrl ? g.scroll_vertical(C::Top) : g.scroll_horizontal(H::LeftEnd); break;
        case Qt::Key_End: ctrl ? g.scroll_vertical(C::Bottom) : g.scroll_horizontal(H::RightEnd); break;
        case Qt::Key_Plus:
        case Qt::Key_Minus: {
            if (!keypad) return;
            int z = geom_.zoom();
            const int sign = event->key() == Qt::Key_Plus ? 1 : -1;
            for (int i = 0; i < (ctrl ? 5 : 1); ++i) z += sign * zoom_step(z);
            set_zoom(z);
            return;
        }
        default: scrolled = false; break;
    }
    if (!scrolled) {
        fw::View::keyPressEvent(event);
        return;
    }
    x = g.hpos();
    y = g.vpos();
    scroll_to(x, y);
}

void CPellarnView::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) return;
    if (event->modifiers() & Qt::ControlModifier) {
        const int z = geom_.zoom();
        set_zoom(delta < 0 ? z + zoom_step(z) : z - zoom_step(z));
    } else {
        ReportViewGeometry g = geom_;
        g.scroll_vertical(delta < 0 ? ReportViewGeometry::Code::LineDown : ReportViewGeometry::Code::LineUp);
        scroll_to(g.hpos(), g.vpos());
    }
    event->accept();
}

void CPellarnView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        context_menu(event->position().toPoint());
        return;
    }
    fw::View::mouseReleaseEvent(event);
}

bool CPellarnView::insert_text_at(int px, int py, const std::string& text) {
    const std::string trimmed = trim_right_blanks(text);
    // A text of blanks only (after its size prefix) adds nothing.
    if (std::string(text_without_prefix(trimmed)).find_first_not_of(" \t\r\n") == std::string::npos) return false;
    const ReportViewGeometry::PagePoint at = geom_.client_to_page(px, py);
    if (doc_.add_annotation(at.page, trimmed, at.x, at.y) < 0) return false;
    update();
    return true;
}

int CPellarnView::pick_annotation(int px, int py, int* page_out) {
    const ReportViewGeometry::PagePoint at = geom_.client_to_page(px, py);
    const CReportPage* page = doc_.core().page(at.page);
    if (page_out) *page_out = at.page;
    if (!page) return -1;
    QImage scratch(1, 1, QImage::Format_RGB32);
    QPainter painter(&scratch);
    fw::PainterDrawContext dc(painter, fw::DrawContext::Kind::Screen);
    dc.set_map_mode(fw::MapMode::Anisotropic);
    dc.set_window_ext({kPageBoxWidth, kPageBoxHeight});
    dc.set_viewport_ext({geom_.viewport_width(), geom_.viewport_height()});
    return page->find_annotation(dc, doc_.core().fonts(), at.x, at.y);
}

bool CPellarnView::edit_annotation_dialog(std::string& text) {
    AnnotationDialogState state = annotation_dialog_open(text, default_annotation_size_index());
    QDialog dlg(this);
    dlg.setWindowTitle(QStringLiteral("Insert or Edit Text"));
    auto* layout = new QVBoxLayout(&dlg);
    auto* edit = new QPlainTextEdit(to_qstring(state.text), &dlg);
    layout->addWidget(edit);
    auto* radios = new QHBoxLayout;
    auto* group = new QButtonGroup(&dlg);
    const char* names[4] = {"Tiny", "Small", "Medium", "Large"};
    for (int i = 0; i < 4; ++i) {
        auto* r = new QRadioButton(QString::fromLatin1(names[i]), &dlg);
        group->addButton(r, i);
        radios->addWidget(r);
        if (i == state.size_index) r->setChecked(true);
    }
    layout->addLayout(radios);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    layout->addWidget(buttons);
    if (dlg.exec() != QDialog::Accepted) return false;
    std::string result = from_qstring(edit->toPlainText());
    if (result.size() > kAnnotationMax) result.resize(kAnnotationMax);
    const int index = std::max(group->checkedId(), 0);
    set_default_annotation_size_index(index);
    text = annotation_dialog_result(result, index);
    return true;
}

void CPellarnView::context_menu(const QPoint& at) {
    if (doc_.core().is_read_only()) return;
    int page = 0;
    const int picked = pick_annotation(at.x(), at.y(), &page);
    QMenu menu(this);
    QAction* insert = menu.addAction(QStringLiteral("Insert Text..."));
    // The 12-lead pages have no page file to keep text in.
    const CReportPage* under = doc_.core().page(page);
    insert->setEnabled(under && under->keeps_annotations());
    QAction* edit = nullptr;
    QAction* remove = nullptr;
    if (picked >= 0) {
        edit = menu.addAction(QStringLiteral("Edit Text..."));
        remove = menu.addAction(QStringLiteral("Delete Text"));
    }
    menu.addSeparator();
    menu.addAction(QStringLiteral("Cancel"));
    QAction* chosen = menu.exec(mapToGlobal(at));
    if (!chosen) return;
    if (chosen == insert && insert->isEnabled()) {
        std::string text;
        if (edit_annotation_dialog(text)) insert_text_at(at.x(), at.y(), text);
    } else if (chosen == edit) {
        std::string text = doc_.core().annotation_text(page, picked);
        const std::string before = text;
        if (edit_annotation_dialog(text) && text != before) doc_.replace_annotation(page, picked, text);
        update();
    } else if (chosen == remove) {
        doc_.delete_annotation(page, picked);
        update();
    }
    (void)kInsertText;
    (void)kDeleteText;
    (void)kEditText;
}

}  // namespace tv::gui
