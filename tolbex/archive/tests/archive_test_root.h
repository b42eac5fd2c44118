// A fresh machine root for one archive test: TORVANE_ROOT and TMPDIR point into a new folder
// that is removed afterwards, TZ is UTC, and messages go to a scripted prompter.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "common/registry.h"
#include "common/ui.h"

namespace tv::testing_root {

class ArchiveTestRoot : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        const char* tmp = std::getenv("TMPDIR");
        saved_tmpdir_ = tmp ? tmp : "";
        std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/tv-arch-XXXXXX";
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        root_ = base;
        ::setenv("TORVANE_ROOT", root_.c_str(), 1);
        ::setenv("TMPDIR", root_.c_str(), 1);
        reset_cached_roots();
        set_ui(&ui_);
    }
    void TearDown() override {
        set_ui(nullptr);
        reset_cached_roots();
        std::error_code ec;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ec);
        std::filesystem::remove_all(root_, ec);
        ::unsetenv("TORVANE_ROOT");
        if (saved_tmpdir_.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
    }
    static void write(const std::string& path, const std::string& bytes) {
        std::FILE* f = std::fopen(path.c_str(), "wbe");
        ASSERT_NE(f, nullptr) << path;
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    static std::string read(const std::string& path) {
        std::string out;
        std::FILE* f = std::fopen(path.c_str(), "rbe");
        if (!f) return out;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
        std::fclose(f);
        return out;
    }

    std::string root_, saved_tmpdir_;
    ScriptedUi ui_;
};

}  // namespace tv::testing_root
