// Signature bitmaps and their list in the machine's bitmap folder: the list read and searched,
// a bitmap judged readable and usable.
#include <sys/stat.h>

#include <cstdint>

#include "common/ui.h"
#include "fuzz/fuzz_support.h"
#include "tolbex/signing/signature_bitmaps.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    static const std::string folder = [] {
        const std::string f = tv::signing::signature_bitmap_folder();
        ::mkdir(f.c_str(), 0700);
        return f + "/";
    }();
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        tv::fuzz::put_file(folder + tv::signing::kSignatureListName, bytes);
        for (const auto& e : tv::signing::read_signature_list()) (void)tv::signing::signature_bitmap_path(e.file_name);
        (void)tv::signing::find_signature_bitmap("operator");
        return 0;
    }
    const std::string path = folder + "sig.bmp";
    tv::fuzz::put_file(path, bytes);
    (void)tv::signing::read_bmp_size(bytes);
    if (tv::signing::signature_bitmap_readable(path)) (void)tv::signing::is_signature_bitmap_usable(path, tv::ui());
    return 0;
}
