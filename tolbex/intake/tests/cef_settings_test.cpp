// The compressed ECG settings under the names and values earlier runs stored.
#include "tolbex/intake/cef_settings.h"

#include <gtest/gtest.h>

#include "common/profile.h"
#include "platform/registry.h"
#include "testing/app_test_root.h"

namespace tv {
namespace {

using platform::RegValue;
using testing_root::stored_profile_value;
using CefSettingsTest = testing_root::RootTest;

TEST_F(CefSettingsTest, ReadWithTheirDefaultsAndRanges) {
    EXPECT_EQ(get_cef_bitred(false), 4);
    for (auto [stored, read] : {std::pair{7, 4}, {-1, 4}, {0, 0}, {3, 3}}) {
        ASSERT_TRUE(set_cef_bitred(false, stored));
        EXPECT_EQ(get_cef_bitred(false), read) << stored;
        EXPECT_EQ(get_profile_int("Settings", "CEF BitRed", -9), stored);
    }
    EXPECT_EQ(get_cef_bitred(true), 4);  // its own entry
    ASSERT_TRUE(set_cef_bitred(true, 2));
    EXPECT_EQ(RegValue::from_dword(2), stored_profile_value("Settings", "CEF BitRed Mail"));
    for (auto [bitred, slider] : {std::pair{0, 3}, {1, 2}, {2, 2}, {3, 1}, {4, 0}})
        EXPECT_EQ(cef_slider_for_bitred(bitred), slider) << bitred;
    for (auto [slider, bitred] : {std::pair{0, 4}, {1, 3}, {2, 2}, {3, 0}})
        EXPECT_EQ(cef_bitred_for_slider(slider), bitred) << slider;
    EXPECT_FALSE(get_cef_want_comp());
    ASSERT_TRUE(set_cef_want_comp(true));
    EXPECT_TRUE(get_cef_want_comp());
    EXPECT_EQ(RegValue::from_dword(1), stored_profile_value("Settings", "CEF Want Comp"));
    EXPECT_EQ(get_cef_store_folder(), "");
    ASSERT_TRUE(write_profile_string("Settings", "CEF Store", "/srv/cef"));
    EXPECT_EQ(get_cef_store_folder(), "/srv/cef");
}

}  // namespace
}  // namespace tv
