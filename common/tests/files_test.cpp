#include "common/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/safe_open.h"
#include "platform/drives.h"
#include "platform/system.h"
#include "testing/test_root.h"

namespace fs = std::filesystem;

namespace {

// A fresh TORVANE_ROOT and TMPDIR per test.
class FilesFixture : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(work_); }
    void TearDown() override { tv::platform::set_system(nullptr); }

    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static bool sparse(const std::string& path, off_t size) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        bool ok = ::ftruncate(fd, size) == 0;
        ::close(fd);
        return ok;
    }
    static void map(char letter, const std::string& folder, tv::platform::DriveKind kind,
                    const std::string& label = "CARD", std::uint64_t capacity = 0) {
        tv::platform::MappedDrive d;
        d.letter = letter;
        d.folder = folder;
        d.label = label;
        d.kind = kind;
        d.capacity = capacity;
        ASSERT_TRUE(tv::platform::map_drive(d));
    }
    static std::vector<std::string> names(const std::string& pattern, std::uint32_t mask) {
        std::vector<std::string> out;
        for (tv::FileFinder f(pattern, mask); !f.at_end(); f.next()) out.push_back(f.get_name());
        std::sort(out.begin(), out.end());
        return out;
    }

    tv::platform::testing::TempRoot temp_;
    const std::string root_ = temp_.path(), tmp_ = temp_.tmp(), work_ = root_ + "/work";
};

using FilesPathTest = FilesFixture;
using FilesFinderTest = FilesFixture;
using FilesOpsTest = FilesFixture;
using FilesUniqueNameTest = FilesFixture;
using FilesTreeTest = FilesFixture;
using FilesTempTest = FilesFixture;
using FilesDriveTest = FilesFixture;

// A clock that the test sets, and that moves one second whenever the code pauses.
class FakeClock : public tv::platform::RealSystem {
public:
    std::int64_t now() override { return t; }
    void sleep_ms(int ms) override {
        pauses.push_back(ms);
        if (t >= 0) t += 1;
    }
    std::int64_t t = 0;
    std::vector<int> pauses;
};

std::int64_t local_time(int y, int mo, int d, int h, int mi, int s) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

}  // namespace

