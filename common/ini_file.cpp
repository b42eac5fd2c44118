#include "common/ini_file.h"

#include <sys/stat.h>

#include <cerrno>

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

// A key or value written back must stay on one line.
std::string one_line(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

}  // namespace

std::string strip_ini_comment(std::string text) {
    const std::size_t semi = text.rfind(';');
    if (semi != std::string::npos) text.resize(semi);
    return text;
}

IniFile::~IniFile() {
    if (modified_) save();
}

void IniFile::set_path(const std::string& path) {
    if (!path.empty()) path_ = path;
}

bool IniFile::load(const std::string& path) {
    modified_ = false;
    path_ = path;
    sections_.clear();
    const auto text = tv::platform::read_whole_file(path);
    if (!text) return false;
    take_text(*text);
    path_ = path;
    return true;
}

void IniFile::take_text(std::string_view text) {
    modified_ = false;
    path_.clear();
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

void IniFile::set_value(std::string_view section, std::string_view key, std::string_view value) {
    int s = find_section(section);
    if (s < 0) {
        sections_.push_back(IniSection{std::string(section), {}, {}});
        s = static_cast<int>(sections_.size() - 1);
    }
    IniSection& sec = sections_[static_cast<std::size_t>(s)];
    const int k = find_key(s, key);
    if (k >= 0) {
        sec.values[static_cast<std::size_t>(k)] = std::string(value);
    } else {
        sec.keys.emplace_back(key);
        sec.values.emplace_back(value);
    }
    modified_ = true;
}

bool IniFile::save() {
    if (path_.empty()) return false;
    std::string existing;
    if (auto text = tv::platform::read_whole_file(path_)) {
        existing = std::move(*text);
    } else {
        struct stat st {};
        if (::stat(path_.c_str(), &st) == 0 || errno != ENOENT) return false;  // unreadable: keep it
    }

    std::string out;
    auto put = [&out](std::string_view line) {
        out.append(line);
        out.append("\r\n");
    };
    auto put_body = [&](const IniSection& s) {
        for (std::size_t i = 0; i < s.keys.size(); ++i) {
            if (s.keys[i].empty()) {
                put(one_line(s.values[i]));
            } else {
                std::string line = one_line(s.keys[i]);
                line += '=';
                line += one_line(s.values[i]);
                put(line);
            }
        }
    };

    std::vector<bool> written(sections_.size(), false);
    const std::vector<std::string_view> lines = split_lines(existing);
    std::size_t i = 0;
    // Everything before the first section stays as it is.
    for (; i < lines.size(); ++i) {
        std::string_view name;
        if (classify(lines[i], name) == LineKind::Header) break;
        put(lines[i]);
    }
    while (i < lines.size()) {
        std::string_view name;
        classify(lines[i], name);
        const std::string_view header = lines[i];
        std::size_t end = i + 1;
        std::string_view unused;
        while (end < lines.size() && classify(lines[end], unused) != LineKind::Header) ++end;
        const int held = find_section(name);
        if (held < 0) {
            for (std::size_t k = i; k < end; ++k) put(lines[k]);  // not ours: keep it
        } else if (!written[static_cast<std::size_t>(held)]) {
            written[static_cast<std::size_t>(held)] = true;
            put(header);
            put_body(sections_[static_cast<std::size_t>(held)]);
            // Keep the blank lines that separated this section from the next.
            std::size_t blanks = end;
            while (blanks > i + 1 && classify(lines[blanks - 1], unused) == LineKind::Blank) --blanks;
            for (std::size_t k = blanks; k < end; ++k) put(lines[k]);
        }
        // A repeated header of a held section was merged into the first when loading.
        i = end;
    }
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        if (written[s]) continue;
        std::string header(1, '[');
        header += one_line(sections_[s].name);
        header += ']';
        put(header);
        put_body(sections_[s]);
    }

    if (!tv::platform::atomic_write_file(path_, out)) return false;
    modified_ = false;
    return true;
}

}  // namespace tv
