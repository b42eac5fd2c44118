#include "platform/byte_order.h"

#include <gtest/gtest.h>

namespace tv::platform {
namespace {

TEST(ByteOrder, LittleEndianLoadsStoresAndAppendsAgree) {
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

    append_le64(s, 0x1122334455667788ull);
    append_le64(v, 0x1122334455667788ull);
    EXPECT_EQ(std::string(v.begin(), v.end()), s);
    EXPECT_EQ(load_le64(v.data() + 6), 0x1122334455667788ull);
}

}  // namespace
}  // namespace tv::platform
