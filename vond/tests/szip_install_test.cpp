// Installing the compressor from vond's resources.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/registry.h"
#include "vond/szip_install.h"
#include "vond/tests/vond_fixture.h"

namespace {

using vondtest::VondTest;
namespace fs = std::filesystem;

void write_text(const fs::path& p, const std::string& s) { cardgen::write_bytes(p, s.data(), s.size()); }

class SzipInstallTest : public VondTest {
protected:
    void SetUp() override {
        VondTest::SetUp();
        res = t / "resources";
        fs::create_directories(res);
        write_text(res / "szip", "#!/bin/sh\nexit 0\n");
        write_text(res / "szip.readme.txt", "readme\n");
    }
    fs::path installed() const { return root / "Program Files" / "Torvane Medical" / "Common"; }
    std::string install_path() const {
        return tv::reg_get_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", "");
    }
    fs::path res;
};

TEST_F(SzipInstallTest, CopiesTheResourcesAndRecordsThePath) {
    ASSERT_TRUE(tv::vond::install_szip(res.string()));
    EXPECT_EQ(vondtest::slurp(installed() / "szip"), "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(vondtest::slurp(installed() / "szip.readme.txt"), "readme\n");
    struct stat st;
    ASSERT_EQ(::stat((installed() / "szip").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    EXPECT_EQ(install_path(), (installed() / "szip").string());
    EXPECT_EQ(tv::find_szip_path(), (installed() / "szip").string());
}

TEST_F(SzipInstallTest, ProgramFilesFolderFromTheRegistry) {
    const fs::path pf = t / "pf";
    ASSERT_TRUE(tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                   "ProgramFilesDir", pf.string()));
    ASSERT_TRUE(tv::vond::install_szip(res.string()));
    EXPECT_TRUE(fs::exists(pf / "Torvane Medical" / "Common" / "szip"));
}

TEST_F(SzipInstallTest, AlreadyFoundWritesNothing) {
    const fs::path other = t / "other";
    fs::create_directories(other);
    write_text(other / "szip", "x");
    fs::permissions(other / "szip", fs::perms::owner_all);
    ASSERT_TRUE(tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", (other / "szip").string()));
    ASSERT_TRUE(tv::vond::install_szip(res.string()));
    EXPECT_FALSE(fs::exists(installed()));
    EXPECT_EQ(install_path(), (other / "szip").string());
}

TEST_F(SzipInstallTest, ReadmeMissingOrProgramMissing) {
    fs::remove(res / "szip.readme.txt");
    ASSERT_TRUE(tv::vond::install_szip(res.string()));
    EXPECT_TRUE(fs::exists(installed() / "szip"));
    EXPECT_FALSE(fs::exists(installed() / "szip.readme.txt"));
    EXPECT_FALSE(install_path().empty());

    // A fresh machine without the program among the resources: nothing is installed.
    tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", "");
    fs::remove_all(installed());
    fs::remove(res / "szip");
    EXPECT_FALSE(tv::vond::install_szip(res.string()));
    EXPECT_FALSE(fs::exists(installed() / "szip"));
}

TEST_F(SzipInstallTest, VondInstallsItsShippedCompressorAtStartUp) {
    // A hidden run with an invalid line still installs first.
    const auto r = run({"/bogus"});
    EXPECT_EQ(r.code, 100);
    EXPECT_TRUE(fs::exists(installed() / "szip"));
    EXPECT_EQ(install_path(), (installed() / "szip").string());
}

TEST_F(SzipInstallTest, InstalledVondFindsThePackagedCompressorAndWritesNothing) {
    // The package's layout: vond in <prefix>/bin, the compressor in <prefix>/lib/torvane.
    const fs::path prefix = t / "usr";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "lib" / "torvane");
    fs::copy_file(program, prefix / "bin" / "vond");
    write_text(prefix / "lib" / "torvane" / "szip", "#!/bin/sh\nexit 0\n");
    fs::permissions(prefix / "lib" / "torvane" / "szip", fs::perms::owner_all);
    program = (prefix / "bin" / "vond").string();
    EXPECT_EQ(run({"/bogus"}).code, 100);
    EXPECT_FALSE(fs::exists(installed()));
    EXPECT_EQ(install_path(), "");
}

}  // namespace
