// In-memory copy of a profile (INI) file: bracketed sections of key=value lines, kept in file
// order, queried without regard to ASCII case.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tv {

struct IniSection {
    std::string name;
    std::vector<std::string> keys;  // key i belongs to value i; duplicates kept
    std::vector<std::string> values;
};

class IniFile {
public:
    IniFile() = default;
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    void set_strip_comments(bool on) { strip_comments_ = on; }
    void set_trim_values(bool on) { trim_values_ = on; }

    // Reads the whole file. False when it cannot be read (no sections are held then).
    // Lines with no '=' have an empty key and the whole line as value; keys are not trimmed.
    bool load(const std::string& path);
    // Holds `text` as load holds a file's content (for a file read with a bound of its own).
    void take_text(std::string_view text);

    int find_section(std::string_view name) const;                                // -1 when missing
    int find_key(int section, std::string_view key) const;                        // -1 when missing
    std::string get_value(std::string_view section, std::string_view key) const;  // "" when missing

    const std::vector<IniSection>& sections() const { return sections_; }

private:
    bool strip_comments_ = false;
    bool trim_values_ = false;
    std::vector<IniSection> sections_;
};

// Cuts `text` at its last ';' (the ';' goes too); unchanged when there is none.
std::string strip_ini_comment(std::string text);

}  // namespace tv
