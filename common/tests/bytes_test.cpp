#include "common/bytes.h"

#include <gtest/gtest.h>

#include "common/result.h"

namespace tv {
namespace {

TEST(Bytes, LittleEndianLoadsStoresAndAppendsAgree) {
    std::uint8_t b[8] = {};
    store_le16(b, 0xBEEF);
    store_le32(b + 2, 0x01020304u);
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(b[2], 0x04);
    EXPECT_EQ(b[5], 0x01);
    EXPECT_EQ(load_le16(b), 0xBEEF);
    EXPECT_EQ(load_le32(b + 2), 0x01020304u);
    store_le64(b, 0x1122334455667788ull);
    EXPECT_EQ(load_le64(b), 0x1122334455667788ull);

    std::string s;
    append_le16(s, 0xBEEF);
    append_le32(s, 0x01020304u);
    std::vector<std::uint8_t> v;
    append_le16(v, 0xBEEF);
    append_le32(v, 0x01020304u);
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(std::string(v.begin(), v.end()), s);
    // A span too short at the offset reads as zero instead of past its end.
    const std::span<const std::uint8_t> span(v);
    EXPECT_EQ(load_le32(span, 2), 0x01020304u);
    EXPECT_EQ(load_le32(span, 3), 0u);
    EXPECT_EQ(load_le16(span, 6), 0u);
    EXPECT_EQ(load_le16(span, 100), 0u);
}

TEST(Bytes, Crc32MatchesTheCheckValueAndRunsInPieces) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32(check.data(), check.size()), 0xCBF43926u);
    std::uint32_t reg = kCrc32Start;
    for (char c : check) reg = crc32_update(reg, static_cast<std::uint8_t>(c));
    EXPECT_EQ(~reg, 0xCBF43926u);
    reg = crc32_update(kCrc32Start, check.data(), 4);
    reg = crc32_update(reg, check.data() + 4, 5);
    EXPECT_EQ(~reg, 0xCBF43926u);
    EXPECT_EQ(crc32("", 0), 0u);
}

TEST(Result, HoldsAValueOrAnError) {
    Result<int> good = 5;
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, 5);
    Result<int> bad = fail(108, "The mapping is too small.");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().code, 108);
    EXPECT_EQ(bad.error().message, "The mapping is too small.");
    Result<> done;
    EXPECT_TRUE(done.ok());
    Result<> refused = fail(3);
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, 3);
}

}  // namespace
}  // namespace tv
