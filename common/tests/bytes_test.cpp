#include "common/bytes.h"

#include <string>

#include <gtest/gtest.h>

#include "common/result.h"

namespace tv {
namespace {

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
