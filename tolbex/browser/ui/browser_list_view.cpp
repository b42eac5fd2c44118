#include "tolbex/browser/ui/browser_list_view.h"

#include <algorithm>
#include <optional>

#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "common/profile.h"
#include "common/profile_names.h"
#include "common/ui.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "tolbex/browser/archive_dialogs.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/catalogue_printing.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/browser/ui/archive_dialogs_ui.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/browser/ui/report_chooser_ui.h"
#include "tolbex/browser/ui/signed_report_open.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/reports/ui/report_doc_ui.h"

namespace tv::gui {
namespace {

constexpr const char* kCannotMoveToDeletedText =
    "There is not enough disk space to move the selected reports to the \"Deleted Reports\" archive.\nWe recommend "
    "that you go to the \"Deleted Reports\" archive and delete some reports, and then try this again.\n\nClick "
    "\"NO\" to cancel this deletion.\nClick \"YES\" to PERMANENTLY DELETE the selected reports.\n\nNote: You will "
    "NOT be able to recover reports deleted if you click \"YES\" now!";
constexpr const char* kCannotMoveToDeletedCaption = "Cannot move reports to \"Deleted Reports\" archive";

bool wide_screen() {
    static const bool wide = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen && screen->geometry().width() >= 1280;
    }();
    return wide;
}

fw::MainFrame* main_frame() {
    fw::Application* app = fw::app();
    return app ? app->main_frame() : nullptr;
}

std::int32_t find_archive_by_path(const BrowserListCore& doc, const std::string& path) {
    for (std::int32_t i = 0; i < doc.get_archive_count(); ++i) {
        const ArchiveGroup* g = doc.get_group();
        if (g && g->get_archive(i) && g->get_archive(i)->get_path() == path) return i;
    }
    return -1;
}

}  // namespace

// --- BrowserTableModel

BrowserTableModel::BrowserTableModel(BrowserListModel& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {}

int BrowserTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : list_.item_count(); }

int BrowserTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kBrowserColumnCount;
}

QVariant BrowserTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole: return to_qstring(list_.item_text(index.row(), index.column()));
        case Qt::TextAlignmentRole:
            if (index.column() == kColumnSize) return int(Qt::AlignRight | Qt::AlignVCenter);
            if (index.column() == kColumnConfirmed) return int(Qt::AlignCenter);
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        default: return {};
    }
}

QVariant BrowserTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(browser_column_title(section));
    if (role == Qt::TextAlignmentRole) {
        if (section == kColumnSize) return int(Qt::AlignRight | Qt::AlignVCenter);
        if (section == kColumnConfirmed) return int(Qt::AlignCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags BrowserTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == kColumnName) f |= Qt::ItemIsEditable;
    return f;
}

bool BrowserTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    const std::string text = from_qstring(value.toString());
    if (!list_.end_label_edit(index.row(), &text)) return false;
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), kBrowserColumnCount - 1));
    return true;
}

void BrowserTableModel::reset() {
    beginResetModel();
    endResetModel();
}

int browser_column_width(int column, bool wide) {
    static const int narrow_widths[kBrowserColumnCount] = {120, 85, 100, 70, 80, 65};
    static const int wide_widths[kBrowserColumnCount] = {210, 120, 120, 100, 130, 70};
    if (column < 0 || column >= kBrowserColumnCount) return 0;
    return wide ? wide_widths[column] : narrow_widths[column];
}

int browser_list_initial_width() {
    int width = 20;
    for (int c = 0; c < kBrowserColumnCount; ++c) width += browser_column_width(c, wide_screen());
    return width;
}

// --- the list control

class CBrowserListView::Tree : public QTreeView {
public:
    explicit Tree(CBrowserListView& view) : QTreeView(&view), view_(view) {}

    bool start_edit(const QModelIndex& index) { return edit(index, AllEditTriggers, nullptr); }

