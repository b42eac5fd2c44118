// The one drawing interface that report pages, the grid and the prints draw on. Mapping follows
// the GDI rules: in MapMode::Text a logical unit is a device pixel; in MapMode::Anisotropic
// dev = round((lp - window_org) * viewport_ext / window_ext) + viewport_org, computed in 64 bits,
// halves rounded away from 0. Lines leave out their end point; rectangles and polygon fills leave
// out the right and bottom edges. Text is Windows-1252 bytes, placed at the box's top (or on its
// baseline), on a transparent background, never clipped, without '&' processing. No Qt.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tv::fw {

struct Pt {
    std::int32_t x = 0, y = 0;
    bool operator==(const Pt&) const = default;
};
struct Sz {
    std::int32_t cx = 0, cy = 0;
    bool operator==(const Sz&) const = default;
};
struct Rc {
    std::int32_t l = 0, t = 0, r = 0, b = 0;
    std::int32_t width() const { return r - l; }
    std::int32_t height() const { return b - t; }
    bool operator==(const Rc&) const = default;
};
struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

enum class MapMode { Text, Anisotropic };
enum class PenStyle { Null, Solid, Dot, Dash };
enum class FillStyle { Null, Solid, HatchFDiagonal };  // hatch: 8x8 device cell anchored at device (0,0)

// em_height in logical units (scaled by the y factor only); weight 400 normal, 700 bold.
struct Font {
    std::string face = "Arial";
    int em_height = 12;
    int weight = 400;
    bool italic = false;
    bool operator==(const Font&) const = default;
};
// In logical units.
struct TextMetrics {
    int height = 0, ascent = 0, descent = 0, external_leading = 0, avg_char_width = 0;
};
struct TextOpts {
    enum class Align { Left, Center, Right };
    bool word_wrap = false;
    bool expand_tabs = false;
    int tab_chars = 8;       // a tab stop every tab_chars average character widths
    bool baseline = false;   // box.t is the first line's baseline
    bool calc_only = false;  // measure, draw nothing
    Align align = Align::Left;
};

// An in-memory picture for blit: rows top-down, no padding. bits 24: R,G,B bytes; bits 8: a
// palette index; bits 1: most significant bit first, index into the palette (default 0 black,
// 1 white).
struct Bitmap {
    int width = 0, height = 0, bits = 24;
    std::vector<std::uint8_t> pixels;
    std::vector<Rgb> palette;
    Rgb pixel(int x, int y) const;  // black outside or for short data
};

class DrawContext {
public:
    enum class Kind { Screen, Preview, Printer, Bitmap, Recording };
    virtual ~DrawContext() = default;

    // --- mapping (shared by every implementation)
    void set_map_mode(MapMode mode) { mode_ = mode; }
    MapMode map_mode() const { return mode_; }
    void set_window_org(Pt org) { window_org_ = org; }
    void set_window_ext(Sz ext);
    void set_viewport_org(Pt org) { viewport_org_ = org; }
    void set_viewport_ext(Sz ext);
    Pt window_org() const { return window_org_; }
    Sz window_ext() const { return window_ext_; }
    Pt viewport_org() const { return viewport_org_; }
    Sz viewport_ext() const { return viewport_ext_; }
    Pt to_device(Pt lp) const;
    Pt to_logical(Pt dp) const;
    Rc rect_to_device(const Rc& lr) const;
    // Logical length of one device pixel along x and y (at least 1).
    Sz device_pixel_in_logical() const;
    // Logical length <-> device length along y (font heights).
    int y_to_device(int logical) const;
    int y_to_logical(int device) const;

    virtual Sz device_size() const = 0;  // pixels
    virtual Sz dpi() const = 0;
    virtual Kind kind() const = 0;
    // Screen style (light greys, solid dotted lines) for the screen, preview and bitmaps.
    bool screen_style() const { return kind() != Kind::Printer; }

    // --- clip in device space, [l,r) x [t,b)
    virtual void clip_device(const Rc& r) = 0;
    virtual void clear_clip() = 0;

    // --- state
    virtual void set_pen(PenStyle style, Rgb colour = {}, int width = 1) = 0;  // width in device pixels
    virtual void set_fill(FillStyle style, Rgb colour = {}) = 0;
    virtual void set_text_colour(Rgb colour) = 0;
    virtual void set_font(const Font& font) = 0;
    virtual TextMetrics metrics() = 0;

    // --- primitives in logical units
    virtual void line(Pt a, Pt b) = 0;
    virtual void polyline(const std::vector<Pt>& points) = 0;
    virtual void polygon(const std::vector<Pt>& points) = 0;  // fill, then outline with the pen
    virtual void rect(const Rc& r) = 0;                       // fill, then outline with the pen
    virtual void fill_rect(const Rc& r, Rgb colour) = 0;      // no outline
    virtual void pixel(Pt lp, Rgb colour) = 0;
    virtual void pixel_device(Pt dp, Rgb colour) = 0;
    // The same as pixel_device for each point; a painter draws them as one batch, which a PDF
    // page keeps as one fill instead of one per dot.
    virtual void pixels_device(const std::vector<Pt>& points, Rgb colour) {
        for (Pt p : points) pixel_device(p, colour);
    }
    virtual void blit(const Bitmap& image, const Rc& dst) = 0;  // stretched, plain copy
    // Draws (unless calc_only) and returns the logical size used.
    virtual Sz text(const Rc& box, std::string_view cp1252, const TextOpts& opts = {}) = 0;
    // One line at a point (its top-left, or its baseline start when baseline is set).
    void text_out(Pt at, std::string_view cp1252, bool baseline = false);
    // Width and height of one line of text, tabs not expanded.
    virtual Sz text_extent(std::string_view cp1252) = 0;

private:
    MapMode mode_ = MapMode::Text;
    Pt window_org_{}, viewport_org_{};
    Sz window_ext_{1, 1}, viewport_ext_{1, 1};
};

// Splits text into lines as DrawContext::text draws them: "\n" (and "\r\n") break lines; with
// word_wrap, lines break at blanks so that each fits max_width (a word longer than the width
// stands alone); with expand_tabs, tabs move to the next stop. `width_of` measures one piece of
// text without tabs. Returns the lines with their widths.
struct TextLine {
    std::string text;  // tabs kept
    int width = 0;
};
std::vector<TextLine> layout_text(std::string_view text, const TextOpts& opts, int max_width, int avg_char_width,
                                  const std::function<int(std::string_view)>& width_of);

// tmHeight + tmExternalLeading of the selected font.
int get_text_line_height(DrawContext& dc);

}  // namespace tv::fw
