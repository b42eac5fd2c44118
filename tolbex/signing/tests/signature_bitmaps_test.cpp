#include "tolbex/signing/signature_bitmaps.h"

#include <filesystem>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "testing/test_root.h"
#include "tolbex/signing/tests/bmp_fixture.h"

namespace tv::signing {
namespace {

namespace fs = std::filesystem;
using testing::make_bmp;

class SignatureBitmapsTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = root / name;
        EXPECT_TRUE(platform::atomic_write_file(path, bytes));
        return path;
    }
    void write_list(const std::string& text) {
        fs::create_directories(signature_bitmap_folder());
        ASSERT_TRUE(platform::atomic_write_file(signature_bitmap_folder() + "/signatures.dat", text));
    }
    platform::testing::TempRoot root;
    ScriptedUi scripted;
};

TEST_F(SignatureBitmapsTest, OnlyPlainBmpFilesAWholeNumberOf32PixelsWideAreUsable) {
    std::string short_pixels = make_bmp(64, 16);
    short_pixels.resize(short_pixels.size() - 1);
    struct Case {
        const char* what;
        std::string bytes;
        bool usable;
        bool width_message;
    };
    const Case cases[] = {
        {"1 bit, 32 wide", make_bmp(32, 10), true, false},
        {"24 bits, 64 wide", make_bmp(64, 3, 24), true, false},
        {"32 bits, top-down", make_bmp(96, -5, 32), true, false},
        {"8 bits RLE", make_bmp(32, 4, 8, 1), true, false},
        {"100 wide", make_bmp(100, 10), false, true},
        {"not a bitmap", "GIF89a and more bytes than a header would take......", false, false},
        {"pixels cut short", short_pixels, false, false},
        {"no width", make_bmp(0, 10), false, false},
        {"2 bits", make_bmp(32, 10, 2), false, false},
        {"JPEG inside", make_bmp(32, 10, 24, 4), false, false},
        {"empty", "", false, false},
    };
    for (const Case& c : cases) {
        scripted.shown.clear();
        const std::string path = write("b.bmp", c.bytes);
        EXPECT_EQ(is_signature_bitmap_usable(path, scripted), c.usable) << c.what;
        EXPECT_EQ(signature_bitmap_readable(path), c.usable || c.width_message) << c.what;
        if (c.width_message) {
            ASSERT_EQ(scripted.shown.size(), 1u) << c.what;
            EXPECT_EQ(scripted.shown[0].text, "The bitmap file " + path +
                                                  " must be a multiple of 32 pixels wide.\nThe signature bitmap "
                                                  "cannot be added to the signed report.");
        } else {
            EXPECT_TRUE(scripted.shown.empty()) << c.what;
        }
    }
    EXPECT_FALSE(is_signature_bitmap_usable(root / "missing.bmp", scripted));
}

TEST_F(SignatureBitmapsTest, ListFileBytesAndItsReading) {
    ASSERT_TRUE(write_signature_list({{"asmith", "anna.bmp"}, {"bjones", "ben jones.bmp"}}));
    EXPECT_EQ(*platform::read_whole_file(signature_bitmap_folder() + "/signatures.dat"),
              "\"asmith\" anna.bmp\r\n\"bjones\" ben jones.bmp\r\n");
    EXPECT_EQ(read_signature_list(),
              (std::vector<SignatureBitmapEntry>{{"asmith", "anna.bmp"}, {"bjones", "ben jones.bmp"}}));
    // Leading quotes go, LF alone ends a line too, a line without its closing quote is left out.
    write_list("\"\"csmith\" c.bmp\nno quote at all\n\"dlee\" ../../etc/d.bmp\r\n");
    EXPECT_EQ(read_signature_list(),
              (std::vector<SignatureBitmapEntry>{{"csmith", "c.bmp"}, {"dlee", "../../etc/d.bmp"}}));
    // Only the file name counts: no path from the list leaves the bitmap folder.
    EXPECT_EQ(find_signature_bitmap("dlee"), signature_bitmap_folder() + "/d.bmp");
    EXPECT_EQ(find_signature_bitmap("csmith"), signature_bitmap_folder() + "/c.bmp");
    EXPECT_EQ(find_signature_bitmap("CSMITH"), "") << "letter case counts";
    EXPECT_EQ(find_signature_bitmap("nobody"), "");
}

TEST_F(SignatureBitmapsTest, AListThatCannotBeWrittenIsAnError) {
    // A file where the folder should be: no rights let anybody write into it.
    ASSERT_TRUE(platform::atomic_write_file(signature_bitmap_folder(), "in the way"));
    const auto r = write_signature_list({{"asmith", "a.bmp"}});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message, "The list of signature bitmaps could not be saved : " + signature_bitmap_folder() +
                                     "/signatures.dat\nThe change has not been kept.");
}

TEST_F(SignatureBitmapsTest, AnotherAccountsFileOfTheSameNameIsNeverReplaced) {
    const std::string anna = make_bmp(32, 1), ben = make_bmp(64, 1);
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    auto first = store_signature_bitmap(write("a/sig.bmp", anna), "asmith", {});
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, "sig.bmp");
    const std::vector<SignatureBitmapEntry> list{{"asmith", "sig.bmp"}};
    auto second = store_signature_bitmap(write("b/sig.bmp", ben), "bjones", list);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, "sig_2.bmp");
    EXPECT_EQ(*platform::read_whole_file(signature_bitmap_path("sig.bmp")), anna);
    EXPECT_EQ(*platform::read_whole_file(signature_bitmap_path("sig_2.bmp")), ben);
    // The same picture is shared; the owner's own change replaces it.
    EXPECT_EQ(*store_signature_bitmap(root / "a/sig.bmp", "bjones", list), "sig.bmp");
    EXPECT_EQ(*store_signature_bitmap(root / "b/sig.bmp", "asmith", list), "sig.bmp");
    EXPECT_EQ(*platform::read_whole_file(signature_bitmap_path("sig.bmp")), ben);
    EXPECT_FALSE(store_signature_bitmap(root / "missing.bmp", "asmith", list));
}

// Every signer's account adds bitmaps to the machine's folder, so it follows the umask.
TEST(SignatureBitmapFolder, FollowsTheUmask) {
    const struct { mode_t umask, folder; } cases[] = {{002, 0775}, {022, 0755}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.umask);
        platform::testing::TempRoot root;
        const std::string source = root / "sig.bmp";
        ASSERT_TRUE(platform::atomic_write_file(source, make_bmp(32, 1)));
        const mode_t old = ::umask(c.umask);
        const bool stored = static_cast<bool>(store_signature_bitmap(source, "asmith", {}));
        ::umask(old);
        ASSERT_TRUE(stored);
        struct stat st {};
        ASSERT_EQ(::stat(signature_bitmap_folder().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.folder);
        fs::remove_all(signature_bitmap_folder());
        ::umask(c.umask);
        const bool listed = static_cast<bool>(write_signature_list({{"asmith", "sig.bmp"}}));
        ::umask(old);
        ASSERT_TRUE(listed);
        ASSERT_EQ(::stat(signature_bitmap_folder().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.folder);
    }
}

}  // namespace
}  // namespace tv::signing
