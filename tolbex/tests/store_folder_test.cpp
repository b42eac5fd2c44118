// "/storefolder" with its log, index robustness on store, and "/delete_os12_ecg".
#include "tolbex/tests/cli_fixture.h"
#include "testing/lock_waiters.h"

namespace cli {
namespace {

const char* const kHeader1 =
    "-----------------------\nCalvera Log File\n-----------------------\n\nThis log file was produced by Calvera when "
    "its "
    "\"storefolder\"\ncommand-line option was used. It lists the results of the \"storefolder\"\noperation as follows "
    "(these items are all one one line for each stored report):\n\n        [Store result status code] If not 0, report "
    "was NOT stored.\n        Date that report was stored.\n        Time that report was stored.\n        \"Name of "
    "archive group into which report was stored\"\n        \"Name of archive into which report was stored\"\n        "
    "\"Name of report file that was stored\" (\".TVZ\" or \".CEF\" only).\n\n";
const char* const kHeader2 =
    "The \"store result status code\" may have any of the following values:\n\n0:   Report stored successfully.\n1:   "
    "Folder does not contain any \"CEF\" or \"TVZ\" files.\n2:   folder doesn't exist.\n3:   One of the files in the "
    "folder is invalid.\n4:   Archive group doesn't exist.\n5:   Archive group is invalid (doesn't contain a valid "
    "\"ARCHDIR.DAT\")\n6:   Archive name doesn't exist.\n7:   Couldn't write files.\n8:   Couldn't uncompress "
    "report.\n9:   Couldn't create a temporary folder.\n11:  The archive is in use by another program; "
    "try again.\n12:  This account cannot open the archive's lock file for writing.\n13:  The archive is "
    "read-only for this account.\n\nIf a store operation was attempted when there were no report "
    "files in the\nsource folder, the log file will say \"No report files in source folder\".\n\nLog file "
    "begins...\n------------------------------------------------------------------------------\n";

std::string crlf(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string good_tvz(const std::string& description = "Good", const std::string& type = "510") {
    return tvz_literal_entry("REPINFO.TXT", description + "\r\n" + type + "\r\n1196690709\r\n77\r\n") +
           tvz_literal_entry("DATA.BIN", "payload") + report_files_tvz(type);
}

class StoreFolderTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        g = t / "G";
        make_group(g, {{"STANDARD", "STANDARD"}});
        src = t / "src";
        write_file(src / "bad.CEF", std::string(300, 'g'));
        write_file(src / "good.TVZ", good_tvz());
    }
    fs::path g, src;
};

TEST_F(StoreFolderTest, StoresEveryFileAndLogsEachResult) {
    auto r = run({"/storefolder", src.string(), g.string(), "STANDARD", "store.log"});
    EXPECT_EQ(r.code, 3) << r.err;
    const std::string log = read_file(src / "store.log");
    const std::string head = crlf(std::string(kHeader1) + kHeader2) + "\r\n";
    ASSERT_EQ(log.substr(0, head.size()), head);
    const auto lines = split_lines(log.substr(head.size()));
    ASSERT_EQ(lines.size(), 2u);
    const std::string tail3 = "\"" + g.string() + "\" \"STANDARD\" \"bad.CEF\"";
    const std::string tail0 = "\"" + g.string() + "\" \"STANDARD\" \"good.TVZ\"";
    EXPECT_EQ(lines[0].substr(0, 4), "[3] ");
    EXPECT_EQ(lines[0].substr(lines[0].size() - tail3.size()), tail3);
    EXPECT_EQ(lines[1].substr(0, 4), "[0] ");
    EXPECT_EQ(lines[1].substr(lines[1].size() - tail0.size()), tail0);
    EXPECT_EQ(index_lines(g / "STANDARD" / "ARCHINFO.DAT").size(), 5u);

    // A second run appends: no second header, one empty line before its own lines.
    fs::remove(src / "bad.CEF");
    EXPECT_EQ(run({"/storefolder", src.string(), g.string(), "STANDARD", "store.log"}).code, 0);
    const std::string log2 = read_file(src / "store.log");
    EXPECT_EQ(log2.substr(0, log.size()), log);
    EXPECT_EQ(log2.substr(log.size(), 2), "\r\n");
    EXPECT_EQ(log2.find("Calvera Log File", head.size()), std::string::npos);
    EXPECT_EQ(index_lines(g / "STANDARD" / "ARCHINFO.DAT").size(), 10u);
}

TEST_F(StoreFolderTest, EmptyMissingAndUnwritableLog) {
    fs::create_directories(t / "empty");
    EXPECT_EQ(run({"/storefolder", (t / "empty").string(), g.string(), "STANDARD", "NONE"}).code, 1);
    EXPECT_TRUE(fs::is_empty(t / "empty"));
    EXPECT_EQ(run({"/storefolder", (t / "missing").string(), g.string(), "STANDARD", "x.log"}).code, 2);
    EXPECT_FALSE(fs::exists(t / "missing"));
    // An empty folder with a log: the "no files" line has no line end.
    EXPECT_EQ(run({"/storefolder", (t / "empty").string(), g.string(), "STANDARD", "e.log"}).code, 1);
    const std::string e = read_file(t / "empty" / "e.log");
    const std::string tail = "No report files in source folder: \"" + (t / "empty").string() + "\"";
    EXPECT_EQ(e.substr(e.size() - tail.size()), tail);
    EXPECT_EQ(split_lines(e).back().substr(0, 4), "[1] ");
    // A log path that is a folder: nothing stored.
    fs::create_directories(t / "logdir");
    EXPECT_EQ(run({"/storefolder", src.string(), g.string(), "STANDARD", (t / "logdir").string()}).code, 10);
    EXPECT_FALSE(fs::exists(g / "STANDARD" / "ARCHINFO.DAT"));
}

// No compressor is installed here: a file with a compressed-ECG header cannot be unpacked (8),
// while one without is invalid whatever is installed (3).
TEST_F(StoreFolderTest, CompressedEcgFileWithoutTheCompressor) {
    std::string header(108, '\0');
    header.replace(4, 1, "\x6C");
    header.replace(8, 1, "\x01");
    header.replace(12, 14, "Compressed ECG");
    write_file(t / "real" / "r.cef", header + std::string(64, '\0'));
    EXPECT_EQ(run({"/store", (t / "real" / "r.cef").string(), g.string(), "STANDARD"}).code, 8);
    EXPECT_EQ(run({"/store", (src / "bad.CEF").string(), g.string(), "STANDARD"}).code, 3);
    EXPECT_FALSE(fs::exists(g / "STANDARD" / "ARCHINFO.DAT"));
}

TEST_F(StoreFolderTest, IndexStaysFramedWhateverTheReportSays) {
    const fs::path archive = g / "STANDARD";
    // Old index without a final line end, and reports that /find must still see afterwards.
    std::string old = format_entry({"OLD1.FUL", "Old one", "Wed Jan 02 02:03:55 1980", "10", "Full"}) +
                      format_entry({"OLD2.FUL", "Old two", "Wed Jan 02 02:03:56 1980", "20", "Full"});
    old.resize(old.size() - 2);
    write_file(archive / "ARCHINFO.DAT", old);
    write_file(archive / "OLD1.FUL" / "PATIENT.TXT", patient_txt("ABCD1234566"));
    write_file(archive / "OLD2.FUL" / "PATIENT.TXT", patient_txt("ABCD1234566"));

    write_file(t / "in" / "blank.TVZ", good_tvz("   ", "512"));
    std::string long_description = "line one\x01\x09";
    while (long_description.size() < 300) long_description += "abcdefghij";
    write_file(t / "in" / "long.TVZ", good_tvz(long_description));
    ASSERT_EQ(run({"/store", (t / "in" / "blank.TVZ").string(), g.string(), "STANDARD"}).code, 0);
    ASSERT_EQ(run({"/store", (t / "in" / "long.TVZ").string(), g.string(), "STANDARD"}).code, 0);

    const auto lines = index_lines(archive / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 10),
              (std::vector<std::string>{"OLD1.FUL", "Old one", "Wed Jan 02 02:03:55 1980", "10", "Full", "OLD2.FUL",
                                        "Old two", "Wed Jan 02 02:03:56 1980", "20", "Full"}));
    EXPECT_EQ(lines[11], "<Name>");
    EXPECT_EQ(fs::path(lines[10]).extension(), ".IMG");  // 512 is stored as 519
    EXPECT_EQ(lines[14], "Formatted");
    EXPECT_LE(lines[16].size(), 255u);
    for (unsigned char c : lines[16]) EXPECT_GE(c, 0x20);
    EXPECT_EQ(lines[16].substr(0, 8), "line one");

