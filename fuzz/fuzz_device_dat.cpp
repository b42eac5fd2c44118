// DEVICE.DAT: the archive configuration list, read and formatted again.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/archive/archive_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tv::fuzz::sub_folder("config") + tv::kArchiveConfigFileName;
    tv::fuzz::put_file(path, data, size);
    tv::ArchiveConfigList list;
    const bool whole = list.load(path);
    const std::string text = list.format();
    for (std::int32_t i = 0; i < list.get_count(); ++i) (void)list.contains(list.get_path(i));
    if (whole) {
        // What the list writes, it must read back to the same list.
        tv::fuzz::put_file(path, text);
        tv::ArchiveConfigList again;
        if (!again.load(path) || again.format() != text) __builtin_trap();
    }
    return 0;
}