    // Ends an open editor as leaving it does: its text is taken, then it closes.
    void finish_edit() {
        if (state() != EditingState) return;
        if (QWidget* editor = indexWidget(currentIndex())) {
            commitData(editor);
            closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
    }

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override {
        // A click's delayed rename would open while a command (and its dialogs) runs, over rows
        // the command may change; only the Rename command opens an editor then.
        if (view_.commands_running_ > 0 && trigger != AllEditTriggers) return false;
        const bool would_edit = index.isValid() && state() != EditingState && (index.flags() & Qt::ItemIsEditable) &&
                                (trigger == AllEditTriggers || (editTriggers() & trigger));
        if (would_edit && !view_.list_.begin_label_edit(index.row(), ui())) return false;
        return QTreeView::edit(index, trigger, event);
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (state() != EditingState) {
            switch (event->key()) {
                case Qt::Key_Insert: view_.begin_rename(); return;
                case Qt::Key_Delete: view_.on_delete(); return;
                case Qt::Key_Return:
                case Qt::Key_Enter: view_.return_key(); return;
                default: break;
            }
        }
        QTreeView::keyPressEvent(event);
    }

    // The user turning to a list ends a comparison of reports.
    void focusInEvent(QFocusEvent* event) override {
        QTreeView::focusInEvent(event);
        set_compare_mode(false);
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override {
        const QModelIndex at = indexAt(event->position().toPoint());
        if (!at.isValid()) return;
        // The first click on a selected row started the wait for a slow second click (the
        // rename); a double-click ends it, or the editor would open over the report just opened.
        edit(at, DoubleClicked, event);
        view_.select_items({at.row()});
        view_.open_current();
    }

private:
    CBrowserListView& view_;
};

// --- CBrowserListView

CBrowserListView::CBrowserListView(CBrowserListDoc& doc, QWidget* parent)
    : fw::View(parent),
      doc_(doc),
      list_(doc.core()),
      table_model_(new BrowserTableModel(list_, this)),
      tree_(new Tree(*this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tree_);
    tree_->setRootIsDecorated(false);
    tree_->setItemsExpandable(false);
    tree_->setUniformRowHeights(true);
    tree_->setAllColumnsShowFocus(true);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    tree_->setModel(table_model_);
    QHeaderView* header = tree_->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setStretchLastSection(false);
    header->setSortIndicator(list_.sort_key(), Qt::AscendingOrder);
    for (int c = 0; c < kBrowserColumnCount; ++c) tree_->setColumnWidth(c, browser_column_width(c, wide_screen()));
    // The longest type name shows whole in the list's font, whatever font the desktop gives.
    const QString longest_type = to_qstring(report_type_name(kReportTimiArrhythmia));
    const int type_width = tree_->fontMetrics().horizontalAdvance(longest_type) +
                           2 * tree_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, tree_) + 12;
    tree_->setColumnWidth(kColumnType, std::max(tree_->columnWidth(kColumnType), type_width));
    // No heading is cut, and with it no value shorter than its heading ("Yes" under "Confirmed"),
    // whatever font the desktop gives: the widths were made for a smaller one.
    const int heading_margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) +
                               header->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header);
    for (int c = 0; c < kBrowserColumnCount; ++c) {
        const QString heading = table_model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        const int needed = header->fontMetrics().horizontalAdvance(heading) + heading_margin;
        tree_->setColumnWidth(c, std::max(tree_->columnWidth(c), needed));
    }
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { column_sort(column, BrowserListModel::SortMode::Toggle); });
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection&) { selection_changed(selected); });
    connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { context_menu(at); });
    resize(browser_list_initial_width(), 500);
    register_commands();
    timer_ = fw::make_timer();
    timer_->start(kRefreshIntervalMs, [this] { refresh_check(); });
    // A list that comes or goes ends a comparison: the main window stops keeping its windows side by side.
    set_compare_mode(false);
}

QTreeView* CBrowserListView::tree() const { return tree_; }

