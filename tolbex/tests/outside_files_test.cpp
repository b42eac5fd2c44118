// What others put where the program reads, through the built program: FIFOs end every reader's run
// at once, the store log stays the drop folder's own with one line a file, and a report folder
// that another account swapped for a link is not packed; a lock file swapped for one is refused.
#include <sys/stat.h>

#include <chrono>

#include "testing/test_accounts.h"
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

std::string good_tvz(const std::string& description = "Good") {
    return tvz_literal_entry("REPINFO.TXT", description + "\r\n510\r\n1196690709\r\n77\r\n") +
           tvz_literal_entry("DATA.BIN", "payload") + report_files_tvz("510");
}

class OutsideFilesTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        g = t / "G";
        make_group(g, {{"STANDARD", "STANDARD"}});
        drop = t / "drop";
        fs::create_directories(drop);
        write_hive(root / "registry" / "HKLM.reg",
                   "[Software\\Torvane Medical\\SZIP]\r\n\"Install Path\"=\"" TV_SZIP_PROGRAM "\"\r\n");
    }
    void fifo(const fs::path& p) {
        fs::create_directories(p.parent_path());
        ASSERT_EQ(::mkfifo(p.c_str(), 0666), 0) << p;
    }
    fs::path g, drop;
};

TEST_F(OutsideFilesTest, AFifoEndsEveryReadersRunAtOnce) {
    fifo(drop / "x.TVZ");
    fifo(drop / "x.CEF");
    fifo(t / "params");
    const struct {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{"/store", (drop / "x.TVZ").string(), g.string(), "STANDARD"}, 2},
        {{"/store", (drop / "x.CEF").string(), g.string(), "STANDARD"}, 2},
        {{"/storefolder", drop.string(), g.string(), "STANDARD", "NONE"}, 2},
        {{"/uncompress", (drop / "x.CEF").string(), (t / "out").string()}, 2},
        // Nothing read, so no hidden action: the window that cannot open here is what ends the run.
        {{"/paramfile", (t / "params").string()}, 1},
        {{"/paramfile", "/dev/zero"}, 1},
    };
    fs::create_directories(t / "out");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const auto started = std::chrono::steady_clock::now();
        const RunResult r = run(c.args, 20);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(r.code, c.code) << r.err;
    }
    EXPECT_FALSE(fs::exists(g / "STANDARD" / "ARCHINFO.DAT"));
    EXPECT_TRUE(fs::is_empty(t / "out"));
}

TEST_F(OutsideFilesTest, TheStoreLogIsTheDropFoldersOwnWithOneLineAFile) {
    // A link planted under the log's name: its target gains nothing, nothing is stored.
    write_file(t / "victim", "victim's own\r\n");
    fs::create_symlink(t / "victim", drop / "store.log");
    write_file(drop / "good.TVZ", good_tvz());
    EXPECT_EQ(run({"/storefolder", drop.string(), g.string(), "STANDARD", "store.log"}).code, 10);
    EXPECT_EQ(read_file(t / "victim"), "victim's own\r\n");
    EXPECT_FALSE(fs::exists(g / "STANDARD" / "ARCHINFO.DAT"));
    fs::remove(drop / "store.log");
    // Nor a hard link to a file elsewhere.
    fs::create_hard_link(t / "victim", drop / "store.log");
    EXPECT_EQ(run({"/storefolder", drop.string(), g.string(), "STANDARD", "store.log"}).code, 10);
    EXPECT_EQ(read_file(t / "victim"), "victim's own\r\n");
    fs::remove(drop / "store.log");

    // A received name with a line break inside cannot forge a line of its own.
    const std::string forged = "a\r\n[0] Mon Jan  1 00:00:00 2024 \"G\" \"STANDARD\" \"forged.TVZ";
    write_file(drop / (forged + ".TVZ"), std::string(300, 'g'));
    EXPECT_EQ(run({"/storefolder", drop.string(), g.string(), "STANDARD", "store.log"}).code, 8);
    const std::string log = read_file(drop / "store.log");
    std::vector<std::string> results;
    for (const std::string& line : split_lines(log))
        if (line.size() > 1 && line[0] == '[' && line[1] != '\0' && std::isdigit(static_cast<unsigned char>(line[1])))
            results.push_back(line);
    ASSERT_EQ(results.size(), 2u) << log;
    EXPECT_EQ(results[0].substr(0, 4), "[8] ");
    EXPECT_NE(results[0].find("\"a\\x0D\\x0A[0] Mon Jan"), std::string::npos) << results[0];
    EXPECT_EQ(results[1].substr(0, 4), "[0] ");
    EXPECT_NE(results[1].find("\"good.TVZ\""), std::string::npos);
}

// Names that would make the log read otherwise: a C1 control sequence introducer, a right-to-left
// override and bytes that are no UTF-8 are written escaped, and nothing of them raw.
TEST_F(OutsideFilesTest, TheStoreLogEscapesC1DirectionControlsAndInvalidUtf8) {
    const struct {
        std::string name, escaped;
    } names[] = {
        {"csi\xC2\x9B"
         "2J.TVZ",
         "\"csi\\xC2\\x9B2J.TVZ\""},
        {"exe.\xE2\x80\xAE"
         "ZVT.TVZ",
         "\"exe.\\xE2\\x80\\xAEZVT.TVZ\""},
        {"latin\xE9\xFF.TVZ", "\"latin\\xE9\\xFF.TVZ\""},
    };
    for (const auto& n : names) write_file(drop / n.name, std::string(300, 'g'));
    EXPECT_EQ(run({"/storefolder", drop.string(), g.string(), "STANDARD", "store.log"}).code, 8);
    const std::string log = read_file(drop / "store.log");
    for (const auto& n : names) EXPECT_NE(log.find(n.escaped), std::string::npos) << n.escaped << "\n" << log;
    for (const char* raw : {"\xC2\x9B", "\xE2\x80\xAE", "\xFF", "\xE9"})
        EXPECT_EQ(log.find(raw), std::string::npos) << raw;
}

