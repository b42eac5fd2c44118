#include "tolbex/browser/ui/browser_frame.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "framework/qt/frame.h"
#include "tolbex/browser/ui/browser_data_view.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"

namespace tv::gui {
namespace {

CBrowserFrame::FolderAction& letters_action() {
    static CBrowserFrame::FolderAction action;
    return action;
}

CBrowserFrame::FolderAction& play_action() {
    static CBrowserFrame::FolderAction action;
    return action;
}

// "status text\ntooltip" as the resources give them.
void set_tips(QWidget* w, const char* both) {
    const QString text = QString::fromLatin1(both);
    const qsizetype nl = text.indexOf('\n');
    w->setStatusTip(text.left(nl));
    w->setToolTip(nl < 0 ? text : text.mid(nl + 1));
}

}  // namespace

void CBrowserFrame::set_letters_action(FolderAction action) { letters_action() = std::move(action); }
void CBrowserFrame::set_play_action(FolderAction action) { play_action() = std::move(action); }

CBrowserFrame::CBrowserFrame(CBrowserListDoc& doc, QWidget* parent)
    : fw::View(parent),
      doc_(doc),
      bar_(new QWidget(this)),
      archive_box_(new QComboBox(bar_)),
      search_box_(new QComboBox(bar_)),
      text_box_(new QLineEdit(bar_)),
      letters_(new QPushButton(QStringLiteral("Letters"), bar_)),
      play_(new QPushButton(QStringLiteral("Play"), bar_)),
      splitter_(new QSplitter(Qt::Vertical, this)),
      list_(new CBrowserListView(doc, splitter_)),
      data_(new BrowserDataView(doc, splitter_)) {
    bar_->setObjectName(QStringLiteral("105"));
    archive_box_->setObjectName(QStringLiteral("1014"));
    search_box_->setObjectName(QStringLiteral("1015"));
    text_box_->setObjectName(QStringLiteral("1016"));
    set_tips(archive_box_, "Use this to display reports from a particular archive\nSelects which archive to display");
    set_tips(search_box_,
             "Selects the search type to be applied to report names\nSelects the type of search to use to search "
             "displayed reports");
    set_tips(text_box_,
             "Selects the text used to search the report names\nSelects the text to use to search displayed reports");
    set_tips(letters_,
             "View any letters stored with this report. Option will be greyed-out if there are none.\nView "
             "associated letters. Greyed-out if none.");
    set_tips(play_,
             "Play sound file for currently selected recording. Button will be greyed-out if none.\nPlay recording's "
             "sound file. Greyed-out if none.");
    auto* bar_layout = new QHBoxLayout(bar_);
    bar_layout->setContentsMargins(4, 2, 4, 2);
    bar_layout->addWidget(new QLabel(QStringLiteral("Archive:"), bar_));
    bar_layout->addWidget(archive_box_, 2);
    bar_layout->addWidget(new QLabel(QStringLiteral("Search:"), bar_));
    bar_layout->addWidget(search_box_, 2);
    bar_layout->addWidget(new QLabel(QStringLiteral("Text:"), bar_));
    bar_layout->addWidget(text_box_, 3);
    bar_layout->addWidget(letters_);
    bar_layout->addWidget(play_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar_);
    layout->addWidget(splitter_, 1);
    splitter_->addWidget(list_);
    splitter_->addWidget(data_);
    splitter_->setChildrenCollapsible(false);
    splitter_->setSizes({500, 500});
    resize(browser_list_initial_width(), 1000 + bar_->sizeHint().height());

    list_->set_bar_controls(archive_box_, search_box_, text_box_);
    list_->set_on_selection_changed([this] { details_changed(); });
    connect(text_box_, &QLineEdit::editingFinished, this, [this] { text_box_done(); });
    connect(letters_, &QPushButton::clicked, this, [this] { execute(browser_cmd::Letters); });
    connect(play_, &QPushButton::clicked, this, [this] { execute(browser_cmd::Play); });

    on_command(browser_cmd::Letters, [this] {
        const std::string folder = list_->current_report_folder();
        if (letters_action() && !folder.empty()) letters_action()(folder);
    });
    on_update_command(browser_cmd::Letters, [this](fw::CommandUi& u) { u.enable(doc_.core().has_letters()); });
    on_command(browser_cmd::Play, [this] {
        const std::string folder = list_->current_report_folder();
        if (play_action() && !folder.empty()) play_action()(folder);
    });
    on_update_command(browser_cmd::Play, [this](fw::CommandUi& u) { u.enable(doc_.core().has_voice_message()); });
    details_changed();
}

CBrowserFrame::~CBrowserFrame() {
    // The text box loses the focus while the window goes; that must not refill a dying list.
    closing_ = true;
    text_box_->disconnect(this);
}

void CBrowserFrame::on_initial_update() {
    if (fw::ChildFrame* f = frame()) {
        f->installEventFilter(this);
        f->resize(size());
        // Coming back to the window, the details of the selected report are read afresh: a
        // report window or another program may have changed its files meanwhile.
        connect(f, &QMdiSubWindow::windowStateChanged, this, [this](Qt::WindowStates before, Qt::WindowStates now) {
            if (!(before & Qt::WindowActive) && (now & Qt::WindowActive)) {
                doc_.core().refresh_current_details();
                details_changed();
            }
        });
    }
    list_->on_update(this, 0, nullptr);
    data_->on_initial_update();
    list_->setFocus();
}

void CBrowserFrame::on_update(fw::View* sender, long hint, void* extra) {
    list_->on_update(sender, hint, extra);
    details_changed();
}

bool CBrowserFrame::execute(fw::CommandId id) {
    if (list_->execute(id)) return true;
    return fw::View::execute(id);
}

bool CBrowserFrame::update_state(fw::CommandUi& ui) {
    if (list_->update_state(ui)) return true;
    return fw::View::update_state(ui);
}

bool CBrowserFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == frame()) closing_ = true;
    return fw::View::eventFilter(watched, event);
}

void CBrowserFrame::details_changed() {
    data_->layout_text();
    letters_->setEnabled(doc_.core().has_letters());
    play_->setEnabled(doc_.core().has_voice_message());
}

void CBrowserFrame::text_box_done() {
    if (closing_) return;
    list_->search_refresh();
}

}  // namespace tv::gui
