#include "tolbex/timi/grid/grid_mask.h"
#include "common/values.h"

namespace tv {
namespace {

// ASCII letters and the letters of Windows-1252 (Š Œ Ž š œ ž Ÿ ƒ ª µ º À..ÿ without × and ÷).
bool is_letter(unsigned char ch) {
    if ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'z') return true;
    switch (ch) {
        case 0x83:
        case 0x8A:
        case 0x8C:
        case 0x8E:
        case 0x9A:
        case 0x9C:
        case 0x9E:
        case 0x9F:
        case 0xAA:
        case 0xB5:
        case 0xBA: return true;
        default: return ch >= 0xC0 && ch != 0xD7 && ch != 0xF7;
    }
}

}  // namespace

bool grid_mask_printable(unsigned char ch) { return ch >= 0x20 && ch != 0x7F; }

bool grid_mask_char_accepts(char mask_char, unsigned char ch) {
    switch (mask_char) {
        case '0': return is_digit(ch);
        case '9': return is_digit(ch) || ch == ' ';
        case '#': return is_digit(ch) || ch == ' ' || ch == '+' || ch == '-';
        case 'L': return is_letter(ch);
        case '?': return is_letter(ch) || ch == ' ';
        case 'A': return is_letter(ch) || is_digit(ch);
        case 'a': return is_letter(ch) || is_digit(ch) || ch == ' ';
        case '&':
        case 'C': return grid_mask_printable(ch);
        default: return true;
    }
}

void GridMask::set_mask(std::string_view mask) {
    text_.assign(mask);
    mask_.clear();
    literals_.clear();
    on_ = !mask.empty();
    for (std::size_t i = 0; i < mask.size(); ++i) {
        char c = mask[i];
        bool literal = false;
        if (c == '\\') {
            if (++i == mask.size()) break;
            c = mask[i];
            literal = true;
        } else {
            literal = kGridMaskChars.find(c) == std::string_view::npos;
        }
        mask_ += literal ? kGridMaskNoEntry : c;
        literals_ += literal ? c : kGridMaskNoEntry;
    }
}

GridMaskTyping GridMask::type_char(std::size_t pos, unsigned char ch) const {
    GridMaskTyping t;
    t.position = pos;
    if (!on_ || !grid_mask_printable(ch)) {
        t.accepted = true;
        return t;
    }
    if (pos >= positions()) return t;
    while (t.position < positions() && is_literal(t.position)) t.literals += literals_[t.position++];
    t.accepted = t.position < positions() && grid_mask_char_accepts(mask_[t.position], ch);
    return t;
}

}  // namespace tv
