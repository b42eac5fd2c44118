// The offscreen fixture of vond's window tests: a private machine root, the Qt application and the
// scripted prompter.
#pragma once
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/ui.h"
#include "framework/qt/dialog.h"
#include "vond/ui/vond_windows.h"

namespace tv::vond::test {

class VondUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vond-ui-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        t = tmpl;
        ::setenv("TORVANE_ROOT", t.c_str(), 1);
        ::setenv("TMPDIR", t.c_str(), 1);
        QtVondWindows::ensure_application();
        set_ui(&scripted);
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        set_ui(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(t, ec);
    }

    std::filesystem::path t;
    ScriptedUi scripted;
};

}  // namespace tv::vond::test
