#include "platform/system.h"

#include <gtest/gtest.h>

#include "testing/test_root.h"

namespace tv::platform {
namespace {

TEST(System, RealAnswersHaveTheirForms) {
    RealSystem s;
    EXPECT_GT(s.now(), 1600000000);
    EXPECT_FALSE(s.user_name().empty());
    EXPECT_FALSE(s.host_name().empty());
    std::string ip = s.ipv4_address();
    if (!ip.empty()) {
        EXPECT_TRUE(testing::full_match(ip, "[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}")) << ip;
    }
    s.sleep_ms(0);
    s.sleep_ms(-5);
    s.sleep_ms(1);
}

TEST(System, ReplaceableForTests) {
    struct Pinned : RealSystem {
        std::int64_t now() override { return 1196690709; }
        std::string user_name() override { return "u"; }
    } pinned;
    set_system(&pinned);
    EXPECT_EQ(system().now(), 1196690709);
    EXPECT_EQ(system().user_name(), "u");
    EXPECT_FALSE(system().host_name().empty());
    set_system(nullptr);
    EXPECT_NE(system().now(), 1196690709);
}

}  // namespace
}  // namespace tv::platform
