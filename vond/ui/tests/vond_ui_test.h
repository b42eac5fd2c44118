// The offscreen fixture of vond's window tests: a private machine root, the Qt application and the
// scripted prompter.
#pragma once
#include <gtest/gtest.h>

#include "framework/qt/dialog.h"
#include "testing/app_test_root.h"
#include "vond/ui/vond_windows.h"

namespace tv::vond::test {

class VondUiTest : public testing_root::RootTest {
protected:
    VondUiTest() : RootTest(TmpDir::Root) {}
    void SetUp() override {
        QtVondWindows::ensure_application();  // first, so that the scripted prompter replaces its own
        RootTest::SetUp();
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        RootTest::TearDown();
    }
};

}  // namespace tv::vond::test
