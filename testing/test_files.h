// Files and lines as tests write and compare them, without the program's own readers.
#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tv::testing {

// The whole file; "" when it cannot be read.
inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Replaces the file with `bytes`, making the folders on its path.
inline void write_file(const std::filesystem::path& p, const std::string& bytes) {
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Lines without their ends (CR LF or LF); a last piece without one is a line too.
inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            if (!cur.empty() && cur.back() == '\r') cur.pop_back();
            lines.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

inline std::string join_lines(const std::vector<std::string>& lines, const char* eol = "\r\n") {
    std::string text;
    for (const auto& l : lines) text += l + eol;
    return text;
}

// LF line ends made CR LF.
inline std::string crlf(const std::string& lf_text) {
    std::string out;
    for (char c : lf_text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace tv::testing
