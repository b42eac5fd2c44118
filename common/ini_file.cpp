#include "common/ini_file.h"

#include "platform/fs.h"
#include "common/text.h"

namespace tv {

namespace {

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view trim_left(std::string_view s) {
    while (!s.empty() && is_blank_char(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view trim_right(std::string_view s) {
    while (!s.empty() && is_blank_char(s.back())) s.remove_suffix(1);
    return s;
}

bool iequal(std::string_view a, std::string_view b) { return tv::platform::iequals(a, b); }

enum class LineKind { Blank, Comment, Header, Entry };

// Classifies a line; for a header, `name` receives the name with the blanks around it removed.
LineKind classify(std::string_view line, std::string_view& name) {
    const std::string_view content = trim_left(line);
    if (content.empty()) return LineKind::Blank;
    if (content.front() == ';') return LineKind::Comment;
    if (content.front() == '[') {
        const std::size_t close = content.find(']');
        if (close != std::string_view::npos) {
            name = trim_right(trim_left(content.substr(1, close - 1)));
            return LineKind::Header;
        }
    }
    return LineKind::Entry;
}

}  // namespace

std::string strip_ini_comment(std::string text) {
    const std::size_t semi = text.rfind(';');
    if (semi != std::string::npos) text.resize(semi);
    return text;
}

bool IniFile::load(const std::string& path) {
    sections_.clear();
    const auto text = tv::platform::read_whole_file(path);
    if (!text) return false;
    take_text(*text);
    return true;
}

void IniFile::take_text(std::string_view text) {
    sections_.clear();
    IniSection* current = nullptr;
    for (std::string_view line : split_lines(text)) {
        std::string_view name;
        switch (classify(line, name)) {
            case LineKind::Blank:
            case LineKind::Comment: break;
            case LineKind::Header: {
                // A repeated header continues the section it names.
                const int index = find_section(name);
                if (index >= 0) {
                    current = &sections_[static_cast<std::size_t>(index)];
                } else {
                    sections_.push_back(IniSection{std::string(name), {}, {}});
                    current = &sections_.back();
                }
                break;
            }
            case LineKind::Entry: {
                if (!current) break;  // lines before the first section belong to no section
                const std::string_view content = trim_left(line);
                const std::size_t eq = content.find('=');
                std::string key;
                std::string value;
                if (eq == std::string_view::npos) {
                    value = std::string(content);
                } else {
                    key = std::string(content.substr(0, eq));
                    value = std::string(content.substr(eq + 1));
                }
                if (strip_comments_) value = strip_ini_comment(std::move(value));
                if (trim_values_) value = std::string(trim_left(trim_right(value)));
                current->keys.push_back(std::move(key));
                current->values.push_back(std::move(value));
                break;
            }
        }
    }
}

int IniFile::find_section(std::string_view name) const {
    for (std::size_t i = 0; i < sections_.size(); ++i)
        if (iequal(sections_[i].name, name)) return static_cast<int>(i);
    return -1;
}

int IniFile::find_key(int section, std::string_view key) const {
    if (section < 0 || static_cast<std::size_t>(section) >= sections_.size()) return -1;
    const IniSection& s = sections_[static_cast<std::size_t>(section)];
    for (std::size_t i = 0; i < s.keys.size(); ++i)
        if (iequal(s.keys[i], key)) return static_cast<int>(i);
    return -1;
}

std::string IniFile::get_value(std::string_view section, std::string_view key) const {
    const int s = find_section(section);
    const int k = find_key(s, key);
    if (k < 0) return {};
    return sections_[static_cast<std::size_t>(s)].values[static_cast<std::size_t>(k)];
}

}  // namespace tv
