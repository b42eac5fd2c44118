// The drive map: one <letter>.drive entry (the first byte picks the letter), then the lookups
// that read every entry.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "platform/drives.h"
#include "platform/paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    if (size == 0) return 0;
    static const std::string folder = [] {
        const std::string d = tv::platform::drives_dir();
        ::mkdir(d.c_str(), 0700);
        tv::fuzz::put_file(d + "/Z.drive", "folder=/\r\nlabel=ROOT\r\nkind=fixed\r\n");
        return d + "/";
    }();
    const char letter = static_cast<char>('A' + data[0] % 26);
    const std::string entry = folder + letter + ".drive";
    tv::fuzz::put_file(entry, data + 1, size - 1);
    (void)tv::platform::mapped_drives();
    (void)tv::platform::mapped_drive(letter);
    (void)tv::platform::mapped_drive_of(folder);
    (void)tv::platform::expand_drive_path(std::string(1, letter) + ":/x");
    (void)tv::platform::volume_of(std::string(1, letter) + ":");
    if (letter != 'Z') ::unlink(entry.c_str());
    return 0;
}
