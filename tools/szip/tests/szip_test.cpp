#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/process.h"
#include "tools/szip/szip_format.h"

namespace tv::szip {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Szip, Crc32KnownValues) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    EXPECT_EQ(crc32(nullptr, 0), 0u);
}

TEST(Szip, DeltaPlanesRoundTripAnyLength) {
    std::mt19937 gen(7);
    for (std::size_t n : {0u, 1u, 2u, 3u, 4097u}) {
        Bytes in(n);
        for (auto& b : in) b = static_cast<std::uint8_t>(gen());
        EXPECT_EQ(from_delta_planes(to_delta_planes(in.data(), n).data(), n), in) << n;
    }
    const Bytes words{0x10, 0x00, 0x12, 0x00, 0x0F, 0x00, 0x00, 0x90};  // 16, 18, 15, 0x9000
    // Differences 16, 2, -3, 0x8FF1 folded to 32, 4, 5, 0xE01D; low bytes, then high bytes.
    EXPECT_EQ(to_delta_planes(words.data(), words.size()), (Bytes{0x20, 0x04, 0x05, 0x1D, 0x00, 0x00, 0x00, 0xE0}));
}

TEST(Szip, PackedHeaderAndRoundTrip) {
    std::mt19937 gen(11);
    for (std::size_t n : {0u, 1u, 5u, 100000u}) {
        Bytes in(n);
        for (auto& b : in) b = static_cast<std::uint8_t>(gen() % 7);
        const Bytes p = pack(in);
        ASSERT_GE(p.size(), kHeaderSize);
        EXPECT_EQ(std::string(p.begin(), p.begin() + 4), "TVSZ");
        EXPECT_EQ(p[4], 2);
        EXPECT_EQ(p[5], 2);
        std::uint64_t size = 0;
        for (int i = 0; i < 8; ++i) size |= static_cast<std::uint64_t>(p[6 + static_cast<std::size_t>(i)]) << (8 * i);
        EXPECT_EQ(size, n);
        const std::uint32_t crc = p[14] | p[15] << 8 | p[16] << 16 | static_cast<std::uint32_t>(p[17]) << 24;
        EXPECT_EQ(crc, crc32(in.data(), in.size()));
        // The low plane's stream length, then two xz streams back to back.
        std::uint64_t low = 0;
        for (int i = 0; i < 8; ++i) low |= static_cast<std::uint64_t>(p[18 + static_cast<std::size_t>(i)]) << (8 * i);
        ASSERT_LE(26 + low + 6, p.size());
        const std::string xz_magic("\xFD" "7zXZ\0", 6);
        EXPECT_EQ(std::string(p.begin() + 26, p.begin() + 32), xz_magic);
        EXPECT_EQ(std::string(p.begin() + 26 + static_cast<long>(low), p.begin() + 32 + static_cast<long>(low)), xz_magic);
        EXPECT_EQ(pack(in), p);  // deterministic
        Bytes out;
        ASSERT_TRUE(unpack(p, out));
        EXPECT_EQ(out, in);
    }
}

TEST(Szip, BlockSizeFollowsThePlaneSizeOnly) {
    EXPECT_EQ(block_size_for(0), 1u << 20);
    EXPECT_EQ(block_size_for(5000000), 1u << 20);
    EXPECT_EQ(block_size_for(11059200), 1441792u);  // 24 hours at 128/s: eight blocks
    EXPECT_EQ(block_size_for(1ull << 40), 2u << 20);
}

