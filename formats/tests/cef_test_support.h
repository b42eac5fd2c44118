// Shared set-up for the compressed-ECG-file tests: a private machine root, the compressor where
// the program search finds it, and a CEF builder that does not use the library's writer.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/files.h"
#include "common/registry.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "formats/cef.h"
#include "testing/app_test_root.h"

namespace tv::cef_test {

using Bytes = std::vector<std::uint8_t>;

inline std::string real_szip() {
#ifdef TV_SZIP_PROGRAM
    return TV_SZIP_PROGRAM;
#else
    return get_module_folder() + "/../tools/szip/szip";
#endif
}

inline Bytes to_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The byte permutation, derived here on its own from the seeded shuffle.
inline std::vector<std::uint8_t> permutation() {
    std::vector<std::uint8_t> p(256);
    for (int i = 0; i < 256; ++i) p[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::uint32_t state = 61937;
    for (int i = 0; i < 256; ++i) {
        state = state * 214013u + 2531011u;
        const unsigned r = (state >> 16) & 0x7FFF;
        std::swap(p[static_cast<std::size_t>(i)], p[r & 255]);
    }
    return p;
}
inline Bytes scrambled(const std::string& text) {
    const auto p = permutation();
    Bytes out;
    for (unsigned char c : text) out.push_back(p[c]);
    return out;
}

inline std::uint32_t xor_words(const Bytes& b, std::size_t from) {
    std::uint32_t sum = 0;
    for (std::size_t i = from; i < b.size(); i += 4) {
        std::uint32_t w = 0;
        for (std::size_t k = 0; k < 4 && i + k < b.size(); ++k) w |= static_cast<std::uint32_t>(b[i + k]) << (8 * k);
        sum ^= w;
    }
    return sum;
}

// A CEF put together byte by byte.
struct CefBuilder {
    Bytes b;
    explicit CefBuilder(std::int32_t kind = 11, std::int32_t channels = 1, std::int32_t start = 4769280,
                        const std::string& description = "Test recording", std::uint32_t version = 1) {
        append_le32(b, 0);
        append_le32(b, 108);
        append_le32(b, version);
        const char sig[16] = "Compressed ECG";
        b.insert(b.end(), sig, sig + 16);
        Bytes desc(64, 0);
        std::copy(description.begin(), description.end(), desc.begin());
        b.insert(b.end(), desc.begin(), desc.end());
        append_le32(b, 1234567890);
        append_le32(b, static_cast<std::uint32_t>(kind));
        append_le32(b, static_cast<std::uint32_t>(channels));
        append_le32(b, static_cast<std::uint32_t>(start));
    }
    CefBuilder& block(const Bytes& data) {
        append_le32(b, static_cast<std::uint32_t>(data.size()));
        b.insert(b.end(), data.begin(), data.end());
        return *this;
    }
    CefBuilder& member(const Bytes& data, std::uint32_t kind = 0) {
        append_le32(b, static_cast<std::uint32_t>(data.size()));
        append_le32(b, data.empty() && kind == 0 ? 0 : kind);
        b.insert(b.end(), data.begin(), data.end());
        return *this;
    }
    CefBuilder& trailer(std::int32_t scale, std::int32_t value, std::int32_t bits, std::uint32_t extra = 0) {
        append_le32(b, static_cast<std::uint32_t>(scale));
        append_le32(b, static_cast<std::uint32_t>(value));
        append_le32(b, static_cast<std::uint32_t>(bits));
        append_le32(b, extra);
        b.insert(b.end(), extra, 0xEE);
        return *this;
    }
    CefBuilder& extra(const std::string& name, const Bytes& data, std::uint32_t kind = 0) {
        append_le32(b, static_cast<std::uint32_t>(name.size() + 1));
        b.insert(b.end(), name.begin(), name.end());
        b.push_back(0);
        return member(data, kind);
    }
    Bytes finish() {
        Bytes out = b;
        const std::uint32_t sum = xor_words(out, 4);
        for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(sum >> (8 * i));
        return out;
    }
};

inline bool write_bytes(const std::string& path, const Bytes& b) {
    return platform::atomic_write_file(path, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}
inline Bytes read_bytes(const std::string& path) {
    Bytes b;
    tv::platform::read_whole_file(path, b);
    return b;
}
inline Bytes words_to_bytes(const std::vector<std::uint16_t>& w) {
    Bytes b;
    for (auto x : w) append_le16(b, x);
    return b;
}

// The shared root fixture with TMPDIR inside the root, and an output folder beside it.
class CefTest : public testing_root::RootTest {
protected:
    CefTest() : RootTest(TmpDir::Inside) {}
    void SetUp() override {
        ASSERT_EQ(::mkdir(out_.c_str(), 0700), 0);
        RootTest::SetUp();
    }
    // Points the compressor search at `program`.
    void use_szip(const std::string& program) {
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", program));
    }
    void use_real_szip() {
        ASSERT_TRUE(file_exists(real_szip())) << real_szip();
        use_szip(real_szip());
    }
    // A shell script standing in for the compressor.
    std::string fake_szip(const std::string& body) {
        const std::string path = root_ + "/fake_szip";
        EXPECT_TRUE(platform::atomic_write_file(path, "#!/bin/sh\n" + body + "\n"));
        ::chmod(path.c_str(), 0755);
        use_szip(path);
        return path;
    }
    std::string path(const std::string& name) const { return root_ + "/" + name; }
    // The compressor question put to the scripted prompter, as the programs put it to theirs.
    static bool ask_ui(const std::string& text) {
        return ui().message_box(text, {}, MsgIcon::Error, MsgButtons::RetryCancel) == MsgResult::Retry;
    }
    // Files in the temporary folder after a run (the private scratch folders must be gone).
    int temp_entries() const {
        int n = 0;
        for (FileFinder f(tmp_ + "/*", kFindAny); !f.at_end(); f.next()) ++n;
        return n;
    }

    const std::string root_ = root.path(), tmp_ = root.tmp(), out_ = root_ + "/out";
    ScriptedUi& ui_ = scripted;
};

}  // namespace tv::cef_test
