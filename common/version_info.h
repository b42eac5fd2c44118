// The version strings of one of our program files, for the About box and window titles.
// Each program carries a version block: a marker, a 32-bit little-endian payload length, then
//   u16 language, u16 code page, u32 signature 0xFEEF04BD,
//   u32 file version (high, low), u32 product version (high, low),
//   NUL-terminated name/value pairs up to the payload's end or an empty name.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tv {

struct FixedFileInfo {
    std::uint32_t file_version_ms = 0;  // major << 16 | minor
    std::uint32_t file_version_ls = 0;  // patch << 16 | tweak
    std::uint32_t product_version_ms = 0;
    std::uint32_t product_version_ls = 0;
};

class FileVersionInfo {
public:
    // Loads the running program's own block.
    FileVersionInfo();
    explicit FileVersionInfo(const std::string& path);

    // Reads the block of `path`; false when the file cannot be read, is larger than 256 MB,
    // holds no block, or holds a damaged one.
    bool load(const std::string& path);

    // The value of `name` in the block's string table; empty when missing.
    std::string get_string(const std::string& name) const;
    std::string get_product_version() const { return get_string("ProductVersion"); }

    bool has_translation() const { return has_translation_; }
    // Language and code page as "%04x%04x", e.g. "040904e4".
    const std::string& translation() const { return translation_; }
    std::uint16_t language() const { return language_; }
    // Null when nothing is loaded.
    const FixedFileInfo* fixed_info() const { return loaded_ ? &fixed_ : nullptr; }

    // Parses a block from memory (the bytes of a whole file); used by load().
    bool parse(const std::uint8_t* data, std::size_t size);

private:
    void clear();

    bool loaded_ = false;
    bool has_translation_ = false;
    std::uint16_t language_ = 0;
    std::string translation_;
    FixedFileInfo fixed_;
    std::vector<std::pair<std::string, std::string>> strings_;
};

// The marker that opens a version block (built at run time, so that the reader's own code
// never holds a copy that a search could mistake for the block).
std::string version_block_marker();
// The product version this build embeds.
const char* built_product_version();

}  // namespace tv
