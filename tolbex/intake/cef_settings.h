// The compressed ECG file's settings in the profile ("Settings"), which the intakes, their dialogs
// and the tape intake share: the bit reduction of a file kept and of one mailed, whether a
// recording stored in an archive is compressed, and the folder a CEF is saved into.
#pragma once
#include <string>

namespace tv {

// Compression sliders run 0 (Smallest) .. 3 (Largest) over bit reductions 4, 3, 2, 0; a stored
// level of 1 has no position of its own and shows at 2.
constexpr int cef_slider_for_bitred(int bitred) { return bitred <= 0 ? 3 : bitred <= 2 ? 2 : bitred == 3 ? 1 : 0; }
constexpr int cef_bitred_for_slider(int position) {
    return position <= 0 ? 4 : position == 1 ? 3 : position == 2 ? 2 : 0;
}

// "CEF BitRed", or "CEF BitRed Mail" for a mailed file: 4 when missing or outside 0..4.
int get_cef_bitred(bool mail);
// False when the profile cannot be written.
bool set_cef_bitred(bool mail, int value);
// "CEF Want Comp": false when missing.
bool get_cef_want_comp();
// False when the profile cannot be written.
bool set_cef_want_comp(bool value);
// "CEF Store" (the Options' default folder for CEF files): empty when missing.
std::string get_cef_store_folder();

}  // namespace tv
