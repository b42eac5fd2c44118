// The report window's view: the pages one below the other at 25 to 400 %, scrolled by keys,
// wheel and scroll bars, with text annotations on the right button. The scrolling and zoom rules
// live in ReportViewGeometry so that a test can drive them without a window.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "framework/qt/document.h"
#include "tolbex/reports/page_export.h"

class QScrollBar;

namespace tv {
class ReportDocument;
}  // namespace tv

namespace tv::gui {

class CPellarnDoc;

inline constexpr int kZoomMin = 25, kZoomMax = 400;
inline constexpr int kScrollStep = 256;  // vertical positions count in these logical units
// Annotation texts are at most this long.
inline constexpr int kAnnotationMax = 2048;
inline constexpr const char* kDefaultAnnotationFontValue = "Default Annotation Font";

// The zoom step at a zoom: 1 below 25, 5 below 100, 10 below 250, else 20.
int zoom_step(int zoom);

class ReportViewGeometry {
public:
    void set_page_count(int count) { pages_ = count < 0 ? 0 : count; }
    void set_client_size(int width_px, int height_px);
    // Clamped to 25..400; false when unchanged.
    bool set_zoom(int zoom);
    int zoom() const { return zoom_; }
    int viewport_width() const { return zoom_ * 800 / 100; }
    int viewport_height() const { return zoom_ * 1131 / 100; }

    // Client size in logical units.
    int client_logical_width() const;
    int client_logical_height() const;
    std::int64_t total_height() const;  // page pitch x pages
    int vertical_range() const;         // total / 256
    int vertical_page() const { return client_logical_height() / kScrollStep; }

    int vpos() const { return vpos_; }
    int hpos() const { return hpos_; }
    // Clamped as scrolling clamps; true when something changed.
    bool scroll_to(int x, int y);
    int bottom_position() const;  // the vertical position of "scroll to the bottom"
    int max_hpos() const;

    enum class Code { LineUp, LineDown, PageUp, PageDown, Top, Bottom };
    bool scroll_vertical(Code code);
    enum class HCode { LineLeft, LineRight, PageLeft, PageRight, LeftEnd, RightEnd };
    bool scroll_horizontal(HCode code);

