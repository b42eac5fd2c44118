// The shared root fixture for the archive tests, with TMPDIR the root itself and TZ UTC.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "testing/app_test_root.h"

namespace tv::testing_root {

class ArchiveTestRoot : public RootTest {
protected:
    ArchiveTestRoot() : RootTest(TmpDir::Root) {}
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        RootTest::SetUp();
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

    const std::string root_ = root.path();
    ScriptedUi& ui_ = scripted;
};

}  // namespace tv::testing_root
