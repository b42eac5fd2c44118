// Profile (INI) files: load with each option, look every section and key up again.
#include <cstdint>

#include "common/ini_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tv::fuzz::sub_folder("ini") + "PROFILE.INI";
    if (size == 0) return 0;
    tv::fuzz::put_file(path, data + 1, size - 1);
    tv::IniFile ini;
    ini.set_strip_comments(data[0] & 1);
    ini.set_trim_values(data[0] & 2);
    if (!ini.load(path)) return 0;
    for (const tv::IniSection& s : ini.sections()) {
        const int index = ini.find_section(s.name);
        if (index < 0) __builtin_trap();  // a section read must be found by its own name
        for (const std::string& k : s.keys) {
            (void)ini.find_key(index, k);
            (void)ini.get_value(s.name, k);
        }
    }
    return 0;
}
