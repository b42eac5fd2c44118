// String tables: user-interface texts by id, one table per primary language. Only English
// tables ship; a language without a table, or an id missing from it, falls back to English.
#pragma once
#include <cstddef>
#include <string>

namespace tv {

struct StringEntry {
    unsigned id;
    const char* text;  // Windows-1252; must outlive the program (string literals)
};

constexpr int kPrimaryLanguageEnglish = 0x09;
constexpr int kDefaultUiLanguage = 0x0409;

// Adds the entries to the table of `primary_language` (LANGID & 0x3FF); an id already there is
// replaced. Thread-safe.
void register_string_table(int primary_language, const StringEntry* entries, std::size_t count);

// The language of the user interface as a LANGID: (sub language << 10) | primary language.
void set_ui_language(int langid);
int get_ui_language();  // 0x0409 until set

// The text of `id` in the current language, else in English, else empty.
std::string load_resource_string(unsigned id);
// printf-style formatting into the loaded text, cut at 2047 characters as format_string is.
std::string format_resource_string(unsigned id, ...);

}  // namespace tv
