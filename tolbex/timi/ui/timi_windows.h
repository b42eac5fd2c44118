// The TIMI window: TIMIDoc (where the data came from, the saves, the signature of a signed
// report), TIMIView (the grid window filling the client area, loading when the window opens) in
// the framework's child frame, TIMICheckOverwriteDlg, the window's menu and the template makers.
#pragma once
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "framework/core/menu_model.h"
#include "framework/qt/document.h"
#include "tolbex/signing/crypto.h"
#include "tolbex/timi/timi_print.h"
#include "tolbex/timi/timi_store.h"
#include "tolbex/timi/ui/timi_grid_widget.h"

namespace tv {

class AuditTrail;
class BrowserListCore;

namespace fw {
class Application;
}  // namespace fw

inline constexpr const char* kUnsavedTimiTitle = "Unsaved TIMI Data";
inline constexpr const char* kTimiTitlePrefix = "TIMI Data - ";
inline constexpr const char* kLoadingTimiText = "Loading TIMI data,\nplease wait...";
inline constexpr const char* kSavingTimiText = "Saving TIMI data,\nplease wait...";
inline constexpr const char* kSaveModifiedTimiFormat =
    "You have modified the TIMI data for %s, do you want to save the modified data ?";
inline constexpr const char* kSaveModifiedTimiText = "Do you want to save the modified TIMI data ?";
inline constexpr const char* kSaveNewTimiText = "This TIMI analysis has not been saved. Do you want to save it ?";

namespace timi_cmd {
// The document's.
inline constexpr fw::CommandId SaveData = 239, SaveSelected = 32860, SaveSummary = 32856;
// The view's.
inline constexpr fw::CommandId PrintTable = 191, PrintSelected = 32863, PrintEvents = 190, HeadingFont = 193,
                               BodyFont = 194, PrePostTimes = 195, Landscape = 196, Stemi = 199, SignatureDetails = 245;
}  // namespace timi_cmd

// Where TIMI saves leave their audit entries (the application's trail); null refuses saves.
void set_timi_audit(AuditTrail* audit);
// Tests answer the overwrite question here instead of the dialog; empty restores the dialog.
void set_timi_overwrite_hook(std::function<int(bool summary)> hook);

// Asks whether a saved report is overwritten: ends with kTimiOverwrite, kTimiCreateNew, or 0
// for Cancel.
class TIMICheckOverwriteDlg : public QDialog {
public:
    explicit TIMICheckOverwriteDlg(bool summary, QWidget* parent = nullptr);
    static std::string caption(bool summary);
    static std::string text(bool summary);
};

class TIMIView;

// The title of signed TIMI data once it has been edited.
inline constexpr const char* kEditedSignedTimiTitle = "TIMI Data - Changed since it was signed";

class TIMIDoc : public fw::Document {
public:
    TIMIDoc();
    ~TIMIDoc() override;

    // --- what the browser sets right after opening
    void set_archive(BrowserListCore* archive) { archive_ = archive; }
    void set_data_folder(const std::string& folder) { store_.set_data_folder(folder); }
    void set_saved_data_path(const std::string& path) { store_.set_saved_data_path(path); }
    void set_display_name(const std::string& name) { store_.set_display_name(name); }
    void set_data_file_id(const std::string& id) { store_.set_data_file_id(id); }
    // Keeps a copy of every signature; the saved data path is then the signed report, which saves
    // never write into.
    void set_signatures(std::vector<signing::SignatureRecord> signers);
    // Empty for data that is not signed.
    const std::vector<signing::SignatureRecord>& get_signatures() const { return signatures_; }
    // A private folder (a restored signed report) deleted when the document goes.
    void set_restored_folder(const std::string& folder) { restored_folder_ = folder; }
    // The path name becomes "TIMI Data - " + display name (also in the recent list).
    void update_title();

    void set_data(TimiData* data);
    TimiData* get_data() const { return data_; }
    TimiStore& store() { return store_; }
    TIMIView* first_view() const;

    // --- commands
    bool save_timi_data(const TimiRowRange& rows);
    bool save_selected_timi_data();
    TimiStore::SummaryResult save_timi_summary();

    // --- framework
    void set_title(const std::string& title) override;
    bool save_modified() override;
    bool on_save_document(const std::string&) override { return true; }

    // A new analysis is unsaved but not edited; an edit in the table makes it modified.
    void set_new_analysis();
    void set_edited();

private:
    bool unedited_new_ = false;
    TimiStore store_;
    BrowserListCore* archive_ = nullptr;
    std::vector<signing::SignatureRecord> signatures_;
    std::string restored_folder_;
    TimiData* data_ = nullptr;
    std::unique_ptr<QDialog> saving_;  // the wait message while a file is written
};

class TIMIView : public fw::View {
public:
    explicit TIMIView(TIMIDoc& doc);
    ~TIMIView() override;

    TIMIGridWindow& grid() { return widget_->timi_grid(); }
    TIMIGridWidget& grid_widget() { return *widget_; }
    // Null once the document has gone.
    TIMIDoc* timi_document() const;
    // Loads the day list (a new analysis; the list file is deleted) or the DATA.TIMI of the
    // document's path; a failed load closes the window.
    void on_initial_update() override;
    bool loaded() const { return loaded_; }
    TimiPrintSettings& print_settings() { return print_settings_; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void install_commands();
    TIMIGridWidget* widget_ = nullptr;
    bool loaded_ = false;
    TimiPrintSettings print_settings_;  // from the profile when the view is made
};

// The window's menu: the File menu with the document's and the view's commands.
fw::MenuModel timi_window_menu();
// The TIMI template's makers.
fw::TemplateParts timi_template_parts();

// What the browser asks to open: a day list (.TIMI) or a stored DATA.TIMI, and where it belongs.
struct TimiWindowRequest {
    std::string path, archive_folder, saved_data_path, display_name, data_file_id;
};
// Opens through the framework's open-document; the document, or null when no window opened.
// The setters run in the order data folder, display name, saved data path, data file id; a
// stored report that showed its table is then titled "TIMI Data - " + display name.
TIMIDoc* open_timi_window(fw::Application& app, const TimiWindowRequest& request);

}  // namespace tv
