// An archive-browser window's content: the bar with the archive filter, the search controls and
// the Letters and Play buttons, above a splitter with the report list and the patient-details
// pane. It is the view the framework's child frame holds; commands reach the report list first,
// then the bar's own.
#pragma once
#include <functional>
#include <string>

#include "framework/qt/document.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QSplitter;

namespace tv::gui {

class BrowserDataView;
class CBrowserListDoc;
class CBrowserListView;

class CBrowserFrame : public fw::View {
public:
    explicit CBrowserFrame(CBrowserListDoc& doc, QWidget* parent = nullptr);
    ~CBrowserFrame() override;

    CBrowserListView* list_view() const { return list_; }
    BrowserDataView* data_view() const { return data_; }
    QComboBox* archive_box() const { return archive_box_; }
    QComboBox* search_box() const { return search_box_; }
    QLineEdit* text_box() const { return text_box_; }
    QPushButton* letters_button() const { return letters_; }
    QPushButton* play_button() const { return play_; }
    QSplitter* splitter() const { return splitter_; }
    bool is_closing() const { return closing_; }

    // What the Letters and Play buttons do with the current report folder; until set they do
    // nothing.
    using FolderAction = std::function<void(const std::string& report_folder)>;
    static void set_letters_action(FolderAction action);
    static void set_play_action(FolderAction action);

    void on_initial_update() override;
    void on_update(fw::View* sender, long hint, void* extra) override;
    bool execute(fw::CommandId id) override;
    bool update_state(fw::CommandUi& ui) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void details_changed();
    void text_box_done();

    CBrowserListDoc& doc_;
    QWidget* bar_;
    QComboBox* archive_box_;
    QComboBox* search_box_;
    QLineEdit* text_box_;
    QPushButton* letters_;
    QPushButton* play_;
    QSplitter* splitter_;
    CBrowserListView* list_;
    BrowserDataView* data_;
    bool closing_ = false;
};

}  // namespace tv::gui