    // A client pixel to (page index, logical x, logical y on that page).
    struct PagePoint {
        int page = 0;
        int x = 0, y = 0;
    };
    PagePoint client_to_page(int px, int py) const;
    // Pages visible now: first and last index (last < first when none).
    int first_visible_page() const;
    int last_visible_page() const;
    // The window origin's y for the k-th visible page.
    int window_origin_y(int k) const;

private:
    int pages_ = 0;
    int zoom_ = 100;
    int client_w_ = 800, client_h_ = 600;
    int vpos_ = 0, hpos_ = 0;
};

// The annotation dialog's rules. Radio index: 0 Tiny, 1 Small, 2 Medium, 3 Large.
struct AnnotationDialogState {
    std::string text;  // without prefix
    int size_index = 1;
};
AnnotationDialogState annotation_dialog_open(const std::string& stored, int default_index);
std::string annotation_dialog_result(const std::string& text, int size_index);
// The machine's default annotation size index (registry; 1 when unset or out of range).
int default_annotation_size_index();
void set_default_annotation_size_index(int index);

// --- export, letters, mail and the external program ---

namespace report_view_cmd {
inline constexpr fw::CommandId SendMail = 32813, SendToExternal = 32826, CreateLetter = 32829, ViewLetters = 32831;
// Edit > Insert Text..., Delete Text..., Edit Text...: how annotations are made (the work is done
// with the right mouse button on the page).
inline constexpr fw::CommandId InsertTextHelp = 32792, DeleteTextHelp = 32793, EditTextHelp = 32794;
}  // namespace report_view_cmd

inline constexpr const char* kInsertTextHelpTitle = "How to insert text";
inline constexpr const char* kInsertTextHelp =
    "To insert text into the report, click the right mouse button where the text is to go and choose "
    "\"Insert Text...\" from the menu.";
inline constexpr const char* kDeleteTextHelpTitle = "How to delete text";
inline constexpr const char* kDeleteTextHelp =
    "To delete text that was inserted into the report, click the right mouse button on the text and "
    "choose \"Delete Text\" from the menu.";
inline constexpr const char* kEditTextHelpTitle = "How to edit text";
inline constexpr const char* kEditTextHelp =
    "To change text that was inserted into the report, click the right mouse button on the text and "
    "choose \"Edit Text...\" from the menu.";

inline constexpr const char* kExportBmpCaption = "Export as BMP files";
inline constexpr const char* kExportPcxCaption = "Export as PCX files";
inline constexpr const char* kExportRtfCaption = "Export as RTF file";
inline constexpr const char* kPageRangeRefusal = "Start and end must be in order and in the range %d - %d";
inline constexpr const char* kPageRangeRefusalCaption = "Invalid page range specified";
inline constexpr const char* kBitmapOverwriteQuestion =
    "This operation will overwrite an existing PAGExxxx bitmap file - do you want to continue?";
inline constexpr const char* kRtfWithout12LeadQuestion =
    "The exported RTF file will not include the 12-lead section of the report.\nDo you still want to export this "
    "report ?";
inline constexpr const char* kRtfOverwriteQuestion =
    "This operation will overwrite an existing REPORT.RTF file - do you want to continue?";
inline constexpr const char* kRtfWriteFailed =
    "Calvera is unable to write to the file, check it is not already open, or read only.";
inline constexpr const char* kRtfWriteFailedCaption = "Unable to save file";
inline constexpr const char* kBitmapWriteFailed = "The page picture could not be written:\n%s";

struct PageRange {
    int start = 1, end = 1;
};
// Empty when start..end is in order and within minimum..maximum, else the refusal text.
std::string page_range_refusal(const PageRange& range, int minimum, int maximum);

// A test's stand-in for the page-range dialog: the range the "user" entered, nullopt for Cancel.
using PageRangeHook =
    std::function<std::optional<PageRange>(const std::string& caption, int minimum, int maximum, PageRange preset)>;
void set_page_range_hook(PageRangeHook hook);  // empty restores the real dialog
// The page-range dialog, preset to the whole range; a refused range is told and asked again.
// nullopt when the user cancelled.
std::optional<PageRange> choose_page_range(const std::string& caption, int minimum, int maximum,
                                           QWidget* parent = nullptr);

// The first page of `range` whose picture file already exists in `folder` (any case); 0 when none.
int first_existing_page_bitmap(const std::string& folder, const PageRange& range, BitmapFormat format);

enum class ReportExportKind { Bmp, Pcx, Rtf };
// One export command of the report window: (RTF: the 12-lead question), the page range, the
// folder (starting at the "Export Folder" setting, which keeps the choice), the overwrite
// question, then the files under a wait indicator. True when files were written.
bool run_report_export(const ReportDocument& doc, ReportExportKind kind, QWidget* parent = nullptr);

class CPellarnView : public fw::View {
public:
    explicit CPellarnView(CPellarnDoc& doc, QWidget* parent = nullptr);
    ~CPellarnView() override;

    CPellarnDoc& report() const { return doc_; }
    ReportViewGeometry& geometry() { return geom_; }

    void on_initial_update() override;
    void on_update(fw::View* sender, long hint, void* extra) override;

    // Zoom and scroll; in compare mode with propagate, every report view follows.
    void set_zoom(int zoom, bool propagate = true);
    void scroll_to(int x, int y, bool propagate = true);

    // Annotation commands at a client pixel (the right-button release point).
    bool insert_text_at(int px, int py, const std::string& text);
    int pick_annotation(int px, int py, int* page = nullptr);

    // The report folder holds a letter (*.DOC); looked again after the letter commands.
    bool letters_present() const { return letters_present_; }
    void refresh_letters_present();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The report window closes: compare mode ends, and without browsing the main window goes too.
    void closeEvent(QCloseEvent* event) override;

private:
    void install_commands();
    void sync_scroll_bars();
    void context_menu(const QPoint& at);
    bool edit_annotation_dialog(std::string& text);
    CPellarnDoc& doc_;
    ReportViewGeometry geom_;
    QScrollBar* vbar_ = nullptr;
    QScrollBar* hbar_ = nullptr;
    bool syncing_ = false;
    bool letters_present_ = false;
    bool closed_ = false;
};

}  // namespace tv::gui
