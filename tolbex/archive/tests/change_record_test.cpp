// What killed writers leave in an archive, as the next holder of its lock finds it.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/process_owner.h"
#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/tests/archive_test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using ChangeRecordTest = testing_root::ArchiveTestRoot;

// The token of a process that has ended.
std::string dead_token() {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string& token = platform::own_process_token();
        (void)!::write(fds[1], token.data(), token.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    char buf[128];
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

TEST_F(ChangeRecordTest, TokensTellTheirOwnerAliveGoneOrUnknown) {
    const std::string& own = platform::own_process_token();
    EXPECT_EQ(own.find('.'), std::string::npos);
    EXPECT_EQ(platform::owner_state(own), platform::OwnerState::Alive);
    EXPECT_EQ(platform::owner_state(dead_token()), platform::OwnerState::Gone);
    // The same process id with another start time is another process.
    const std::string pid = own.substr(0, own.find('-'));
    EXPECT_EQ(platform::owner_state(pid + "-1-" + own.substr(own.rfind('-') + 1)), platform::OwnerState::Gone);
    for (const std::string& unknown : {pid + "-1-0badb007", std::string("123"), std::string(""), std::string("a-b-c")})
        EXPECT_EQ(platform::owner_state(unknown), platform::OwnerState::Unknown) << unknown;
}

// Index temporaries of dead owners go. A hidden folder goes only as its record says: one that no
// record names may be a report a group member renamed, whatever its token, and a link or file
// under such a name is never followed; each is left and said once (a folder among the unrecorded
// folders, anything else in a note).
TEST_F(ChangeRecordTest, TheNextLockClearsWhatDeadOwnersLeftAndNothingElse) {
    const std::string archive = root_ + "/arc";
    ASSERT_TRUE(fs::create_directory(archive));
    ASSERT_TRUE(fs::create_directory(root_ + "/private"));
    const std::string dead = dead_token(), own = platform::own_process_token();
    ASSERT_FALSE(dead.empty());
    const std::string other_boot = own.substr(0, own.rfind('-')) + "-0badb007";
    enum Kind { File, Folder, Link };
    struct Case {
        std::string name;
        Kind kind;
        bool stays;
        bool said;  // a note names it
    };
    const Case cases[] = {
        {".ARCHINFO.DAT.tmp." + dead + ".0.1234abcd", File, false, true},
        {".archdir.dat.tmp." + dead + ".3", File, false, true},
        {".ARCHINFO.DAT.tmp." + other_boot + ".1.1", File, false, true},  // indexes change only under the lock
        {".ARCHINFO.DAT.tmp." + own + ".2.1", File, true, false},         // its writer still runs
        {".TVNEW." + dead + ".0", Folder, true, true},                    // a report renamed so, for all we know
        {".TVDEL." + dead + ".1", Folder, true, true},
        {".TVNEW." + own + ".7", Folder, true, true},
        {".TVNEW." + other_boot + ".7", Folder, true, true},
        {".TVNEW.4711.0.5e2f", Folder, true, true},
        {".TVNEW." + dead + ".8", Link, true, true},
        {".TVDEL." + dead + ".9", File, true, true},
        {".PATIENT.TXT.tmp." + dead + ".1", File, true, false},
        {"X.FUL", Folder, true, false},
    };
    for (const Case& c : cases) {
        const std::string path = archive + "/" + c.name;
        if (c.kind == Folder) {
            ASSERT_TRUE(fs::create_directory(path));
            write(path + "/page.1", "page");
        } else if (c.kind == Link) {
            fs::create_directory_symlink(root_ + "/private", path);
        } else {
            write(path, "partial");
        }
    }
    write(root_ + "/private/key", "private");
    std::string notes;
    std::vector<std::string> unrecorded;
    {
        const ArchiveIndexLock lock(archive);
        ASSERT_TRUE(lock.held());
        for (const std::string& n : lock.notes()) notes += n + "\n";
        unrecorded = lock.unrecorded_folders();
    }
    for (const Case& c : cases) {
        EXPECT_EQ(fs::exists(fs::symlink_status(archive + "/" + c.name)), c.stays) << c.name;
        const bool noted = notes.find(archive + "/" + c.name) != std::string::npos;
        const auto listed = std::count(unrecorded.begin(), unrecorded.end(), c.name);
        EXPECT_EQ(noted + listed, c.said ? 1 : 0) << c.name << "\n" << notes;
        EXPECT_EQ(listed, c.said && c.kind == Folder ? 1 : 0) << c.name;
    }
    EXPECT_TRUE(fs::exists(archive + "/.TVNEW." + dead + ".0/page.1"));
    EXPECT_TRUE(fs::exists(root_ + "/private/key"));
}

// A folder hidden on its way out under a record of a dead owner: gone when the index no longer
// lists it, back under its name when it does; one the record does not name stays.
TEST_F(ChangeRecordTest, AHiddenDeletionIsFinishedOrPutBackAsTheIndexSays) {
    const std::string archive = root_ + "/arc";
    ASSERT_TRUE(fs::create_directory(archive));
    const std::string dead = dead_token();
    ASSERT_FALSE(dead.empty());
    write(archive + "/ARCHINFO.DAT", "KEPT.FUL\r\nd\r\nMon Dec 03 14:05:09 2007\r\n1\r\nFull\r\n");
    const std::string gone = ".TVDEL." + dead + ".1", back = ".TVDEL." + dead + ".2", other = ".TVDEL." + dead + ".3";
    for (const std::string& n : {gone, back, other}) {
        ASSERT_TRUE(fs::create_directory(archive + "/" + n));
        write(archive + "/" + n + "/MAIN.DAT", "x");
    }
    auto record = [&](int n, const std::string& name, const std::string& hidden) {
        write(archive + "/.TVREC." + dead + "." + std::to_string(n),
              "operation=delete\r\nowner=" + dead + "\r\nname=" + name + "\r\nhidden=" + hidden + "\r\n");
    };
    // A link in a hidden name the record gives is left, and what it leads to is not looked at.
    const std::string link = ".TVDEL." + dead + ".4";
    ASSERT_TRUE(fs::create_directory(root_ + "/private"));
    write(root_ + "/private/key", "private");
    fs::create_directory_symlink(root_ + "/private", archive + "/" + link);
    record(0, "GONE.FUL", gone);
    record(1, "KEPT.FUL", back);
    record(2, "LINK.FUL", link);
    {
        const ArchiveIndexLock lock(archive);
        ASSERT_TRUE(lock.held());
        ASSERT_EQ(lock.notes().size(), 3u);
        EXPECT_EQ(lock.unrecorded_folders(), std::vector<std::string>{other});
    }
    EXPECT_TRUE(fs::is_symlink(archive + "/" + link));
    EXPECT_TRUE(fs::exists(root_ + "/private/key"));
    EXPECT_TRUE(fs::exists(archive + "/.TVREC." + dead + ".2"));
    // In a group folder, which has no ARCHINFO.DAT, an archive folder on its way out goes.
    const std::string group = root_ + "/group";
    ASSERT_TRUE(fs::create_directories(group + "/" + gone));
    write(group + "/.TVREC." + dead + ".0",
          "operation=delete\r\nowner=" + dead + "\r\nname=ARC\r\nhidden=" + gone + "\r\n");
    {
        const ArchiveIndexLock lock(group);
        ASSERT_TRUE(lock.held());
    }
    EXPECT_FALSE(fs::exists(group + "/" + gone));
    EXPECT_FALSE(fs::exists(group + "/" + kArchiveIndexName));  // asked, never made
    EXPECT_FALSE(fs::exists(group + "/.TVREC." + dead + ".0"));
    EXPECT_FALSE(fs::exists(archive + "/" + gone));
    EXPECT_FALSE(fs::exists(archive + "/" + back));
    EXPECT_TRUE(fs::exists(archive + "/KEPT.FUL/MAIN.DAT"));
    EXPECT_TRUE(fs::exists(archive + "/" + other + "/MAIN.DAT"));
    EXPECT_FALSE(fs::exists(archive + "/.TVREC." + dead + ".0"));
    EXPECT_FALSE(fs::exists(archive + "/.TVREC." + dead + ".1"));
}

TEST_F(ChangeRecordTest, ARecordIsSettledOnlyOnceItsOwnerLetsGo) {
    const std::string archive = root_ + "/arc";
    ASSERT_TRUE(fs::create_directory(archive));
    ASSERT_TRUE(fs::create_directory(archive + "/A.FUL"));
    ChangeRecord record;
    std::string staging;
    {
        const ArchiveIndexLock lock(archive);
        ASSERT_TRUE(record.begin(lock, kRecordStore));
        staging = archive + "/" +
                  archive_io::make_hidden_folder_at(lock.folder_fd(), archive_io::new_hidden_name("NEW")).name;
        ASSERT_TRUE(record.note("staging", fs::path(staging).filename().string()));
    }
    // Another holder of the lock while the owner works: nothing of it is touched. (A forked
    // child is another process with an open file description of its own.)
    const pid_t child = ::fork();
    if (child == 0) {
        const ArchiveIndexLock lock(archive);
        ::_exit(lock.held() && lock.notes().empty() && fs::exists(staging) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The owner lets go without finishing (as a kill does): the next holder undoes the store.
    record = ChangeRecord();
    {
        const ArchiveIndexLock lock(archive);
        ASSERT_EQ(lock.notes().size(), 1u);
        EXPECT_NE(lock.notes()[0].find("Undid an interrupted store"), std::string::npos) << lock.notes()[0];
    }
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(archive)) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".TVINDEX.LCK", "A.FUL"}));
}

}  // namespace
}  // namespace tv