// Another account of the archive's group renames a report folder and leaves a link to a private
// folder of the account that exports in its place: the export is refused, and nothing of the
// private folder reaches the export folder, the archive or what the run says.
TEST_F(OutsideFilesTest, AReportFolderSwappedForALinkIsNotExported) {
    const tv::testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    ASSERT_EQ(::chmod(t.c_str(), 0755), 0);
    const fs::path shared = t / "shared", archive = shared / "A", report = archive / "R1.IMG";
    ASSERT_TRUE(accounts.share(shared.string()));
    ASSERT_TRUE(accounts.share(archive.string()));
    write_file(archive / "ARCHINFO.DAT",
               format_entry({"R1.IMG", "Shared", "Mon Dec 03 14:05:09 2007", "1", "Formatted"}));
    write_file(report / "PATIENT.TXT", patient_txt("ABCD1234566"));
    for (const fs::path& p : {archive / "ARCHINFO.DAT", report, report / "PATIENT.TXT"})
        ASSERT_EQ(::chown(p.c_str(), accounts.uid(0), accounts.gid()), 0);
    ASSERT_EQ(::chmod(report.c_str(), 02775), 0);
    const fs::path secret = t / "private";
    write_file(secret / "demo-signer.p12", "PRIVATE-KEY-BYTES");
    write_file(secret / "PATIENT.TXT", patient_txt("ABCD1234566"));
    ::chmod(secret.c_str(), 0700);

    EXPECT_EQ(accounts.run_as(1,
                              [&] {
                                  return ::rename(report.c_str(), (archive / "R1.OLD").c_str()) == 0 &&
                                         ::symlink(secret.c_str(), report.c_str()) == 0;
                              }),
              0);
    const fs::path exports = t / "exports";
    fs::create_directories(exports);
    const RunResult r = run({"/export", "TVZ", report.string(), (exports / "R1.TVZ").string()});
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("is a link to another place"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(exports));
    for (const std::string& said : {r.out, r.err}) EXPECT_EQ(said.find("PRIVATE-KEY"), std::string::npos);
    for (auto& e : fs::recursive_directory_iterator(shared)) {
        if (!e.is_regular_file() || e.is_symlink()) continue;
        EXPECT_EQ(read_file(e.path()).find("PRIVATE-KEY"), std::string::npos) << e.path();
    }
}

// Another account of the group plants a link at an archive's lock file, to the operator's private
// file or to a name that does not exist yet: /store refuses the archive ("lock file not
// writable"), as the operator and as root, and the link's target is neither opened up, changed
// nor made.
TEST_F(OutsideFilesTest, ALinkedLockFileIsRefusedAndItsTargetLeftAsItIs) {
    const tv::testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    const fs::path shared = t / "shared", archive = shared / "STANDARD", home = t / "home";
    const fs::path victim = home / "private", missing = home / "made", lock = archive / ".TVINDEX.LCK";
    make_group(shared, {{"STANDARD", "STANDARD"}});
    write_file(victim, "operator's own\r\n");
    write_file(drop / "good.TVZ", good_tvz());
    // The operator's run needs the whole test tree; the group's members reach the shared folders.
    for (auto& e : fs::recursive_directory_iterator(t))
        ASSERT_EQ(::lchown(e.path().c_str(), accounts.uid(0), accounts.gid()), 0) << e.path();
    ASSERT_EQ(::chown(t.c_str(), accounts.uid(0), accounts.gid()), 0);
    ASSERT_EQ(::chmod(t.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(home.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    for (const fs::path& f : {shared, archive}) ASSERT_EQ(::chmod(f.c_str(), 02770), 0);
    ASSERT_EQ(::chmod((shared / "ARCHDIR.DAT").c_str(), 0660), 0);
    const std::vector<std::string> store = {"/store", (drop / "good.TVZ").string(), shared.string(), "STANDARD"};
    for (const fs::path& target : {victim, missing}) {
        SCOPED_TRACE(target.string());
        EXPECT_EQ(accounts.run_as(1, [&] { return ::symlink(target.c_str(), lock.c_str()) == 0; }), 0);
        EXPECT_EQ(accounts.run_as(0, [&] { return run(store).code == 12; }), 0);
        EXPECT_EQ(run(store).code, 12);  // root
        struct stat st {};
        ASSERT_EQ(::stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(read_file(victim), "operator's own\r\n");
        EXPECT_FALSE(fs::exists(missing));
        EXPECT_TRUE(fs::is_symlink(lock));
        EXPECT_FALSE(fs::exists(archive / "ARCHINFO.DAT"));
        fs::remove(lock);
    }
    // Without the link the same run stores.
    EXPECT_EQ(accounts.run_as(0, [&] { return run(store).code == 0; }), 0);
    EXPECT_TRUE(fs::exists(archive / "ARCHINFO.DAT"));
}

}  // namespace
}  // namespace cli
