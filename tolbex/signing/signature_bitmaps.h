// Signature bitmaps: a picture of each signer's handwritten signature, packed with every report
// they sign as "signature.bmp". The pictures lie in one machine-wide folder (<machine_dir>/bmp,
// shared by all users as the program folder would be) beside the list file "signatures.dat":
// one CR LF line per account, sorted by logon name, written as "\"%s\" %s" (quoted logon name,
// one space, the bitmap's file name without folder). Only plain BMP files are used, and only
// those a whole number of 32-pixel words wide.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "common/ui.h"

namespace tv::signing {

inline constexpr const char* kSignatureListName = "signatures.dat";
inline constexpr const char* kBitmapWidthText =
    "The bitmap file %s must be a multiple of 32 pixels wide.\nThe signature bitmap cannot be added to the signed "
    "report.";
inline constexpr const char* kBitmapOpenFailedText = "Could not open signature bitmap file : %s";
inline constexpr const char* kBitmapListNotSavedText =
    "The list of signature bitmaps could not be saved : %s\nThe change has not been kept.";

// <machine_dir>/bmp, and a file in it (only the last path component of `file_name` counts).
std::string signature_bitmap_folder();
std::string signature_bitmap_path(const std::string& file_name);

struct SignatureBitmapEntry {
    std::string logon_name, file_name;
    bool operator==(const SignatureBitmapEntry&) const = default;
};
// The list file's lines in file order; empty when it cannot be read. A line's logon name runs
// from after its leading quotes to the next quote, its file name from two characters after that;
// a line without that quote is left out.
std::vector<SignatureBitmapEntry> read_signature_list();
// The list file's bytes for these entries, in the order given.
std::string format_signature_list(const std::vector<SignatureBitmapEntry>& entries);
// Rewrites the list file (whole or not at all); an Error with kBitmapListNotSavedText on failure.
Result<void> write_signature_list(const std::vector<SignatureBitmapEntry>& entries);
// The bitmap path of the first entry whose logon name is exactly `logon_name`; empty when none.
std::string find_signature_bitmap(const std::string& logon_name);

// The size of a plain BMP (a Windows bitmap header, 1 to 32 bits, its pixels all in the file);
// nullopt for anything else.
struct BmpSize {
    std::int32_t width = 0, height = 0;
};
std::optional<BmpSize> read_bmp_size(std::string_view bytes);
// The file exists and is a plain BMP.
bool signature_bitmap_readable(const std::string& path);
// readable, and a multiple of 32 pixels wide; a bitmap of another width shows kBitmapWidthText.
bool is_signature_bitmap_usable(const std::string& path, Ui& ui);

// Copies `source` into the bitmap folder (made when missing) under its own file name, or under a
// new unique name when another account's entry already uses that name for different bytes (so
// nobody prints another's signature). Returns the file name stored; kBitmapOpenFailedText when
// the source cannot be read, a file error when the copy fails.
Result<std::string> store_signature_bitmap(const std::string& source, const std::string& logon_name,
                                           const std::vector<SignatureBitmapEntry>& entries);

}  // namespace tv::signing
