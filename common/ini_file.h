// In-memory copy of a profile (INI) file: bracketed sections of key=value lines, kept in file
// order, queried without regard to ASCII case; written back atomically.
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
    ~IniFile();  // saves when modified
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    void set_strip_comments(bool on) { strip_comments_ = on; }
    void set_trim_values(bool on) { trim_values_ = on; }
    void set_path(const std::string& path);  // ignored when empty
    const std::string& path() const { return path_; }

    // Reads the whole file. False when it cannot be read (no sections are held then).
    // Lines with no '=' have an empty key and the whole line as value; keys are not trimmed.
    bool load(const std::string& path);
    // Holds `text` as load holds a file's content (for a file read with a bound of its own); no
    // path is set, so nothing is saved unless set_path gives one.
    void take_text(std::string_view text);

    int find_section(std::string_view name) const;                                // -1 when missing
    int find_key(int section, std::string_view key) const;                        // -1 when missing
    std::string get_value(std::string_view section, std::string_view key) const;  // "" when missing

    // Sets the first matching key (added when missing, with the section) and marks modified.
    void set_value(std::string_view section, std::string_view key, std::string_view value);

    // Rewrites the file: lines before the first section and sections not held are kept, each
    // held section's lines are replaced, new sections are appended. CR LF line ends.
    bool save();

    bool modified() const { return modified_; }
    const std::vector<IniSection>& sections() const { return sections_; }

private:
    bool strip_comments_ = false;
    bool trim_values_ = false;
    bool modified_ = false;
    std::string path_;
    std::vector<IniSection> sections_;
};

// Cuts `text` at its last ';' (the ';' goes too); unchanged when there is none.
std::string strip_ini_comment(std::string text);

}  // namespace tv
