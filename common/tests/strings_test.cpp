#include "common/strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// Ids far from the ones the programs use, so these tables never shadow real texts.
constexpr unsigned kHello = 990001, kCount = 990002, kEnglishOnly = 990003, kMissing = 990099;

const tv::StringEntry kEnglish[] = {
    {kHello, "Hello"},
    {kCount, "%d reports in %s"},
    {kEnglishOnly, "Only English"},
};
const tv::StringEntry kGerman[] = {
    {kHello, "Hallo"},
    {kCount, "%d Berichte in %s"},
};

class Strings : public ::testing::Test {
protected:
    void SetUp() override {
        tv::register_string_table(0x09, kEnglish, std::size(kEnglish));
        tv::register_string_table(0x07, kGerman, std::size(kGerman));
    }
    void TearDown() override { tv::set_ui_language(tv::kDefaultUiLanguage); }
};

}  // namespace

TEST_F(Strings, EnglishByDefaultAndFallback) {
    EXPECT_EQ(tv::get_ui_language(), 0x0409);
    EXPECT_EQ(tv::load_resource_string(kHello), "Hello");
    EXPECT_EQ(tv::load_resource_string(kMissing), "");

    tv::set_ui_language(0x0407);  // German (Germany)
    EXPECT_EQ(tv::load_resource_string(kHello), "Hallo");
    EXPECT_EQ(tv::load_resource_string(kEnglishOnly), "Only English");
    tv::set_ui_language(0x0807);  // German (Switzerland): same table
    EXPECT_EQ(tv::load_resource_string(kHello), "Hallo");
    tv::set_ui_language(0x040C);  // French: no table
    EXPECT_EQ(tv::load_resource_string(kHello), "Hello");
    EXPECT_EQ(tv::load_resource_string(kMissing), "");
}

TEST_F(Strings, FormatsIntoTheLoadedText) {
    EXPECT_EQ(tv::format_resource_string(kCount, 3, "STD"), "3 reports in STD");
    tv::set_ui_language(0x0407);
    EXPECT_EQ(tv::format_resource_string(kCount, 12, "ARCH"), "12 Berichte in ARCH");
    EXPECT_EQ(tv::format_resource_string(kMissing, 1), "");
    const std::string big(3000, 'b');
    EXPECT_EQ(tv::format_resource_string(kCount, 1, big.c_str()).size(), 2047u);
}

TEST_F(Strings, LaterRegistrationOverrides) {
    const tv::StringEntry patch[] = {{kEnglishOnly, "Patched"}};
    tv::register_string_table(0x0409, patch, 1);  // a full LANGID counts by its primary language
    EXPECT_EQ(tv::load_resource_string(kEnglishOnly), "Patched");
    tv::register_string_table(0x09, kEnglish, std::size(kEnglish));
    EXPECT_EQ(tv::load_resource_string(kEnglishOnly), "Only English");
}

TEST_F(Strings, ConcurrentRegistrationAndLookup) {
    std::atomic<bool> wrong{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 500; ++i) {
                if (t % 2 == 0) {
                    tv::register_string_table(0x10 + t, kGerman, std::size(kGerman));
                } else if (tv::load_resource_string(kHello) != "Hello") {
                    wrong = true;
                }
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_FALSE(wrong);
}
