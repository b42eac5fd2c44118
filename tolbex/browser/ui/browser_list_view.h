// The report list of an archive browser: a report-style list over BrowserListModel whose item
// texts are asked from the document when drawn (so a group of 100,000 reports shows at once),
// header clicks that sort, the archive and search boxes of the frame's bar, the selection the
// details pane and the commands work on, in-place renaming and the minute refresh check. The
// browser's report and archive commands are handled here.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QTreeView>

#include "framework/qt/document.h"
#include "framework/qt/print_job.h"
#include "framework/qt/timer.h"
#include "tolbex/browser/browser_list_model.h"
#include "tolbex/browser/timi_days.h"

class QComboBox;
class QLineEdit;

namespace tv::gui {

class CBrowserListDoc;

// Command ids of the archive browser.
namespace browser_cmd {
inline constexpr fw::CommandId Open = 32787, Delete = 32786, Move = 32807, Copy = 32808, Rename = 32809,
                               SendMail = 32814, Export = 32850, ExternalProgram = 32826, CreateLetter = 32829,
                               WhereIs = 32854, DeleteEcgFiles = 32859, Compare = 32820, Sign = 231, Timi = 184,
                               TimiArrhythmia = 32868, PrintReports = 32785, ShortCatalogue = 203,
                               LongCatalogue = 57607, PrintDirect = 57608, CreateArchive = 32810, DeleteArchive = 32795,
                               DeleteGroup = 32817, AddToConfiguration = 32818, RemoveFromConfiguration = 32819,
                               SetDefaultGroup = 32790, NoDefaultGroup = 32812, SortFirst = 32796, SortLast = 32805,
                               Letters = 32831, Play = 32847;
}  // namespace browser_cmd

// What Print reports hands each selected formatted report folder to, instead of the "/print"
// operation on the default printer; 0 is printed. Tests record through it; empty puts it back.
using ReportPrintOperation = std::function<int(const std::string& folder)>;
void set_report_print_operation(ReportPrintOperation operation);

// Refresh check interval.
inline constexpr int kRefreshIntervalMs = 60000;

// The list's Qt model: rows are list items, texts come from BrowserListModel on demand.
class BrowserTableModel : public QAbstractTableModel {
public:
    BrowserTableModel(BrowserListModel& list, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The end of an in-place edit of a description.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    // The item list changed as a whole (refill, sort).
    void reset();

private:
    BrowserListModel& list_;
};

// Column widths for screens narrower than 1,280 pixels and for wider ones.
int browser_column_width(int column, bool wide_screen);
// The list's initial width: the six columns and 20 pixels.
int browser_list_initial_width();

class CBrowserListView : public fw::View {
public:
    explicit CBrowserListView(CBrowserListDoc& doc, QWidget* parent = nullptr);
    ~CBrowserListView() override;

    CBrowserListDoc& browser_document() const { return doc_; }
    BrowserListModel& list_model() { return list_; }
    BrowserTableModel* table_model() const { return table_model_; }
    QTreeView* tree() const;

    // The frame's bar controls (before the first update).
    void set_bar_controls(QComboBox* archive_box, QComboBox* search_box, QLineEdit* text_box);
    // Refills both boxes and the list.
    void on_update(fw::View* sender, long hint, void* extra) override;
    // Selection change in either box, Enter in the text box or leaving it.
    void search_refresh();
    void column_sort(int column, BrowserListModel::SortMode mode);
    // The minute timer's tick; true when the document was reloaded.
    bool refresh_check();

    // Selects the given items (list order) and makes the last one current, as clicks would.
    void select_items(const std::vector<int>& items);
    // Selects the listed report of that folder alone, when it is listed.
    void select_report(const std::string& folder);
    // Starts the in-place edit of the current item's description; false when refused.
    bool begin_rename();
    // The folder of the current report when exactly one is selected, else "".
    std::string current_report_folder() const { return list_.current_report_folder(); }
    // Called after the selection (and so the details row) changed.
    void set_on_selection_changed(std::function<void()> callback) { on_selection_ = std::move(callback); }

    // Every command routed through this view runs with no editor open: an open rename is taken
    // first, and a click's delayed rename does not open while the view's own command runs.
    bool execute(fw::CommandId id) override;

    // Commands (also reachable through the command route).
    void on_delete();
    void on_move_or_copy(bool move);
    void on_rename();
    void on_create_archive();
    void on_delete_archive();
    // Report commands: Open (the current row), Compare (two or three formatted reports), Print
    // reports (each selected formatted report on the default printer).
    void on_open();
    void on_compare();
    void on_create_letter();
    void on_print_reports();
    void on_send_mail();  // Send Mail: the selection list, once the user agreed, to mail
    // Where is Item, Delete 12-lead ECG files, and the group commands (group_commands.cpp).
    void on_where_is();
    void on_delete_ecg_files();
    void on_delete_group();
    void on_add_to_configuration();
    void on_remove_from_configuration();
    // Sign Report (sign_command.cpp).
    void on_sign();
    // Export to folder and Send to External Program (export_commands.cpp).
    void on_export();
    void on_external_program();
    // TIMI (a TIMI window on the selected day reports) and TIMI Arrhythmia (their arrhythmia
    // summary stored as a new report), timi_commands.cpp. True when a window opened or a summary
    // was stored.
    bool on_timi();
    bool on_timi_arrhythmia();
    // Opens one row for viewing; false when nothing opened.
    bool open_row(std::int32_t row);
    // Prints the listed reports as a catalogue: short (one line each, in landscape, the
    // orientation put back afterwards) or long (a block each). Without the dialog it goes
    // straight to the default printer.
    fw::PrintResult print_catalogue(bool short_catalogue, bool show_dialog);
    // Shows the catalogue of the kind printed last in the print preview until it is closed;
    // `shown` is told as the preview's options say. Returns the pages drawn.
    int preview_catalogue(std::function<void(std::function<void()> close)> shown);
    // The kind of catalogue printed last.
    bool short_catalogue() const { return short_catalogue_; }

private:
    class Tree;
    friend class Tree;
    void register_commands();
    void register_group_commands();
    void register_sign_command();
    void register_export_commands();
    void register_timi_commands();
    std::vector<TimiDaySource> selected_day_sources() const;
    // A stored TIMI Data report in a TIMI window, a summary in the text viewer.
    bool open_timi_report(std::int32_t row);
    void selection_changed(const QItemSelection& selected);
    void reset_list();
    bool group_check();
    bool change_check();
    void open_current();
    void context_menu(const QPoint& at);
    void return_key();

    CBrowserListDoc& doc_;
    BrowserListModel list_;
    BrowserTableModel* table_model_;
    Tree* tree_;
    QComboBox* archive_box_ = nullptr;
    QComboBox* search_box_ = nullptr;
    QLineEdit* text_box_ = nullptr;
    std::unique_ptr<fw::Timer> timer_;
    bool missing_notice_shown_ = false;
    int commands_running_ = 0;
    bool filling_ = false;
    bool short_catalogue_ = false;
    std::function<void()> on_selection_;
};

}  // namespace tv::gui