TEST(FilesText, SplitsAndJoinsWithTheSlashAsSeparator) {
    EXPECT_EQ(tv::get_path_folder("/x"), "/x");  // separator at index 0: the whole path
    EXPECT_EQ(tv::get_path_folder("C:/x"), "C:");
    EXPECT_EQ(tv::get_path_folder("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(tv::get_path_folder("name"), "name");
    EXPECT_EQ(tv::get_path_folder_slash("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(tv::get_path_folder_slash("name"), "");
    // For opening relative to the folder: never the path itself as its own folder.
    for (const auto& [path, folder, name] : {std::tuple{"/a/b/c.txt", "/a/b", "c.txt"},
                                             {"a/b/", "a", "b"},
                                             {"name", ".", "name"},
                                             {"/x", "/", "x"},
                                             {"/x//", "/", "x"}}) {
        EXPECT_EQ(tv::split_path(path).folder, folder) << path;
        EXPECT_EQ(tv::split_path(path).name, name) << path;
    }
    EXPECT_EQ(tv::get_path_file_name("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(tv::get_path_file_name("c.txt"), "c.txt");
    EXPECT_EQ(tv::get_path_file_name("/a/"), "");
    EXPECT_EQ(tv::get_path_file_name("C:\\SIG\\a.bmp"), "C:\\SIG\\a.bmp");
    EXPECT_EQ(tv::get_path_file_name("C:\\SIG\\a.bmp", tv::PathSeparators::WindowsToo), "a.bmp");
    EXPECT_EQ(tv::get_path_file_name("/x/S\\b.bmp", tv::PathSeparators::WindowsToo), "b.bmp");
    EXPECT_EQ(tv::get_extension_upper("/a/b/name.ful"), "FUL");
    EXPECT_EQ(tv::get_extension_upper("name"), "");
    EXPECT_EQ(tv::get_extension_upper("n.\xe9x"), "\xe9X");  // bytes >= 0x80 kept as they are
    EXPECT_EQ(tv::trim_right_char("a//b///", '/'), "a//b");
    EXPECT_EQ(tv::trim_right_char("///", '/'), "");
    EXPECT_EQ(tv::join_path("/a", "b"), "/a/b");
    EXPECT_EQ(tv::join_path("/a/", "b"), "/a/b");
    EXPECT_EQ(tv::join_path("/a", "/b"), "/a/b");
    EXPECT_EQ(tv::join_path("", "b"), "b");
}

TEST(FilesText, NameCharacters) {
    for (char c : std::string("\\/.:*?<>|\"")) EXPECT_FALSE(tv::is_valid_name_char(c)) << c;
    EXPECT_FALSE(tv::is_valid_name_char('\0'));
    EXPECT_TRUE(tv::is_valid_name_char('a'));
    EXPECT_TRUE(tv::is_valid_name_char('\xe9'));
    EXPECT_TRUE(tv::is_valid_file_name("Smith John"));
    EXPECT_FALSE(tv::is_valid_file_name("a.b"));
    EXPECT_FALSE(tv::is_valid_file_name("a/b"));

    EXPECT_TRUE(tv::is_safe_path_component("3B07E135.FUL"));
    EXPECT_TRUE(tv::is_safe_path_component("M\xfcller"));
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "C:", "*", "a\nb"})
        EXPECT_FALSE(tv::is_safe_path_component(bad)) << bad;
}

// Names cut to one component keep whole UTF-8 characters, their serial and their extension.
TEST(FilesText, FittedNamesKeepWholeCharactersAndTheirSerial) {
    const std::string u200 = [] {
        std::string s;
        for (int i = 0; i < 200; ++i) s += "\xC3\xBC";
        return s;
    }();
    const struct {
        std::string stem, ext;
        int serial;
        std::string expected;
    } cases[] = {
        {"Doe", ".doc", 0, "Doe.doc"},
        {"Doe", ".doc", 2, "Doe (2).doc"},
        {std::string(300, 'a'), ".doc", 0, std::string(251, 'a') + ".doc"},
        {std::string(300, 'a'), ".doc", 12, std::string(246, 'a') + " (12).doc"},
        {u200, ".pdf", 0, u200.substr(0, 250) + ".pdf"},  // 251 bytes would halve a character
        {"x" + u200, ".pdf", 0, "x" + u200.substr(0, 250) + ".pdf"},
        {std::string(249, 'a') + "  b", ".doc", 0, std::string(249, 'a') + ".doc"},  // no blank before the dot
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const std::string name = tv::serial_file_name(c.stem, c.ext, c.serial);
        EXPECT_EQ(name, c.expected);
        EXPECT_LE(name.size(), tv::kFileNameMax);
    }
}

// Processes that give their files the same name at once all keep theirs, and so does the file
// that had it first.
TEST_F(FilesOpsTest, MovingToAFreeNameNeverReplacesAFile) {
    write(work_ + "/x.pdf", "first");
    constexpr int kChildren = 8;
    std::vector<pid_t> children;
    for (int i = 0; i < kChildren; ++i) {
        const std::string mine = work_ + "/part." + std::to_string(i);
        write(mine, "child " + std::to_string(i));
        const pid_t pid = ::fork();
        if (pid == 0) _exit(tv::move_to_free_name(mine, work_, "x", ".pdf").empty() ? 1 : 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::string> contents;
    for (int n = 0; n <= kChildren; ++n) contents.insert(read(work_ + "/" + tv::serial_file_name("x", ".pdf", n)));
    EXPECT_EQ(contents.size(), static_cast<std::size_t>(kChildren + 1));
    EXPECT_EQ(read(work_ + "/x.pdf"), "first");
    EXPECT_EQ(names(work_ + "/*", tv::kFindFiles).size(), static_cast<std::size_t>(kChildren + 1)) << "no part left";
}

TEST_F(FilesFinderTest, FilesOnlySkipsFoldersAndDotNamesOnAMappedDrive) {
    fs::create_directories(work_ + "/d/sub");
    write(work_ + "/d/a.txt", "abc");
    write(work_ + "/d/B", "");
    write(work_ + "/d/.hidden", "x");
    map('C', work_, tv::platform::DriveKind::Fixed);

    EXPECT_EQ(names("C:/d/*.*", tv::kFindFiles), (std::vector<std::string>{"B", "a.txt"}));
    EXPECT_EQ(names("C:/d/*.*", tv::kFindAny), (std::vector<std::string>{"B", "a.txt", "sub"}));
    EXPECT_EQ(names("C:/d/*", tv::kFindFiles), (std::vector<std::string>{"B", "a.txt"}));

    tv::FileFinder f("C:/d/A.TXT", tv::kFindAny);
    ASSERT_FALSE(f.at_end());
    EXPECT_EQ(f.get_name(), "a.txt");
    EXPECT_EQ(f.get_path(), "C:/d/a.txt");  // the caller's prefix, not the expanded one
    EXPECT_EQ(f.get_size(), 3);
    EXPECT_FALSE(f.is_folder());
    f.next();
    EXPECT_TRUE(f.at_end());
    f.next();  // harmless at the end
    EXPECT_TRUE(f.at_end());
}

TEST_F(FilesFinderTest, WildcardsIgnoreAsciiCase) {
    for (const char* n : {"a.txt", "B.TXT", "ab.txt", "c.dat", "noext"}) write(work_ + "/" + n, "");
    EXPECT_EQ(names(work_ + "/*.TxT", tv::kFindFiles), (std::vector<std::string>{"B.TXT", "a.txt", "ab.txt"}));
    EXPECT_EQ(names(work_ + "/?.txt", tv::kFindFiles), (std::vector<std::string>{"B.TXT", "a.txt"}));
    EXPECT_EQ(names(work_ + "/*.*", tv::kFindFiles).size(), 5u);
    EXPECT_EQ(names(work_ + "/NO*", tv::kFindFiles), (std::vector<std::string>{"noext"}));
    EXPECT_TRUE(names(work_ + "/*.zip", tv::kFindAny).empty());
    EXPECT_TRUE(names(root_ + "/missing/*.*", tv::kFindAny).empty());
    EXPECT_TRUE(names(work_ + "/", tv::kFindAny).empty());
}

TEST_F(FilesFinderTest, OtherMasksSelectByAttributeAndSizesAre64Bit) {
    write(work_ + "/ro.dat", "1");
    write(work_ + "/rw.dat", "2");
    ASSERT_TRUE(tv::set_read_only(work_ + "/ro.dat"));
    EXPECT_EQ(names(work_ + "/*.*", tv::kAttrReadOnly), (std::vector<std::string>{"ro.dat"}));
    fs::create_directory(work_ + "/f");
    EXPECT_EQ(names(work_ + "/*.*", tv::kAttrFolder), (std::vector<std::string>{"f"}));

    if (!sparse(work_ + "/big.dat", 5ll << 30)) GTEST_SKIP() << "no sparse files here";
    tv::FileFinder f(work_ + "/big.dat", tv::kFindFiles);
    ASSERT_FALSE(f.at_end());
    EXPECT_EQ(f.get_size(), 5ll << 30);
}

TEST_F(FilesOpsTest, ExistenceSizesAndAttributes) {
    write(work_ + "/f.dat", "hello");
    EXPECT_TRUE(tv::file_exists(work_ + "/f.dat"));
    EXPECT_FALSE(tv::file_exists(work_));
    EXPECT_TRUE(tv::folder_exists(work_));
    EXPECT_FALSE(tv::folder_exists(work_ + "/f.dat"));
    // A FIFO is no regular file: opening it for a group index would block.
    ASSERT_EQ(::mkfifo((work_ + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("f.dat", (work_ + "/link").c_str()), 0);
    EXPECT_TRUE(tv::is_regular_file_no_link(work_ + "/f.dat"));
    EXPECT_FALSE(tv::is_regular_file_no_link(work_ + "/link"));  // the name says it: not followed
    EXPECT_FALSE(tv::is_regular_file_no_link(work_ + "/fifo"));
    EXPECT_FALSE(tv::is_regular_file_no_link(work_));
    EXPECT_FALSE(tv::is_regular_file_no_link(work_ + "/missing"));
    EXPECT_TRUE(tv::folder_exists("X:"));  // a bare drive, never asked
    EXPECT_FALSE(tv::folder_exists(""));

    EXPECT_EQ(tv::get_file_size(work_ + "/f.dat"), 5);
    EXPECT_EQ(tv::get_file_size(work_ + "/none"), -1);
    EXPECT_EQ(tv::get_file_size(work_), -1);
    if (sparse(work_ + "/big.dat", (4ll << 30) + 5)) {
        // Above 2 GB the 32-bit answer is clamped; it never wraps to a small or negative size.
        EXPECT_EQ(tv::get_file_size(work_ + "/big.dat"), 0x7FFFFFFF);
        EXPECT_EQ(tv::get_file_size_64(work_ + "/big.dat"), (4ll << 30) + 5);
    }

    EXPECT_FALSE(tv::is_read_only(work_ + "/f.dat"));
    EXPECT_TRUE(tv::set_read_only(work_ + "/f.dat"));
    EXPECT_TRUE(tv::is_read_only(work_ + "/f.dat"));
    struct stat st;
    ASSERT_EQ(::stat((work_ + "/f.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_TRUE(tv::clear_read_only(work_ + "/f.dat"));
    EXPECT_FALSE(tv::is_read_only(work_ + "/f.dat"));
    EXPECT_FALSE(tv::set_read_only(work_ + "/none"));

    tv::set_read_only(work_ + "/f.dat");
    EXPECT_TRUE(tv::force_delete_file(work_ + "/f.dat"));
    EXPECT_FALSE(fs::exists(work_ + "/f.dat"));
    EXPECT_TRUE(tv::force_delete_file(work_ + "/none"));  // nothing is left: that is the answer
    EXPECT_FALSE(tv::force_delete_file(work_));           // a folder of that name remains
}

TEST_F(FilesOpsTest, FolderSizesAdd64BitTotals) {
    fs::create_directories(work_ + "/a/b");
    write(work_ + "/one", "12345");
    write(work_ + "/a/two", "12");
    write(work_ + "/a/b/three", "123");
    EXPECT_EQ(tv::get_folder_size(work_, false), 5);
    EXPECT_EQ(tv::get_folder_size(work_, true), 10);
    EXPECT_EQ(tv::get_folder_size_64(work_ + "/", true), 10);
    EXPECT_EQ(tv::sum_file_sizes(work_ + "/*.*"), 5);

    // Sub-folders of 3 GB each: the total neither wraps at 4 GB nor turns negative.
    if (!sparse(work_ + "/a/huge1", 3ll << 30) || !sparse(work_ + "/a/b/huge2", 3ll << 30)) GTEST_SKIP();
    EXPECT_EQ(tv::get_folder_size_64(work_, true), (6ll << 30) + 10);
    EXPECT_EQ(tv::get_folder_size(work_, true), 0x7FFFFFFF);
}

TEST_F(FilesOpsTest, CopyReplacesTheTargetWhole) {
    write(work_ + "/src.dat", "new content");
    write(work_ + "/dst.dat", "old");
    ASSERT_TRUE(tv::set_read_only(work_ + "/dst.dat"));
    struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, (work_ + "/src.dat").c_str(), old_times, 0);

    std::string status;
    ASSERT_TRUE(tv::copy_file_replacing(work_ + "/src.dat", work_ + "/dst.dat", &status));
    EXPECT_EQ(status, work_ + "/src.dat");
    EXPECT_EQ(read(work_ + "/dst.dat"), "new content");
    EXPECT_FALSE(tv::is_read_only(work_ + "/dst.dat"));
    struct stat st;
    ASSERT_EQ(::stat((work_ + "/dst.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);  // the copy keeps the source's time
    EXPECT_EQ(fs::directory_entry(work_ + "/dst.dat").file_size(), 11u);
    // No temporary sibling is left behind.
    int entries = 0;
    for (auto& e : fs::directory_iterator(work_)) entries += e.is_regular_file();
    EXPECT_EQ(entries, 2);

    // A failed copy leaves the target as it was.
    EXPECT_FALSE(tv::copy_file_replacing(work_ + "/missing", work_ + "/dst.dat"));
    EXPECT_FALSE(tv::copy_file_replacing(work_, work_ + "/dst.dat"));
    EXPECT_EQ(read(work_ + "/dst.dat"), "new content");
    fs::create_directory(work_ + "/folder");
    EXPECT_FALSE(tv::copy_file_replacing(work_ + "/src.dat", work_ + "/folder"));
    EXPECT_FALSE(tv::copy_file_replacing(work_ + "/src.dat", work_ + "/nofolder/x"));
}

TEST_F(FilesOpsTest, CopySetsSkipTheSwapFileOnly) {
    fs::create_directories(work_ + "/in/sub");
    fs::create_directories(work_ + "/out");
    write(work_ + "/in/WIN386.SWP", "swap");
    write(work_ + "/in/win386.swp", "lower");
    write(work_ + "/in/a.dat", "a");
    write(work_ + "/in/.dot", "d");

    EXPECT_EQ(tv::copy_matching_files(work_ + "/in/*.*", work_ + "/out"), tv::FileSetResult::AllDone);
    EXPECT_FALSE(fs::exists(work_ + "/out/WIN386.SWP"));
    EXPECT_EQ(read(work_ + "/out/win386.swp"), "lower");
    EXPECT_EQ(read(work_ + "/out/a.dat"), "a");
    EXPECT_FALSE(fs::exists(work_ + "/out/.dot"));
    EXPECT_FALSE(fs::exists(work_ + "/out/sub"));
    EXPECT_EQ(tv::copy_matching_files(work_ + "/in/*.*", work_ + "/absent"), tv::FileSetResult::Failed);
}

TEST_F(FilesOpsTest, DeleteFilesAndCreateFolderPaths) {
    fs::create_directories(work_ + "/f/sub");
    write(work_ + "/f/a", "");
    write(work_ + "/f/b", "");
    tv::set_read_only(work_ + "/f/b");
    EXPECT_TRUE(tv::delete_files_in_folder(work_ + "/f"));
    EXPECT_FALSE(fs::exists(work_ + "/f/a"));
    EXPECT_FALSE(fs::exists(work_ + "/f/b"));
    EXPECT_TRUE(fs::is_directory(work_ + "/f/sub"));
    EXPECT_TRUE(tv::delete_files_in_folder(work_ + "/f/"));

    EXPECT_FALSE(tv::create_folder_path(""));
    EXPECT_FALSE(tv::create_folder_path("/"));
    EXPECT_TRUE(tv::create_folder_path(work_));
    EXPECT_TRUE(tv::create_folder_path("Q:"));
    EXPECT_TRUE(tv::create_folder_path(work_ + "/x/y/z/"));
    EXPECT_TRUE(fs::is_directory(work_ + "/x/y/z"));
    write(work_ + "/file", "");
    EXPECT_FALSE(tv::create_folder_path(work_ + "/file/sub"));
    map('M', work_ + "/card", tv::platform::DriveKind::Removable);
    fs::create_directory(work_ + "/card");
    EXPECT_TRUE(tv::create_folder_path("M:/TV/DATA"));
    EXPECT_TRUE(fs::is_directory(work_ + "/card/TV/DATA"));
}

// Sets the process umask for one scope.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskScope() { ::umask(old_); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t old_;
};

mode_t mode_of(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

// Another account of the group writes what this one made: new files and folders follow the
// umask, a replaced file keeps the mode and group it had.
TEST_F(FilesOpsTest, NewFilesAndFoldersFollowTheUmask) {
    const struct { mode_t umask, file, folder; } cases[] = {{002, 0664, 0775}, {022, 0644, 0755}};
    write(work_ + "/src", "s");
    ::chmod((work_ + "/src").c_str(), 0600);  // a private source: its mode does not travel
    for (const auto& c : cases) {
        SCOPED_TRACE(c.umask);
        const std::string w = work_ + "/u" + std::to_string(c.umask);
        UmaskScope mask(c.umask);
        ASSERT_TRUE(tv::create_folder_path(w + "/a/b"));
        EXPECT_EQ(mode_of(w), c.folder);
        EXPECT_EQ(mode_of(w + "/a/b"), c.folder);

        ASSERT_TRUE(tv::copy_file_replacing(work_ + "/src", w + "/new"));
        EXPECT_EQ(mode_of(w + "/new"), c.file);

        write(w + "/old", "o");
        ::chmod((w + "/old").c_str(), 0660);
        ASSERT_EQ(::chown((w + "/old").c_str(), static_cast<uid_t>(-1), 4242), 0);
        ASSERT_TRUE(tv::copy_file_replacing(work_ + "/src", w + "/old"));
        struct stat st {};
        ASSERT_EQ(::stat((w + "/old").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0660u);
        EXPECT_EQ(st.st_gid, 4242u);
        EXPECT_EQ(read(w + "/old"), "s");

        fs::create_directories(w + "/in");
        write(w + "/in/m.dat", "m");
        ASSERT_EQ(tv::copy_matching_files(w + "/in/*.*", w + "/a"), tv::FileSetResult::AllDone);
        EXPECT_EQ(mode_of(w + "/a/m.dat"), c.file);
    }
}

TEST_F(FilesOpsTest, WordXorChecksum) {
    write(work_ + "/six", std::string("\x01\x02\x03\x04\x05\x06", 6));
    std::FILE* f = std::fopen((work_ + "/six").c_str(), "rbe");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(tv::file_xor_checksum(f), 0x04030404u);
    std::fseek(f, 4, SEEK_SET);  // from the current position: 05 06 00 00
    EXPECT_EQ(tv::file_xor_checksum(f), 0x00000605u);
    std::fclose(f);

    // Longer than one chunk, with a chunk boundary that is not a word boundary of the file.
    std::string big(0x20000 + 7, '\0');
    std::uint32_t expect = 0;
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + 3);
        expect ^= static_cast<std::uint32_t>(static_cast<unsigned char>(big[i])) << (8 * (i % 4));
    }
    write(work_ + "/big", big);
    f = std::fopen((work_ + "/big").c_str(), "rbe");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(tv::file_xor_checksum(f), expect);
    std::fclose(f);

    f = std::fopen((work_ + "/w").c_str(), "wbe");  // reading a write-only stream is an error
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(tv::file_xor_checksum(f), 0xFFFFFFFFu);
    std::fclose(f);
    EXPECT_EQ(tv::file_xor_checksum(nullptr), 0xFFFFFFFFu);
}

TEST_F(FilesUniqueNameTest, NameFromTheLocalTime) {
    FakeClock clock;
    clock.t = local_time(2007, 12, 3, 14, 5, 9);
    tv::platform::set_system(&clock);
    EXPECT_EQ(tv::make_unique_file_name(work_, ".FUL"), "3B07E135.FUL");
    fs::create_directory(work_ + "/3B07E135.FUL");
    EXPECT_EQ(tv::make_unique_file_name(work_, ".FUL"), "4B07E135.FUL");
    write(work_ + "/4B07E135.FUL", "");
    EXPECT_EQ(tv::make_unique_file_name(work_ + "/", ".FUL"), "5B07E135.FUL");
    EXPECT_EQ(tv::make_unique_file_name(work_, ".STD"), "3B07E135.STD");
    EXPECT_EQ(tv::make_unique_file_name(work_, ".O12", ".FUL"), "5B07E135.O12");  // the twin's names count

    clock.t = local_time(2031, 1, 31, 23, 59, 59);  // the largest codes
    EXPECT_EQ(tv::make_unique_file_name(work_, ""), "V031Ne0f");

    clock.t = -1;
    EXPECT_EQ(tv::make_unique_file_name(work_, ".FUL"), "DEFAULT.FUL");
    write(work_ + "/DEFAULT.FUL", "");
    EXPECT_EQ(tv::make_unique_file_name(work_, ".FUL"), "EEFAULT.FUL");
    EXPECT_TRUE(clock.pauses.empty());
}

TEST_F(FilesUniqueNameTest, SteppingOrderThenPauseAndRestart) {
    FakeClock clock;
    clock.t = local_time(2007, 12, 3, 14, 5, 9);
    tv::platform::set_system(&clock);
    const std::string codes = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    auto take = [&](const std::string& name) { write(work_ + "/" + name + ".FUL", ""); };
    auto from = [&](char c) { return codes.substr(codes.find(c)); };

    for (char c : from('3').substr(0, 7)) take(std::string(1, c) + "B07E135");  // '3'..'9'
    EXPECT_EQ(tv::make_unique_file_name(work_, ".FUL"), "AB07E135.FUL");        // '9' steps to 'A'
    for (char c : from('A')) take(std::string(1, c) + "B07E135");
    EXPECT_EQ(tv::make_unique_file_name(work_, ".FUL"), "ZC07E135.FUL");  // then the month code
    for (char c : from('C')) take(std::string("Z") + c + "07E135");
    EXPECT_EQ(tv::make_unique_file_name(work_, ".FUL"), "ZZ07F135.FUL");  // then the hour code
    for (char c : from('F')) take(std::string("ZZ07") + c + "135");
    EXPECT_TRUE(clock.pauses.empty());

    // Everything taken at this second: wait, read the clock again.
    EXPECT_EQ(tv::make_unique_file_name(work_, ".FUL"), "3B07E136.FUL");
    EXPECT_EQ(clock.pauses, std::vector<int>{1000});
}

TEST_F(FilesTreeTest, DeletesTheTreeButNeverFollowsLinks) {
    std::string outside = root_ + "/outside";
    fs::create_directories(outside);
    write(outside + "/keep", "k");
    std::string t = work_ + "/tree";
    fs::create_directories(t + "/a/b");
    write(t + "/f1", "");
    write(t + "/a/f2", "");
    write(t + "/a/b/f3", "");
    tv::set_read_only(t + "/a/f2");
    fs::create_directory_symlink(outside, t + "/a/link_dir");
    fs::create_symlink(outside + "/keep", t + "/link_file");

    std::string blocker;
    EXPECT_TRUE(tv::delete_folder_tree(t, true, false, &blocker));
    EXPECT_FALSE(fs::exists(t));
    EXPECT_EQ(read(outside + "/keep"), "k");

    // A link named as the folder itself is refused, and its target stays whole.
    fs::create_directory_symlink(outside, work_ + "/alias");
    EXPECT_FALSE(tv::delete_folder_tree(work_ + "/alias", true, true));
    EXPECT_EQ(read(outside + "/keep"), "k");

    EXPECT_FALSE(tv::delete_folder_tree(work_ + "/missing", true, false));
    write(work_ + "/plain", "");
    EXPECT_FALSE(tv::delete_folder_tree(work_ + "/plain", true, false));
    EXPECT_TRUE(fs::exists(work_ + "/plain"));
}

TEST_F(FilesTreeTest, ATemporaryFolderIsFreshAndGoesWithAllItHolds) {
    std::string kept;
    {
        const tv::TempFolder a, b;
        ASSERT_FALSE(a.path().empty());
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(fs::is_empty(a.path()));
        fs::create_directories(a.path() + "sub");
        write(a.path() + "sub/f", "x");
        tv::set_read_only(a.path() + "sub/f");
        kept = a.path();
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST_F(FilesTreeTest, HiddenEntriesNeverKeepAReportFolder) {
    std::string outside = root_ + "/outside";
    fs::create_directories(outside + "/.d");
    write(outside + "/.keep", "k");
    write(outside + "/.d/x", "x");
    // What is left behind in report folders: editors' locks, finder files, our own temporaries.
    enum Kind { File, Folder, FileLink, FolderLink };
    const struct {
        const char* name;
        Kind kind;
    } entries[] = {
        {".~lock.LETTER.doc#", File},
        {".DS_Store", File},
        {".tvcopy.A1B2C3", File},
        {".PATIENT.TXT.tmp4F2A", File},
        {".TV200401.LOG.pending", File},
        {".ARCHINFO.lock", File},
        {"..x", File},
        {".hidden", Folder},
        {".link", FileLink},
        {".dirlink", FolderLink},
    };
    std::string t = work_ + "/R0001";
    fs::create_directories(t + "/SUB");
    write(t + "/PATIENT.TXT", "p");
    for (const std::string& folder : {t, t + "/SUB"}) {
        for (const auto& e : entries) {
            const std::string path = folder + "/" + e.name;
            switch (e.kind) {
                case File: write(path, "secret"); break;
                case Folder:
                    fs::create_directories(path + "/.inner");
                    write(path + "/.inner/.f", "f");
                    write(path + "/f", "f");
                    break;
                case FileLink: fs::create_symlink(outside + "/.keep", path); break;
                case FolderLink: fs::create_directory_symlink(outside + "/.d", path); break;
            }
        }
    }
    tv::set_read_only(t + "/.DS_Store");
    std::string blocker;
    EXPECT_TRUE(tv::delete_folder_tree(t, true, true, &blocker)) << blocker;
    EXPECT_FALSE(fs::exists(fs::symlink_status(t)));
    EXPECT_EQ(read(outside + "/.keep"), "k");
    EXPECT_EQ(read(outside + "/.d/x"), "x");

    // Emptying a folder of its files takes the hidden ones too, and leaves folders and targets.
    fs::create_directories(t + "/.sub");
    for (const auto& e : entries)
        if (e.kind == File) write(t + "/" + e.name, "");
    fs::create_symlink(outside + "/.keep", t + "/.link");
    EXPECT_TRUE(tv::delete_files_in_folder(t));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(t)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{".sub"});
    EXPECT_EQ(read(outside + "/.keep"), "k");
}

TEST_F(FilesTreeTest, ReportsWhatBlocksTheRemoval) {
    std::string t = work_ + "/r";
    fs::create_directories(t + "/sub");
    write(t + "/a", "");
    write(t + "/sub/x", "");
    std::string blocker;
    // Without sub-folders the files go, the folder stays and the sub-folder is named.
    EXPECT_FALSE(tv::delete_folder_tree(t, false, false, &blocker));
    EXPECT_FALSE(fs::exists(t + "/a"));
    EXPECT_TRUE(fs::exists(t + "/sub/x"));
    EXPECT_EQ(blocker, t + "/sub");

    // A dot-name no longer keeps its folder: with sub-folders everything goes.
    write(t + "/sub/.hidden", "");
    blocker.clear();
    EXPECT_FALSE(tv::delete_folder_tree(t, false, false, &blocker));
    EXPECT_EQ(blocker, t + "/sub");
    EXPECT_TRUE(fs::exists(t + "/sub/.hidden"));
    {
        tv::FolderRemover keep(t, true, false);
        keep.release();
    }
    EXPECT_TRUE(fs::exists(t));
    { tv::FolderRemover remover(t, true, true); }
    EXPECT_FALSE(fs::exists(t));
}

TEST_F(FilesTreeTest, ADriveRootIsEmptiedButKept) {
    std::string card = work_ + "/card";
    fs::create_directories(card + "/DATA");
    write(card + "/a", "");
    write(card + "/DATA/b", "");
    map('K', card, tv::platform::DriveKind::Removable);
    EXPECT_TRUE(tv::delete_folder_tree("K:", true, false));
    EXPECT_TRUE(fs::is_directory(card));
    EXPECT_TRUE(fs::is_empty(card));

    write(card + "/c", "");
    EXPECT_TRUE(tv::delete_folder_tree("K:/", true, false));
    write(card + "/d", "");
    EXPECT_TRUE(tv::delete_folder_tree(card + "/", true, false));  // the drive's folder by name
    EXPECT_TRUE(fs::is_directory(card));
    EXPECT_TRUE(fs::is_empty(card));

    EXPECT_FALSE(tv::delete_folder_tree("Q:", true, false));  // a letter that is not mapped

    fs::create_directories(card + "/sub");
    write(card + "/e", "");
    EXPECT_TRUE(tv::delete_folder_tree("K:", false, false));  // the root is kept, so nothing fails
    EXPECT_FALSE(fs::exists(card + "/e"));
    EXPECT_TRUE(fs::exists(card + "/sub"));
}

TEST_F(FilesTempTest, TemporaryFolderAndFileNames) {
    EXPECT_EQ(tv::get_temp_folder(), tmp_);
    ::setenv("TMPDIR", (tmp_ + "//").c_str(), 1);
    EXPECT_EQ(tv::get_temp_folder(), tmp_);
    ::setenv("TMPDIR", (root_ + "/absent").c_str(), 1);
    EXPECT_EQ(tv::get_temp_folder(), "/tmp");
    ::setenv("TMPDIR", tmp_.c_str(), 1);

    std::string a = tv::get_temp_file_name(), b = tv::get_temp_file_name();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(tv::get_path_folder(a), tmp_);
    EXPECT_EQ(tv::get_path_file_name(a).substr(0, 2), "TV");
    EXPECT_EQ(tv::get_extension_upper(a), "TMP");
    EXPECT_EQ(tv::get_file_size(a), 0);

    std::string d = tv::create_temp_folder();
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d.back(), '/');
    EXPECT_EQ(d.substr(0, tmp_.size() + 3), tmp_ + "/TV");
    EXPECT_TRUE(fs::is_empty(d));

    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        std::string e = tv::create_temp_folder("TMP");
        ASSERT_FALSE(e.empty());
        EXPECT_EQ(e.substr(0, tmp_.size() + 3), tmp_ + "/TV");
        EXPECT_EQ(e.substr(e.size() - 5), ".TMP/");
        EXPECT_TRUE(fs::is_empty(e));
        EXPECT_TRUE(seen.insert(e).second);
    }
    EXPECT_EQ(tv::create_temp_folder("../x"), "");
    EXPECT_EQ(tv::create_temp_folder("a/b"), "");
}

TEST_F(FilesTempTest, FourProcessesNeverShareATemporaryFolder) {
    std::string planted = tv::create_temp_folder();
    ASSERT_FALSE(planted.empty());
    write(planted + "keep.dat", "mine");

    constexpr int kProcesses = 4, kEach = 250;
    std::vector<pid_t> pids;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::FILE* out = std::fopen((root_ + "/list" + std::to_string(p)).c_str(), "we");
            int status = out ? 0 : 1;
            for (int i = 0; out && i < kEach; ++i) {
                std::string d = tv::create_temp_folder();
                if (d.empty()) status = 2;
                std::fprintf(out, "%s\n", d.c_str());
            }
            if (out && std::fclose(out) != 0) status = 3;
            ::_exit(status);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::string> all;
    for (int p = 0; p < kProcesses; ++p) {
        std::ifstream in(root_ + "/list" + std::to_string(p));
        for (std::string line; std::getline(in, line);) {
            EXPECT_EQ(tv::get_path_file_name(tv::trim_right_char(line, '/')).substr(0, 2), "TV") << line;
            EXPECT_EQ(line.back(), '/');
            EXPECT_TRUE(fs::is_directory(line) && fs::is_empty(line)) << line;
            EXPECT_NE(line, planted);
            all.insert(line);
        }
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kProcesses * kEach));
    EXPECT_EQ(read(planted + "keep.dat"), "mine");
}

TEST_F(FilesDriveTest, DriveKindsLabelsAndSpace) {
    EXPECT_EQ(tv::classify_drive("a:/x"), 0);  // never touched
    EXPECT_EQ(tv::classify_drive("B:"), 0);
    EXPECT_EQ(tv::classify_drive("x"), 1);
    EXPECT_EQ(tv::classify_drive(""), 1);
    EXPECT_EQ(tv::classify_drive("Q:/x"), 1);  // no such drive
    fs::create_directories(work_ + "/e");
    fs::create_directories(work_ + "/f");
    fs::create_directories(work_ + "/g");
    fs::create_directories(work_ + "/h");
    map('E', work_ + "/e", tv::platform::DriveKind::Removable, "OSTRABEL", 1048576000);
    map('F', work_ + "/f", tv::platform::DriveKind::Remote);
    map('G', work_ + "/g", tv::platform::DriveKind::Fixed);
    map('H', work_ + "/h", tv::platform::DriveKind::Floppy);
    EXPECT_EQ(tv::classify_drive("E:/DATA"), 2);
    EXPECT_EQ(tv::classify_drive("e:"), 2);
    EXPECT_EQ(tv::classify_drive("F:/"), 3);
    EXPECT_EQ(tv::classify_drive("G:/"), 1);
    EXPECT_EQ(tv::classify_drive("H:/"), 0);
    EXPECT_EQ(tv::classify_drive(work_ + "/e/DATA/x.dat"), 2);  // the card's folder by its own path

    EXPECT_GT(tv::get_disk_free_bytes(work_), 0u);
    EXPECT_GT(tv::get_disk_free_bytes(work_ + "/not-yet.dat"), 0u);
    EXPECT_EQ(tv::get_disk_free_bytes(root_ + "/no/such/place"), 0u);
    EXPECT_EQ(tv::get_disk_free_bytes(""), 0u);
}

TEST(FilesModule, PathOfTheRunningProgram) {
    std::string path = tv::get_module_path();
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(tv::get_path_file_name(path), "common_tests");
    EXPECT_EQ(tv::get_module_folder(), tv::get_path_folder(path));
    EXPECT_TRUE(tv::folder_exists(tv::get_module_folder()));
}

TEST_F(FilesFixture, FolderFilesListsPlainFilesAndOpensNothingElse) {
    const std::string f = work_ + "/report";
    fs::create_directories(f + "/sub");
    write(f + "/b.dat", "b");
    write(f + "/A.TXT", "a");
    write(f + "/.hidden", "h");
    write(f + "/WIN386.SWP", "s");
    tv::FolderFiles listing;
    ASSERT_TRUE(listing.read(f, "*.*", "WIN386.SWP"));
    EXPECT_EQ(listing.names(), (std::vector<std::string>{"A.TXT", "b.dat"}));
    EXPECT_TRUE(listing.refusal("packed").empty());
    EXPECT_TRUE(listing.open("A.TXT"));
    EXPECT_FALSE(listing.open("sub"));
    // An entry replaced by a link after the listing is still refused when opened.
    fs::remove(f + "/b.dat");
    fs::create_symlink(f + "/A.TXT", f + "/b.dat");
    EXPECT_FALSE(listing.open("b.dat"));
    EXPECT_FALSE(listing.copy("b.dat", work_ + "/copy"));
    EXPECT_FALSE(fs::exists(work_ + "/copy"));
    EXPECT_TRUE(listing.copy("A.TXT", work_ + "/copy"));
    EXPECT_EQ(read(work_ + "/copy"), "a");

    EXPECT_FALSE(listing.read(f));
    EXPECT_EQ(listing.blocker(), "b.dat");
    EXPECT_TRUE(listing.names().empty());
    EXPECT_EQ(listing.refusal("packed"),
              "The report folder contains \"b.dat\", which is not a plain file, so it cannot be packed.");
    fs::remove(f + "/b.dat");
    write(f + "/a.txt", "twin");
    EXPECT_FALSE(listing.read(f));
    EXPECT_EQ(listing.refusal("signed"),
              "The report folder contains \"A.TXT\" and \"a.txt\", whose names differ "
              "only in case, so it cannot be signed.");
    EXPECT_FALSE(listing.read(work_ + "/missing"));
    EXPECT_TRUE(listing.blocker().empty());
    // A link where the report folder should be is refused and named; the folder above may be one.
    fs::remove(f + "/a.txt");
    fs::create_directory_symlink(f, work_ + "/planted");
    EXPECT_FALSE(listing.read(work_ + "/planted/"));
    EXPECT_EQ(listing.refusal("signed"), "The report folder \"" + work_ +
                                             "/planted/\" is a link to another place, "
                                             "so it cannot be signed.");
    fs::create_directory_symlink(work_, work_ + "/above");
    EXPECT_TRUE(listing.read(work_ + "/above/report"));
}
