// The fixture every folder's tests start from: a fresh temporary root with TMPDIR (TempRoot), the
// cached root folders forgotten before and after, and the scripted prompter answering for the user.
#pragma once
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "common/registry.h"
#include "common/strings.h"
#include "common/ui.h"
#include "testing/test_root.h"
#include "testing/test_files.h"

namespace tv::testing_root {

namespace fs = std::filesystem;

using testing::read_file;
using testing::write_file;

class RootTest : public ::testing::Test {
protected:
    using TmpDir = platform::testing::TmpDir;
    // Beside by default: `t` then holds root/, tmp/ and the test's own files outside the root.
    explicit RootTest(TmpDir tmp = TmpDir::Beside) : root(tmp), t(root.made()) {}
    void SetUp() override {
        reset_cached_roots();
        set_ui(&scripted);
    }
    void TearDown() override {
        set_ui(nullptr);
        reset_cached_roots();
    }
    platform::testing::TempRoot root;
    fs::path t;
    ScriptedUi scripted;
};

}  // namespace tv::testing_root
