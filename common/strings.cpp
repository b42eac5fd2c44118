#include "common/strings.h"

#include <atomic>
#include <cstdarg>
#include <map>
#include <mutex>

#include "common/text.h"

namespace tv {

namespace {

struct Tables {
    std::mutex mutex;
    std::map<int, std::map<unsigned, const char*>> by_language;
};

Tables& tables() {
    static Tables t;
    return t;
}

std::atomic<int> g_language{kDefaultUiLanguage};

}  // namespace

void register_string_table(int primary_language, const StringEntry* entries, std::size_t count) {
    if (!entries) return;
    Tables& t = tables();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto& table = t.by_language[primary_language & 0x3FF];
    for (std::size_t i = 0; i < count; ++i) table[entries[i].id] = entries[i].text ? entries[i].text : "";
}

void set_ui_language(int langid) { g_language.store(langid); }

int get_ui_language() { return g_language.load(); }

std::string load_resource_string(unsigned id) {
    const int primary = get_ui_language() & 0x3FF;
    Tables& t = tables();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (int language : {primary, kPrimaryLanguageEnglish}) {
        const auto table = t.by_language.find(language);
        if (table == t.by_language.end()) continue;
        const auto entry = table->second.find(id);
        if (entry != table->second.end()) return entry->second;
    }
    return {};
}

std::string format_resource_string(unsigned id, ...) {
    const std::string format = load_resource_string(id);
    std::va_list args;
    va_start(args, id);
    std::string s = vformat_string(format.c_str(), args);
    va_end(args);
    return s;
}

}  // namespace tv
