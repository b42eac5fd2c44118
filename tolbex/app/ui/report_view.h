// The report window's view: the pages one below the other at 25 to 400 %, scrolled by keys,
// wheel and scroll bars, with text annotations on the right button. The scrolling and zoom rules
// live in ReportViewGeometry so that a test can drive them without a window.
#pragma once
#include <cstdint>
#include <string>

#include "framework/document.h"

class QScrollBar;

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

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
};

}  // namespace tv::gui
