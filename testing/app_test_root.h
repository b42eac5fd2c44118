// The fixture every folder's tests start from: a fresh temporary root with TMPDIR (TempRoot), the
// cached root folders forgotten before and after, and the scripted prompter answering for the user.
#pragma once
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "common/registry.h"
#include "common/strings.h"
#include "common/ui.h"
#include "platform/registry.h"
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

// A profile value as the user's hive keeps it (its type and bytes), nullopt when absent: what a
// setting's writer really stored, not what its reader makes of it.
inline std::optional<platform::RegValue> stored_profile_value(const std::string& section, const std::string& entry) {
    return platform::registry().get(platform::RegRoot::CurrentUser, profile_section_key(section), entry);
}

}  // namespace tv::testing_root
