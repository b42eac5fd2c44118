// Builders for page-file records in tests.
#pragma once
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "tolbex/reports/page_export.h"
#include "tolbex/reports/page_items.h"

namespace tv::testing {

// One pixel of a page picture (0 bits are black); outside the picture is white.
inline bool is_black(const MonoImage& image, int x, int y) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return false;
    return (image.row(y)[x / 8] & (0x80 >> (x % 8))) == 0;
}
inline void set_black(MonoImage& image, int x, int y) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    image
        .bits[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.stride) + static_cast<std::size_t>(x / 8)] &=
        static_cast<std::uint8_t>(~(0x80 >> (x % 8)));
}

// A file under data/ beside the test source `source_file` (pass __FILE__). A compiler cache that
// shortens paths leaves __FILE__ relative to the build folder, an ancestor of the folder the test
// runs in: then the data folder is looked for from each ancestor.
inline std::string test_data_path(const char* source_file, const char* name) {
    namespace fs = std::filesystem;
    const fs::path data = fs::path(source_file).parent_path() / "data";
    fs::path base = data.is_absolute() ? fs::path("/") : fs::current_path();
    while (!fs::is_directory(base / data) && base != base.parent_path()) base = base.parent_path();
    return (base / data / name).string();
}

inline std::string words(std::initializer_list<std::int64_t> values) {
    std::string o;
    for (std::int64_t v : values) append_le32(o, static_cast<std::uint32_t>(v));
    return o;
}
inline std::string text_record(std::int32_t x, std::int32_t y, const std::string& text) {
    return make_page_record(PageRecordKind::Text, words({x, y, static_cast<std::int64_t>(text.size())}) + text, 0, 0,
                            0);
}
inline std::string hline_record(std::int32_t x1, std::int32_t x2, std::int32_t y) {
    return make_page_record(PageRecordKind::Polyline, words({2, x1, y, x2, y}), 0, 0, 0);
}
inline std::string label_record() { return make_page_record(PageRecordKind::Label, words({1, 3}) + "abc", 0, 0, 0); }

// emflist.dat with a recording start of 2024-01-02 03:04:05, `count` in its header, the
// (name, description) entries and `tail` after them.
inline std::string emf_list(const std::vector<std::pair<std::string, std::string>>& entries, unsigned count,
                            const std::string& tail = "") {
    std::string f(64, '\0');
    f[19] = 5, f[20] = 4, f[21] = 3, f[22] = 2, f[23] = 1, f[24] = 24;
    store_le16(reinterpret_cast<std::uint8_t*>(f.data() + 25), static_cast<std::uint16_t>(count));
    for (const auto& [name, desc] : entries) {
        append_le16(f, static_cast<std::uint16_t>(name.size()));
        f += name;
        append_le16(f, static_cast<std::uint16_t>(desc.size()));
        f += desc;
    }
    return f + tail;
}

// The bytes given as numbers.
inline std::string bytes_of(std::initializer_list<int> values) {
    std::string s;
    for (int b : values) s.push_back(static_cast<char>(b));
    return s;
}

inline std::string hex(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string o;
    for (unsigned char c : bytes) {
        if (!o.empty()) o += ' ';
        o += d[c >> 4];
        o += d[c & 15];
    }
    return o;
}

}  // namespace tv::testing