    EXPECT_EQ(run({"/find", "RECORDING_ID", "ABCD1234566", g.string(), (t / "f.txt").string(), "x"}).code, 2);
}

TEST_F(StoreFolderTest, DeleteTwelveLeadEcgFiles) {
    const fs::path archive = g / "STANDARD";
    const fs::path x = archive / "X.O12";
    for (const char* n : {"os12ecg1.dat", "OS12ECG2.DAT", "os12ecg3.dat", "os12ecg4.dat", "Os12Ecg5.dat",
                          "os12ecg6.dat", "os12ecg7.dat", "os12ecg8.dat", "OS12PAC.DAT"})
        write_file(x / n, std::string(1000, 'e'));
    write_file(x / "PATIENT.TXT", patient_txt("ABCD1234566"));
    write_file(x / "ANALSUM.TXT", "summary");
    append_entry(archive, {"X.O12", "Twelve lead", "Wed Jan 02 02:03:55 1980", "9999", "Full Ostrabel 12"});

    auto r = run({"/delete_os12_ecg", x.string(), "x"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(x));
    const fs::path ful = archive / "X.FUL";
    ASSERT_TRUE(fs::is_directory(ful));
    auto left = folder_files(ful);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].first, "ANALSUM.TXT");
    EXPECT_EQ(left[1].first, "PATIENT.TXT");
    const auto lines = index_lines(archive / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "X.FUL");
    EXPECT_EQ(lines[3], std::to_string(read_file(ful / "PATIENT.TXT").size() + 7));
    EXPECT_EQ(lines[4], "Full");

    // The extension test is exact: "y.o12" is refused, with the message, and nothing moves.
    const fs::path y = archive / "y.o12";
    write_file(y / "os12ecg1.dat", "e");
    auto r2 = run({"/delete_os12_ecg", y.string()});
    EXPECT_NE(r2.code, 0);
    EXPECT_NE(r2.err.find("There was an error while deleting the Ostrabel12 ECG files from this folder."),
              std::string::npos)
        << r2.err;
    EXPECT_TRUE(fs::exists(y / "os12ecg1.dat"));
    EXPECT_FALSE(fs::exists(archive / "y.FUL"));
}

}  // namespace
}  // namespace cli

