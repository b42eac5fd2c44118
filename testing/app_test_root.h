// A fresh TORVANE_ROOT and TMPDIR for one test of the application shell.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "common/registry.h"
#include "common/strings.h"
#include "common/ui.h"

namespace tv::testing_root {

namespace fs = std::filesystem;

inline void write_file(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class RootTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tolbex-app-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        t = tmpl;
        fs::create_directories(t / "root");
        fs::create_directories(t / "tmp");
        ::setenv("TORVANE_ROOT", (t / "root").c_str(), 1);
        ::setenv("TMPDIR", (t / "tmp").c_str(), 1);
        reset_cached_roots();
        set_ui(&scripted);
    }
    void TearDown() override {
        set_ui(nullptr);
        ::unsetenv("TORVANE_ROOT");
        ::unsetenv("TMPDIR");
        reset_cached_roots();
        std::error_code ec;
        fs::remove_all(t, ec);
    }
    fs::path t;
    ScriptedUi scripted;
};

}  // namespace tv::testing_root
