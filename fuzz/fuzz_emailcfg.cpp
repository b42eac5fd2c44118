// EMAILCFG.TXT, the mail options: parsed, and what parses composes into the note's text.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/mail/mail_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (auto options = tv::parse_mail_options(text)) {
        for (auto& g : options->groups)
            for (std::size_t i = 0; i < g.checked.size(); ++i) g.checked[i] = !g.checked[i];
        (void)tv::compose_mail_options_text(*options);
    }
    return 0;
}