TEST(Szip, LargeChannelFileRoundTrip) {
    // Several blocks per plane, an odd length, and high bytes that are not all zero.
    Bytes in(3 * (1u << 20) + 1);
    std::uint32_t s = 5;
    for (std::size_t i = 0; i + 1 < in.size(); i += 2) {
        s = s * 1664525u + 1013904223u;
        const auto w = static_cast<std::uint16_t>((i / 2) % 200 + (s >> 29) + (i % 100000 == 0 ? 0x1000 : 0));
        in[i] = static_cast<std::uint8_t>(w);
        in[i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    in.back() = 0xA5;
    const Bytes p = pack(in);
    ASSERT_FALSE(p.empty());
    EXPECT_LT(p.size(), in.size() / 4);
    Bytes out;
    ASSERT_TRUE(unpack(p, out));
    EXPECT_EQ(out, in);
}

TEST(Szip, CorruptStreamsAreRefused) {
    Bytes in(5000);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes good = pack(in);
    Bytes out;
    auto refused = [&](Bytes p) { return !unpack(p, out); };
    Bytes b = good;
    b[0] = 'X';
    EXPECT_TRUE(refused(b));
    b = good;
    b[4] = 1;  // the single-stream format of earlier builds
    EXPECT_TRUE(refused(b));
    b = good;
    b[5] = 1;
    EXPECT_TRUE(refused(b));
    for (const std::uint8_t low : {0x00, 0x01, 0xFF}) {  // streams split at the wrong place
        b = good;
        b[18] = low;
        EXPECT_TRUE(refused(b)) << int(low);
    }
    b = good;
    b[25] = 0x80;  // low stream longer than the body
    EXPECT_TRUE(refused(b));
    b = good;
    b[6] ^= 1;  // size
    EXPECT_TRUE(refused(b));
    b = good;
    b[14] ^= 1;  // CRC
    EXPECT_TRUE(refused(b));
    b = good;
    b[13] = 0x7F;  // absurd size: refused before any allocation
    EXPECT_TRUE(refused(b));
    EXPECT_TRUE(refused(Bytes(good.begin(), good.end() - 1)));
    b = good;
    b.push_back(0);
    EXPECT_TRUE(refused(b));
    EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + 10)));
    b = good;
    b[b.size() - 3] ^= 0x55;
    EXPECT_TRUE(refused(b));
}

class SzipProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/szip_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    int run(const std::vector<std::string>& args) {
        std::vector<std::string> argv{TV_SZIP_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        platform::ChildProcess child;
        if (!platform::spawn_process(argv, child)) return -100;
        return platform::wait_process(child);
    }
    std::string dir_;
};

TEST_F(SzipProgram, CommandLinesAndExitCodes) {
    const std::string in = dir_ + "/in file.dat", packed = dir_ + "/CEFTEMP.BIN", out = dir_ + "/out.dat";
    std::string data(70001, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 31) % 251);
    ASSERT_TRUE(platform::atomic_write_file(in, data));
    EXPECT_EQ(run({"-o4r2b41", in, packed}), 0);
    const auto first = platform::read_whole_file(packed);
    ASSERT_TRUE(first);
    EXPECT_EQ(run({"-o4r2b41", in, packed}), 0);  // replaces its output, same bytes
    EXPECT_EQ(platform::read_whole_file(packed), first);
    EXPECT_EQ(run({"-d", packed, out}), 0);
    EXPECT_EQ(platform::read_whole_file(out), data);

    EXPECT_EQ(run({}), kExitUsage);
    EXPECT_EQ(run({"-x", in, out}), kExitUsage);
    EXPECT_EQ(run({"-d", in}), kExitUsage);
    EXPECT_EQ(run({"-d", dir_ + "/missing", out}), kExitInput);
    EXPECT_EQ(run({"-d", in, out}), kExitCorrupt);  // not a packed stream
    EXPECT_EQ(run({"-o4r2b41", in, dir_ + "/no/such/dir/x"}), kExitOutput);
    // An empty file packs to a header-only stream and back.
    ASSERT_TRUE(platform::atomic_write_file(in, ""));
    EXPECT_EQ(run({"-o4r2b41", in, packed}), 0);
    EXPECT_EQ(run({"-d", packed, out}), 0);
    EXPECT_EQ(platform::read_whole_file(out), std::string());
}

}  // namespace
}  // namespace tv::szip
