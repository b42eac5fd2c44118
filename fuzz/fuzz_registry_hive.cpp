// Registry hives: the text parser; what parses must format and parse back to the same keys.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<tv::platform::HiveKey> keys;
    if (!tv::platform::parse_hive(text, keys)) return 0;
    // The empty root key is implied and not written; it holds nothing to lose.
    std::erase_if(keys, [](const tv::platform::HiveKey& k) { return k.path.empty() && k.values.empty(); });
    const std::string again = tv::platform::format_hive(keys);
    std::vector<tv::platform::HiveKey> keys2;
    if (!tv::platform::parse_hive(again, keys2)) __builtin_trap();
    std::erase_if(keys2, [](const tv::platform::HiveKey& k) { return k.path.empty() && k.values.empty(); });
    if (keys2.size() != keys.size()) __builtin_trap();
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (keys[i].path != keys2[i].path || keys[i].values != keys2[i].values) __builtin_trap();
    return 0;
}
