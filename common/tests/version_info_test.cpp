#include "common/version_info.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unistd.h>

#include "common/files.h"

#include "testing/test_root.h"
#include "platform/fs.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void add32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void add(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// A block as the programs carry it: marker, payload length, language and code page, fixed
// part, pairs, end of list.
Bytes block(const std::string& pairs, std::uint32_t signature = 0xFEEF04BD) {
    Bytes payload = {0x09, 0x04, 0xE4, 0x04};
    add32(payload, signature);
    add32(payload, 0x00020003);  // file 2.3.4.5
    add32(payload, 0x00040005);
    add32(payload, 0x00070008);  // product 7.8
    add32(payload, 0x00000000);
    add(payload, pairs);
    Bytes b;
    add(b, tv::version_block_marker());
    add32(b, static_cast<std::uint32_t>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

const char kPairsText[] =
    "ProductVersion\0"
    "7.8\0"
    "CompanyName\0"
    "Torvane Medical\0";
const std::string kPairs(kPairsText, sizeof kPairsText);  // the closing NUL ends the list

class VersionInfoFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const Bytes& bytes) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    tv::platform::testing::TempRoot temp_{tv::platform::testing::TmpDir::Root};
    const std::string dir_ = temp_.path();
};

}  // namespace

TEST(VersionInfo, TheRunningProgramCarriesItsBlock) {
    tv::FileVersionInfo info;
    EXPECT_EQ(info.get_product_version(), tv::built_product_version());
    EXPECT_EQ(info.get_string("FileVersion"), tv::built_product_version());
    EXPECT_EQ(info.get_string("CompanyName"), "Torvane Medical");
    EXPECT_EQ(info.get_string("companyname"), "Torvane Medical");
    EXPECT_EQ(info.get_string("ProductName"), "Calvera");
    EXPECT_FALSE(info.get_string("LegalCopyright").empty());
    EXPECT_EQ(info.get_string("Comments"), "");
    EXPECT_TRUE(info.has_translation());
    EXPECT_EQ(info.translation(), "040904e4");
    EXPECT_EQ(info.language(), 0x0409);

    unsigned v[4] = {0, 0, 0, 0};
    std::sscanf(tv::built_product_version(), "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]);
    ASSERT_NE(info.fixed_info(), nullptr);
    EXPECT_EQ(info.fixed_info()->product_version_ms, v[0] << 16 | v[1]);
    EXPECT_EQ(info.fixed_info()->product_version_ls, v[2] << 16 | v[3]);
    EXPECT_EQ(info.fixed_info()->file_version_ms, v[0] << 16 | v[1]);

    // The program file holds the marker once: in the block, not in the code that looks for it.
    Bytes file;
    ASSERT_TRUE(tv::platform::read_whole_file(tv::get_module_path(), file));
    std::string marker = tv::version_block_marker();
    std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    auto first = text.find(marker);
    ASSERT_NE(first, std::string_view::npos);
    EXPECT_EQ(text.find(marker, first + 1), std::string_view::npos);
}

TEST_F(VersionInfoFileTest, LoadsABlockAndRefusesFilesWithout) {
    Bytes f = {0x7F, 'E', 'L', 'F', 0, 0};
    Bytes b = block(kPairs);
    f.insert(f.end(), b.begin(), b.end());
    f.insert(f.end(), 100, 0xCC);
    tv::FileVersionInfo info(write("good", f));
    EXPECT_EQ(info.get_product_version(), "7.8");
    EXPECT_EQ(info.get_string("CompanyName"), "Torvane Medical");
    ASSERT_NE(info.fixed_info(), nullptr);
    EXPECT_EQ(info.fixed_info()->file_version_ms, 0x00020003u);
    EXPECT_EQ(info.fixed_info()->file_version_ls, 0x00040005u);
    EXPECT_EQ(info.fixed_info()->product_version_ms, 0x00070008u);

    EXPECT_FALSE(info.load(write("plain", Bytes(5000, 0x41))));
    EXPECT_EQ(info.get_product_version(), "");
    EXPECT_EQ(info.fixed_info(), nullptr);
    EXPECT_FALSE(info.has_translation());
    EXPECT_FALSE(info.load(dir_ + "/missing"));
    EXPECT_FALSE(info.load(dir_));
    EXPECT_FALSE(info.load(""));

    // Larger than any program of ours: refused without being read.
    std::string huge = dir_ + "/huge";
    int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, (256ll << 20) + 1), 0);
    ::close(fd);
    EXPECT_FALSE(info.load(huge));
}

TEST(VersionInfo, DamagedBlocksFailCleanly) {
    tv::FileVersionInfo info("/nonexistent");
    const Bytes good = block(kPairs);
    ASSERT_TRUE(info.parse(good.data(), good.size()));
    // A list that simply ends at the payload's end needs no empty name.
    Bytes no_end = block(kPairs.substr(0, kPairs.size() - 1));
    EXPECT_TRUE(info.parse(no_end.data(), no_end.size()));

    // Every truncation of the block.
    for (std::size_t n = 0; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(info.parse(cut.data(), cut.size())) << n;
    }
    Bytes bad = good;
    bad[16] = bad[17] = bad[18] = bad[19] = 0xFF;  // length far beyond the file
    EXPECT_FALSE(info.parse(bad.data(), bad.size()));
    bad = good;
    bad[16] = 10;  // shorter than the fixed part
    bad[17] = bad[18] = bad[19] = 0;
    EXPECT_FALSE(info.parse(bad.data(), bad.size()));
    bad = block(kPairs, 0x12345678);
    EXPECT_FALSE(info.parse(bad.data(), bad.size()));
    bad =
        block(std::string("ProductVersion\0"
                          "7.8",
                          18));  // value without its NUL
    EXPECT_FALSE(info.parse(bad.data(), bad.size()));
    bad = block(std::string("ProductVersion", 14));  // name without its NUL
    EXPECT_FALSE(info.parse(bad.data(), bad.size()));
    bad = block(std::string("ProductVersion\0", 15));  // name without a value
    EXPECT_FALSE(info.parse(bad.data(), bad.size()));
    EXPECT_EQ(info.get_product_version(), "");
    EXPECT_EQ(info.fixed_info(), nullptr);
    EXPECT_FALSE(info.parse(nullptr, 0));

    // A damaged block before a sound one does not hide it.
    Bytes both = block(std::string("X", 1));
    both.insert(both.end(), good.begin(), good.end());
    ASSERT_TRUE(info.parse(both.data(), both.size()));
    EXPECT_EQ(info.get_product_version(), "7.8");
}