bool CBrowserListView::execute(fw::CommandId id) {
    tree_->finish_edit();
    ++commands_running_;
    const bool ran = fw::View::execute(id);
    --commands_running_;
    return ran;
}

CBrowserListView::~CBrowserListView() {
    if (timer_) timer_->stop();
    set_compare_mode(false);
}

void CBrowserListView::register_commands() {
    using namespace browser_cmd;
    on_command(Delete, [this] { on_delete(); });
    on_command(Move, [this] { on_move_or_copy(true); });
    on_command(Copy, [this] { on_move_or_copy(false); });
    on_command(Rename, [this] { on_rename(); });
    on_command(CreateArchive, [this] { on_create_archive(); });
    on_command(DeleteArchive, [this] { on_delete_archive(); });
    on_command_range(SortFirst, SortLast, [this](fw::CommandId id) {
        static const int columns[5] = {kColumnArchive, kColumnName, kColumnDate, kColumnSize, kColumnType};
        const unsigned k = id - SortFirst;
        column_sort(columns[k % 5],
                    k < 5 ? BrowserListModel::SortMode::Ascending : BrowserListModel::SortMode::Descending);
    });
    on_command(SetDefaultGroup,
               [this] { write_profile_string(kArchivesSection, kDefaultArchiveValue, doc_.path_name()); });
    on_command(NoDefaultGroup, [] { delete_profile_value(kArchivesSection, kDefaultArchiveValue); });
    on_command(Open, [this] { on_open(); });
    on_command(Compare, [this] { on_compare(); });
    on_command(PrintReports, [this] { on_print_reports(); });
    on_command(ShortCatalogue, [this] { print_catalogue(true, true); });
    on_command(LongCatalogue, [this] { print_catalogue(false, true); });
    // One menu item serves the report window's Print and this window's long catalogue.
    on_update_command(LongCatalogue, [](fw::CommandUi& u) { u.set_text("&Long Catalogue..."); });
    on_command(PrintDirect, [this] { print_catalogue(false, false); });
    register_group_commands();
    on_command(fw::cmd::FilePrintPreview, [this] {
        // While the preview is up, closing the main window only leaves the preview.
        preview_catalogue([](std::function<void()> close) {
            const bool shown = static_cast<bool>(close);
            if (auto* host = dynamic_cast<ReportWindowHost*>(main_frame()))
                host->set_preview_mode(shown, std::move(close));
        });
    });
    on_command(CreateLetter, [this] { on_create_letter(); });
    on_update_command(CreateLetter, [](fw::CommandUi& u) { u.enable(has_letter_handler()); });
    register_export_commands();
    on_command(SendMail, [this] { on_send_mail(); });
    on_update_command(SendMail,
                      [this](fw::CommandUi& u) { u.enable(has_mail_handler() && !list_.selected_items().empty()); });
    register_sign_command();
    register_timi_commands();
}

void CBrowserListView::set_bar_controls(QComboBox* archive_box, QComboBox* search_box, QLineEdit* text_box) {
    archive_box_ = archive_box;
    search_box_ = search_box;
    text_box_ = text_box;
    if (archive_box_)
        connect(archive_box_, &QComboBox::currentIndexChanged, this, [this](int) {
            if (!filling_) search_refresh();
        });
    if (search_box_)
        connect(search_box_, &QComboBox::currentIndexChanged, this, [this](int) {
            if (!filling_) search_refresh();
        });
}

void CBrowserListView::on_update(fw::View*, long, void*) {
    list_.update();
    filling_ = true;
    if (archive_box_) {
        archive_box_->clear();
        for (const auto& item : list_.archive_box_items()) archive_box_->addItem(to_qstring(item));
        archive_box_->setCurrentIndex(list_.archive_choice());
    }
    if (search_box_) {
        search_box_->clear();
        for (const auto& item : BrowserListModel::search_box_items()) search_box_->addItem(to_qstring(item));
        search_box_->setCurrentIndex(list_.search_mode());
    }
    if (text_box_) text_box_->setEnabled(list_.text_box_enabled());
    filling_ = false;
    reset_list();
}

