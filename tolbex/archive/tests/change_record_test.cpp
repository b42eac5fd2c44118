// What killed writers leave in an archive, as the next holder of its lock finds it.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST_F(ChangeRecordTest, TheNextLockClearsWhatDeadOwnersLeftAndNothingElse) {
    const std::string archive = root_ + "/arc";
    ASSERT_TRUE(fs::create_directory(archive));
    const std::string dead = dead_token(), own = platform::own_process_token();
    ASSERT_FALSE(dead.empty());
    const std::string other_boot = own.substr(0, own.rfind('-')) + "-0badb007";
    struct Case {
        std::string name;
        bool folder;
        bool stays;
    };
    const Case cases[] = {
        {".ARCHINFO.DAT.tmp." + dead + ".0.1234abcd", false, false},
        {".archdir.dat.tmp." + dead + ".3", false, false},
        {".ARCHINFO.DAT.tmp." + other_boot + ".1.1", false, false},  // indexes change only under the lock
        {".ARCHINFO.DAT.tmp." + own + ".2.1", false, true},          // its writer still runs
        {".TVNEW." + dead + ".0", true, false},
        {".TVDEL." + dead + ".1", true, false},
        {".TVNEW." + own + ".7", true, true},
        {".TVNEW." + other_boot + ".7", true, true},  // cannot be told here
        {".TVNEW.4711.0.5e2f", true, true},           // an older program's: no start time
        {".PATIENT.TXT.tmp." + dead + ".1", false, true},
        {"X.FUL", true, true},
    };
    for (const Case& c : cases) {
        if (c.folder) {
            ASSERT_TRUE(fs::create_directory(archive + "/" + c.name));
            write(archive + "/" + c.name + "/page.1", "page");
        } else {
            write(archive + "/" + c.name, "partial");
        }
    }
    {
        const ArchiveIndexLock lock(archive);
        ASSERT_TRUE(lock.held());
        EXPECT_EQ(lock.notes().size(), 5u);
    }
    for (const Case& c : cases) EXPECT_EQ(fs::exists(archive + "/" + c.name), c.stays) << c.name;
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
