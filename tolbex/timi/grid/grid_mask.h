// The input mask of the masked cell editor, apart from any window: which characters a position
// takes, the literals the editor types by itself, and the re-formatting of a whole text.
//
// Mask text: each of "09#L?Aa&C" is a mask position; a backslash is no position and makes the
// character after it a literal position; any other character is a literal position. Positions
// and text characters correspond one to one. Text is Windows-1252 bytes.
//   0 digit   9 digit or space   # digit, space, '+' or '-'   L letter   ? letter or space
//   A letter or digit   a letter, digit or space   & and C any printable character
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tv {

// The nine mask characters.
inline constexpr std::string_view kGridMaskChars = "09#L?Aa&C";
// The entry of the mask string at a literal position, and of the literal string at a mask position.
inline constexpr char kGridMaskNoEntry = 8;

// A printable byte: 0x20 and above except DEL. Other bytes (Backspace, control keys) pass a
// mask unchecked.
bool grid_mask_printable(unsigned char ch);
// Whether `ch` fits the mask character `mask_char`; a byte that is no mask character accepts all.
bool grid_mask_char_accepts(char mask_char, unsigned char ch);

// What typing one character at a position does.
struct GridMaskTyping {
    bool accepted = false;  // false: the character is dropped
    // Literals the editor types itself before the character, without checks or hooks. They are
    // typed even when the character is then refused, as they are the mask's own content.
    std::string literals;
    std::size_t position = 0;  // where the character goes (after the literals)
};

class GridMask {
public:
    GridMask() = default;
    explicit GridMask(std::string_view mask) { set_mask(mask); }

    // An empty mask switches the mask off. A trailing lone backslash adds no position.
    void set_mask(std::string_view mask);
    bool on() const { return on_; }
    const std::string& mask_text() const { return text_; }
    // The editor's text length limit: the mask text's length, backslashes included (0 when off).
    std::size_t length_limit() const { return on_ ? text_.size() : 0; }
    // Number of positions; typing at or beyond it is refused.
    std::size_t positions() const { return mask_.size(); }
    // Per position: the mask character, or kGridMaskNoEntry at a literal.
    const std::string& mask_string() const { return mask_; }
    // Per position: the literal, or kGridMaskNoEntry at a mask position.
    const std::string& literal_string() const { return literals_; }
    bool is_literal(std::size_t pos) const { return pos < literals_.size() && literals_[pos] != kGridMaskNoEntry; }

    // Typing `ch` with the caret at `pos` (the selection already cleared). Every character passes
    // while the mask is off, and non-printable ones always do. Otherwise: refused at or beyond the
    // mask's end; the run of literals at `pos` is typed by the editor; refused when that run
    // reaches the mask's end; else accepted when `ch` fits the mask character it lands on.
    GridMaskTyping type_char(std::size_t pos, unsigned char ch) const;

private:
    bool on_ = false;
    std::string text_, mask_, literals_;
};

}  // namespace tv