void CBrowserListView::search_refresh() {
    if (!archive_box_ || !search_box_ || !text_box_) return;
    const bool refilled =
        list_.apply_search(archive_box_->currentIndex(), search_box_->currentIndex(), from_qstring(text_box_->text()));
    text_box_->setEnabled(list_.text_box_enabled());
    if (refilled) reset_list();
}

void CBrowserListView::reset_list() {
    table_model_->reset();
    tree_->header()->setSortIndicator(list_.sort_key(),
                                      list_.sort_ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    // A reset drops the selection without telling the selection model's listeners.
    list_.selection_changed({});
    if (on_selection_) on_selection_();
}

void CBrowserListView::column_sort(int column, BrowserListModel::SortMode mode) {
    fw::WaitCursor wait;
    tree_->clearSelection();
    list_.column_sort(column, mode);
    reset_list();
}

void CBrowserListView::selection_changed(const QItemSelection& selected) {
    std::vector<std::int32_t> all;
    const QModelIndexList rows = tree_->selectionModel()->selectedRows(0);
    all.reserve(static_cast<std::size_t>(rows.size()));
    for (const QModelIndex& i : rows) all.push_back(i.row());
    std::sort(all.begin(), all.end());
    int newly = -1;
    const QModelIndex current = tree_->selectionModel()->currentIndex();
    for (const QModelIndex& i : selected.indexes()) {
        if (current.isValid() && i.row() == current.row()) {
            newly = i.row();
            break;
        }
        newly = std::max(newly, i.row());
    }
    if (newly >= 0)
        list_.item_selected(newly, all);
    else
        list_.selection_changed(all);
    if (on_selection_) on_selection_();
}

void CBrowserListView::select_items(const std::vector<int>& items) {
    QItemSelectionModel* sm = tree_->selectionModel();
    sm->clearSelection();
    for (int item : items) {
        const QModelIndex at = table_model_->index(item, 0);
        if (!at.isValid()) continue;
        sm->setCurrentIndex(at, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void CBrowserListView::select_report(const std::string& folder) {
    for (int item = 0; item < list_.item_count(); ++item) {
        const ReportRecord* record = doc_.core().get_record(list_.row_of_item(item));
        if (record && record->get_folder_path() == folder) {
            select_items({item});
            tree_->scrollTo(table_model_->index(item, 0));
            return;
        }
    }
}

bool CBrowserListView::begin_rename() {
    const int item = list_.current_item();
    if (item < 0 || item >= list_.item_count()) return false;
    const QModelIndex at = table_model_->index(item, kColumnName);
    tree_->scrollTo(at);
    return tree_->start_edit(at);
}

bool CBrowserListView::refresh_check() {
    if (!list_.refresh_check(ui())) return false;
    reset_list();
    return true;
}

bool CBrowserListView::group_check() {
    if (!doc_.core().is_group_file_missing()) return true;
    if (!missing_notice_shown_) {
        missing_notice_shown_ = true;
        ui().message_box(kArchiveMissingText, kArchiveMissingCaption, MsgIcon::None, MsgButtons::Ok);
        missing_notice_shown_ = false;
    }
    return false;
}

bool CBrowserListView::change_check() {
    if (!doc_.core().has_changed_on_disk()) return true;
    doc_.core().reload();
    ui().message_box(kArchiveChangedText, kArchiveChangedCaption, MsgIcon::Information, MsgButtons::Ok);
    return false;
}

void CBrowserListView::open_current() {
    if (fw::MainFrame* mf = main_frame()) mf->execute_command(browser_cmd::Open);
}

void CBrowserListView::return_key() {
    if (list_.selected_items().size() == 1 && list_.current_row() >= 0) {
        open_current();
        return;
    }
    show_error("You can only load a report if there is exactly one highlighted when you press the <return> key.",
               "Not exactly one report selected");
}

void CBrowserListView::context_menu(const QPoint& at) {
    fw::MainFrame* mf = main_frame();
    if (!mf || !mf->menuBar()) return;
    const QList<QAction*> tops = mf->menuBar()->actions();
    auto menu_at = [&](int i) -> QMenu* { return i < tops.size() ? tops[i]->menu() : nullptr; };
    QMenu* menu = menu_at(3);
    const bool fourth_is_item = menu && !menu->actions().isEmpty() &&
                                menu->actions().front()->text().remove('&').startsWith(QStringLiteral("Open"));
    if (!fourth_is_item) menu = menu_at(2);
    if (!menu) return;
    mf->update_command_ui();
    menu->exec(tree_->viewport()->mapToGlobal(at));
}

// --- commands

bool CBrowserListView::open_row(std::int32_t row) {
    BrowserListCore& core = doc_.core();
    ReportArchive* archive = core.get_archive(row);
    ReportRecord* record = core.get_record(row);
    if (!archive || !record) return false;
    const ReportType type = record->get_type();
    if (is_formatted_type(type)) {
        // A confirmation made in the report window reloads the lists; this one keeps the report
        // selected, so that its details say what was done.
        QPointer<CBrowserListView> self(this);
        const std::string folder = record->get_folder_path();
        return open_archived_report(*archive, *record, core.get_archive_name(core.get_archive_index(row)),
                                    [self, folder] {
                                        reload_archive_documents();
                                        if (self) self->select_report(folder);
                                    }) != nullptr;
    }
    if (type == kReportSigned)
        return open_signed_report(*archive, *record, core.get_archive_name(core.get_archive_index(row)), this);
    if (type == kReportTimiData || type == kReportTimiSummary || type == kReportTimiArrhythmia)
        return open_timi_report(row);
    if (const ChooserMode mode = current_chooser_mode(); mode != ChooserMode::None)
        return choose_report_row(*record, mode, this);
    show_error("You can only view formatted reports.", "Wrong kind of report");
    return false;
}

void CBrowserListView::on_open() {
    const std::int32_t row = list_.current_row();
    if (row < 0) {
        show_error("You must have a single report selected to view it.", "No Single Report Selected");
        return;
    }
    if (!group_check()) return;
    open_row(row);
}

void CBrowserListView::on_create_letter() {
    const std::int32_t row = list_.current_row();
    if (list_.selected_items().size() != 1 || row < 0) {
        show_error("Please select exactly one formatted report before creating a letter.",
                   "Not exactly one report selected");
        return;
    }
    const ReportRecord* record = doc_.core().get_record(row);
    if (!record || !is_formatted_type(doc_.core().get_record_type(row))) {
        show_error("You can only create a letter for a formatted report.", "Wrong kind of report");
        return;
    }
    if (!hand_over_letter(doc_.core().get_report_folder(row), record->get_description())) return;
    // Looks for letters again: the flags are worked out when the current row changes. The bar's
    // Letters button follows them only when told.
    doc_.core().set_current_row(-1);
    doc_.core().set_current_row(row);
    if (on_selection_) on_selection_();
}

void CBrowserListView::on_compare() {
    const std::vector<std::int32_t> rows = list_.selected_rows();
    bool all_formatted = rows.size() >= 2 && rows.size() <= 3;
    for (std::int32_t row : rows)
        if (!is_formatted_type(doc_.core().get_record_type(row))) all_formatted = false;
    if (!all_formatted) {
        show_error(
            "You must select two or three  formatted reports before choosing the \"compare\" option.\n\nYou "
            "cannot compare reports that are not formatted.",
            "Wrong number or kind of reports selected");
        return;
    }
    fw::Application* app = fw::app();
    if (!app) return;
    // Only the compared reports stay in view.
    std::vector<fw::ChildFrame*> report_frames;
    for (fw::Document* d : app->documents())
        if (dynamic_cast<CPellarnDoc*>(d))
            for (fw::View* v : d->views())
                if (fw::ChildFrame* f = v->frame()) report_frames.push_back(f);
    for (fw::ChildFrame* f : report_frames) f->close();
    if (fw::MainFrame* mf = main_frame())
        for (fw::ChildFrame* f : mf->child_frames()) f->showMinimized();
    set_compare_mode(true);
    CPellarnDoc* last = nullptr;
    for (std::int32_t row : rows) {
        if (!open_row(row)) continue;
        if (fw::Document* d = app->documents().empty() ? nullptr : app->documents().back())
            last = dynamic_cast<CPellarnDoc*>(d);
    }
    if (last && !last->views().empty())
        if (fw::MainFrame* mf = main_frame()) {
            QPointer<fw::MainFrame> guard(mf);
            QMetaObject::invokeMethod(
                mf,
                [guard] {
                    if (guard) guard->execute_command(fw::cmd::WindowTileVert);
                },
                Qt::QueuedConnection);
        }
}

namespace {
ReportPrintOperation& report_print_operation() {
    static ReportPrintOperation operation;
    return operation;
}
}  // namespace

void set_report_print_operation(ReportPrintOperation operation) { report_print_operation() = std::move(operation); }

void CBrowserListView::on_send_mail() {
    std::vector<MailReportEntry> selection;
    for (std::int32_t row : list_.selected_rows())
        if (const ReportRecord* record = doc_.core().get_record(row))
            selection.push_back({record->get_folder_path(), record->get_description(), record->get_type(),
                                 static_cast<std::uint32_t>(record->get_size()), record->get_time()});
    if (selection.empty()) {
        show_error("You must select one or more reports before choosing to send mail.");
        return;
    }
    if (ui().message_box("Do you want to compress the selected reports and\nsend them in a mail message?",
                         "Confirm Send Mail", MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok)
        return;
    hand_over_mail(selection);
}

void CBrowserListView::on_print_reports() {
    CTolbexApp* app = CTolbexApp::current();
    bool any = false;
    for (std::int32_t row : list_.selected_rows()) {
        const ReportRecord* record = doc_.core().get_record(row);
        if (!record || !is_formatted_type(record->get_type())) continue;
        any = true;
        const ReportPrintOperation& print = report_print_operation();
        if (!app && !print) break;
        fw::WaitCursor wait;
        const std::string folder = record->get_folder_path();
        if ((print ? print(folder) : print_report_command(*app, folder, 0, 0, 1, 0, "N", "")) != 0) break;
    }
    if (!any) show_error("No formatted reports were selected for printing.", "No reports printed");
}

fw::PrintResult CBrowserListView::print_catalogue(bool short_catalogue, bool show_dialog) {
    short_catalogue_ = short_catalogue;
    BrowserCatalogueRows rows(list_, doc_.core());
    CataloguePrinter printer(rows, doc_.core().get_title(), short_catalogue);
    fw::PrintJobOptions options;
    options.document_name = doc_.core().get_title();
    options.show_dialog = show_dialog;
    options.parent = this;
    fw::PrintOutcome outcome;
    {
        // The short catalogue is wide; whatever orientation was chosen before comes back after it.
        std::optional<fw::ScopedPrintOrientation> landscape;
        if (short_catalogue) landscape.emplace(fw::PageOrientation::Landscape);
        outcome = fw::run_print_job(printer, options);
    }
    if (outcome.result == fw::PrintResult::Failed)
        show_error(outcome.error.empty() ? std::string(fw::kPrintFailedToStart) : outcome.error);
    return outcome.result;
}

int CBrowserListView::preview_catalogue(std::function<void(std::function<void()> close)> shown) {
    BrowserListCore& core = doc_.core();
    BrowserCatalogueRows rows(list_, core);
    CataloguePrinter printer(rows, core.get_title(), short_catalogue_);
    fw::PrintJobOptions options;
    options.document_name = core.get_title();
    options.parent = this;
    options.preview_shown = std::move(shown);
    std::optional<fw::ScopedPrintOrientation> landscape;
    if (short_catalogue_) landscape.emplace(fw::PageOrientation::Landscape);
    return fw::run_print_preview(printer, options);
}

void CBrowserListView::on_delete() {
    const std::vector<std::int32_t> rows = list_.selected_rows();
    doc_.core().delete_selected(rows, list_.shown_archive());
}

void CBrowserListView::on_move_or_copy(bool move) {
    if (!group_check() || !change_check()) return;
    const std::vector<std::int32_t> rows = list_.selected_rows();
    if (rows.empty()) {
        show_error("You must select one or more reports before you can move or copy them.");
        return;
    }
    // The reports are named before the dialog, and the refresh waits until the work is done.
    const std::vector<ReportRef> reports = doc_.core().refs_of(rows);
    TransferGuard transfer;
    ChooseArchiveDlg dialog(false, this);
    dialog.set_caption(move ? "Moving Reports" : "Copying Reports");
    if (dialog.exec_modal() != QDialog::Accepted) return;
    fw::WaitCursor wait;
    doc_.core().copy_or_move_named(reports, dialog.get_group_folder(), dialog.get_archive_index(), move, false, false);
}

void CBrowserListView::on_rename() {
    if (list_.current_item() < 0) {
        show_error("You must select a report by clicking on it before you can rename it.");
        return;
    }
    begin_rename();
}

void CBrowserListView::on_create_archive() {
    NewArchiveDlg dialog(current_archive_config(), open_group_folders(), this);
    if (dialog.exec_modal() != QDialog::Accepted) return;
    const std::string folder = dialog.get_group_folder();
    BrowserListCore& core = doc_.core();
    if (core.has_group() && folder == core.get_group_folder()) {
        core.create_archive(dialog.get_archive_name());
        return;
    }
    if (create_archive_in_group(folder, dialog.get_archive_name(), nullptr)) reload_archive_documents();
}

void CBrowserListView::on_delete_archive() {
    BrowserListCore& core = doc_.core();
    DeleteArchiveDlg dialog(core, this);
    if (!dialog.has_choices()) {
        show_error("There are no archives that you can delete (you cannot delete the STANDARD archive).",
                   "No archives to delete");
        return;
    }
    if (dialog.exec_modal() != QDialog::Accepted) return;
    const std::int32_t chosen = dialog.get_archive_index();
    if (chosen < 0 || !group_check() || !change_check()) return;
    const std::string name = core.get_archive_name(chosen);
    const std::string text = "This will move all the reports from the \"" + name +
                             "\" archive into the \"Deleted Reports\" archive,\nand then delete the \"" + name +
                             "\" archive.\n\nAre you sure?";
    if (ui().message_box(text, "Confirm Archive Deletion", MsgIcon::Question, MsgButtons::YesNo, MsgDefault::Second) !=
        MsgResult::Yes)
        return;
    // Indexes do not outlive a reload: the archive is remembered by its folder.
    const std::string path = core.get_group()->get_archive(chosen)->get_path();
    bool moved = false;
    {
        fw::WaitCursor wait;
        TransferGuard transfer;
        const std::int32_t deleted = core.ensure_deleted_archive();
        if (deleted >= core.get_archive_count()) core.reload();
        const std::int32_t from = find_archive_by_path(core, path);
        if (deleted >= 0 && from >= 0 && from != deleted) moved = core.move_archive_contents(from, deleted);
    }
    if (!moved && ui().message_box(kCannotMoveToDeletedText, kCannotMoveToDeletedCaption, MsgIcon::Error,
                                   MsgButtons::YesNo, MsgDefault::Second) != MsgResult::Yes)
        return;
    fw::WaitCursor wait;
    const std::int32_t from = find_archive_by_path(core, path);
    if (from >= 0) core.remove_archive(from);
}

}  // namespace tv::gui