namespace cli {
namespace {

// Stores and 12-lead conversions run side by side on one archive, queued behind a lock this test
// holds for a moment so that each run writes after the others have read: every run succeeds,
// every folder is listed exactly once and every entry names a folder that exists.
TEST_F(StoreFolderTest, StoresAndConversionsSideBySideLoseNothing) {
    constexpr int kEach = 40;
    const fs::path archive = g / "STANDARD";
    for (int i = 0; i < kEach; ++i) {
        const std::string name = "X" + std::to_string(i) + ".O12";
        write_file(archive / name / "os12ecg1.dat", "e");
        write_file(archive / name / "PATIENT.TXT", patient_txt("ABCD1234566"));
        append_entry(archive, {name, "Twelve " + std::to_string(i), "Wed Jan 02 02:03:55 1980", "9", "Full"});
    }
    // The archive's lock, as another writer would hold it.
    const int lock_fd = ::open((archive / ".TVINDEX.LCK").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(lock_fd, 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(lock_fd, F_OFD_SETLKW, &fl), 0);

    std::vector<int> codes(2 * kEach, -1);
    std::vector<std::thread> runs;
    for (int i = 0; i < kEach; ++i) {
        runs.emplace_back([&, i] {
            codes[i] = run({"/store", (src / "good.TVZ").string(), g.string(), "STANDARD"}).code;
        });
        runs.emplace_back([&, i] {
            codes[kEach + i] = run({"/delete_os12_ecg", (archive / ("X" + std::to_string(i) + ".O12")).string()}).code;
        });
    }
    // All of them queue on the lock before it is let go.
    EXPECT_TRUE(tv::testing::wait_for_lock_waiters((archive / ".TVINDEX.LCK").string(), 2 * kEach));
    ::close(lock_fd);
    for (auto& r : runs) r.join();
    for (int i = 0; i < 2 * kEach; ++i) EXPECT_EQ(codes[i], 0) << i;

    const auto lines = index_lines(archive / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(5 * 2 * kEach));
    std::set<std::string> listed;
    for (std::size_t i = 0; i < lines.size(); i += 5) {
        EXPECT_TRUE(listed.insert(lines[i]).second) << "listed twice: " << lines[i];
        EXPECT_TRUE(fs::is_directory(archive / lines[i])) << "no folder: " << lines[i];
    }
    for (const auto& e : fs::directory_iterator(archive)) {
        if (!e.is_directory()) continue;
        EXPECT_EQ(listed.count(e.path().filename().string()), 1u) << e.path();
    }
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(listed.count("X" + std::to_string(i) + ".FUL"), 1u) << i;
}

// The archive's lock as another writer holds it: an OFD lock on its lock file.
class HeldLock {
public:
    explicit HeldLock(const fs::path& archive)
        : fd_(::open((archive / ".TVINDEX.LCK").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        held_ = fd_ >= 0 && ::fcntl(fd_, F_OFD_SETLK, &fl) == 0;
    }
    ~HeldLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

// True when some process holds the archive's lock.
bool lock_is_held(const fs::path& archive) {
    const int fd = ::open((archive / ".TVINDEX.LCK").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

// A stop signal takes effect some time after kill() returns, and until then the process runs on (and may let the
// lock go). True once /proc shows it stopped; false when it ended first.
bool wait_until_stopped(pid_t pid) {
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    for (;;) {
        std::ifstream in(stat);
        std::string line;
        std::getline(in, line);
        const auto name_end = line.rfind(") ");
        if (name_end == std::string::npos || name_end + 2 >= line.size()) return false;
        const char state = line[name_end + 2];
        if (state == 'T' || state == 't') return true;
        if (state == 'Z' || state == 'X') return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::set<std::string> ecg_files(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

// Held by another process throughout, the lock keeps every action from deciding anything: a
// listed and an unlisted 12-lead report keep their ECG files and names, a store says "in use".
TEST_F(StoreFolderTest, AHeldLockLeavesConversionsAndStoresUndone) {
    const fs::path archive = g / "STANDARD";
    for (const char* name : {"L.O12", "U.O12"}) {
        write_file(archive / name / "os12ecg1.dat", "e");
        write_file(archive / name / "OS12PAC.DAT", "p");
        write_file(archive / name / "PATIENT.TXT", patient_txt("ABCD1234566"));
    }
    append_entry(archive, {"L.O12", "Listed", "Wed Jan 02 02:03:55 1980", "9", "Full Ostrabel 12"});
    const std::string index = read_file(archive / "ARCHINFO.DAT");
    const auto before = ecg_files(archive / "L.O12");
    const HeldLock lock(archive);
    ASSERT_TRUE(lock.held());
    RunResult listed, unlisted, stored;
    std::thread a([&] { listed = run({"/delete_os12_ecg", (archive / "L.O12").string()}); });
    std::thread b([&] { unlisted = run({"/delete_os12_ecg", (archive / "U.O12").string()}); });
    std::thread c([&] { stored = run({"/store", (src / "good.TVZ").string(), g.string(), "STANDARD"}); });
    a.join();
    b.join();
    c.join();
    for (const RunResult* r : {&listed, &unlisted}) {
        EXPECT_EQ(r->code, 4) << r->err;
        EXPECT_NE(r->err.find("Another program is changing the archive"), std::string::npos) << r->err;
    }
    EXPECT_EQ(stored.code, 11) << stored.err;
    EXPECT_NE(stored.err.find("Another program is changing the archive"), std::string::npos) << stored.err;
    EXPECT_EQ(ecg_files(archive / "L.O12"), before);
    EXPECT_EQ(ecg_files(archive / "U.O12"), before);
    EXPECT_EQ(read_file(archive / "ARCHINFO.DAT"), index);
    EXPECT_FALSE(fs::exists(archive / "L.FUL"));
    EXPECT_FALSE(fs::exists(archive / "U.FUL"));
}

// BRACKMOR stopped while it holds the archive's lock: a conversion waits for it and, when it
// does not come back in time, fails with nothing changed; the index stays true either way.
TEST_F(StoreFolderTest, AConversionBesideAStoppedCheckWaitsOrFails) {
    const fs::path archive = g / "STANDARD";
    for (int i = 0; i < 300; ++i) {
        const std::string name = "R" + std::to_string(i) + ".O12";
        write_file(archive / name / "os12ecg1.dat", "e");
        append_entry(archive,
                     {name, "Report " + std::to_string(i), "Wed Jan 02 02:03:55 1980", "9", "Full Ostrabel 12"});
    }
    bool caught = false;
    for (int attempt = 0; attempt < 300 && !caught; ++attempt) {
        const pid_t check = ::fork();
        if (check == 0) {
            // A group of its own: stopped in ours, it would be hung up when ours is left orphaned.
            ::setpgid(0, 0);
            const int devnull = ::open("/dev/null", O_RDWR);
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            if (::chdir(t.c_str()) != 0) ::_exit(126);
            ::execl(BRACKMOR_PROGRAM, BRACKMOR_PROGRAM, g.c_str(), "/NW", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(attempt * 997 % 40000));
        ::kill(check, SIGSTOP);
        caught = wait_until_stopped(check) && lock_is_held(archive);
        if (caught) {
            const RunResult r = run({"/delete_os12_ecg", (archive / "R7.O12").string()});
            EXPECT_EQ(r.code, 4) << r.err;
            EXPECT_TRUE(fs::exists(archive / "R7.O12" / "os12ecg1.dat"));
        }
        ::kill(check, SIGCONT);
        int status = 0;
        ASSERT_EQ(::waitpid(check, &status, 0), check);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_TRUE(caught) << "BRACKMOR was never stopped with the lock held";
    // Stopped while it does not hold the lock, it keeps nobody waiting.
    const RunResult r = run({"/delete_os12_ecg", (archive / "R7.O12").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto lines = index_lines(archive / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 5u * 300);
    for (std::size_t i = 0; i < lines.size(); i += 5)
        EXPECT_TRUE(fs::is_directory(archive / lines[i])) << "no folder: " << lines[i];
    EXPECT_TRUE(fs::is_directory(archive / "R7.FUL"));
}

// A report folder that BRACKMOR recovers is listed as it is spelt on disk, so that "/export",
// which finds it by its folder, finds it.
TEST_F(StoreFolderTest, ARecoveredMixedCaseFolderIsFoundByExport) {
    const fs::path folder = g / "STANDARD" / "BB26B9c5.FUL";
    for (const char* name : {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"})
        write_file(folder / name, "part of the report");
    write_file(folder / "PATIENT.TXT", patient_txt("ABCD1234566"));
    const pid_t check = ::fork();
    if (check == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        if (::chdir(t.c_str()) != 0) ::_exit(126);
        ::execl(BRACKMOR_PROGRAM, BRACKMOR_PROGRAM, g.c_str(), "/NW", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(check, &status, 0), check);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto lines = index_lines(g / "STANDARD" / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "BB26B9c5.FUL");
    const RunResult r = run({"/export", "TVZ", folder.string(), (t / "out.TVZ").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(t / "out.TVZ"));
}

}  // namespace
}  // namespace cli
