// The check beside the browser's writers on one archive: stores that run while it checks, and an
// archive that changes or is locked while a deletion question is open.
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "brackmor/program.h"
#include "brackmor/tests/brackmor_fixture.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"

namespace tv::brackmor::testing {
namespace {

using SharingTest = BrackmorTest;

// A question is answered after the archive changed: a folder that another program listed
// meanwhile is not deleted, and a folder whose archive another program holds locked is left.
TEST_F(SharingTest, TheArchiveChangesWhileAQuestionIsOpen) {
    make({"ARCHDIR.DAT=ARC|Arch|", "arc/A.FUL/MAIN.DAT", "arc/B.XYZ/",
          "arc/ARCHINFO.DAT=K.OSB|Kept|05/03/07 14:30:00|1|Ostrabel|", "arc/K.OSB/"});
    Dialogue run(root_.path(), {base(), "/NW", "/DR"});
    ASSERT_TRUE(run.wait_for("(Y/N)? ")) << run.out();
    const std::string stored = "A.FUL\r\nStored meanwhile\r\nMon Mar 05 14:30:00 2007\r\n1\r\nFull\r\n";
    ASSERT_TRUE(platform::append_to_file(at("arc/ARCHINFO.DAT"), stored));
    run.answer("Y\n");
    ASSERT_TRUE(run.wait_for("(Y/N)? ", 2)) << run.out();
    {
        const ArchiveIndexLock held(at("arc"));
        ASSERT_TRUE(held.held());
        run.answer("Y\n");
        EXPECT_EQ(run.finish(), kExitArchiveBusy);
    }
    EXPECT_TRUE(exists("arc/A.FUL/MAIN.DAT"));
    EXPECT_TRUE(exists("arc/B.XYZ"));
    EXPECT_EQ(read("arc/ARCHINFO.DAT"), "K.OSB|Kept|05/03/07 14:30:00|1|Ostrabel|" + replace_all(stored, "\r\n", "|"));
    EXPECT_NE(run.out().find(base() + "/arc/A.FUL is listed again - it is not deleted."), std::string::npos)
        << run.out();
    EXPECT_NE(run.out().find("Unable to lock the archive " + base() + "/arc"), std::string::npos) << run.out();

    // Locked throughout, the archive is skipped: its index and generations stay as they are.
    const std::string index = read("arc/ARCHINFO.DAT"), saved = read("arc/ARCHINFO.SAV");
    const ArchiveIndexLock held(at("arc"));
    const RunResult skipped = check({"/NW", "/DR"}, "Y\nY\n");
    EXPECT_EQ(skipped.code, kExitArchiveBusy);
    EXPECT_EQ(read("arc/ARCHINFO.DAT"), index);
    EXPECT_EQ(read("arc/ARCHINFO.SAV"), saved);
    EXPECT_FALSE(exists("arc/ARCHINFO.1.SAV"));
    EXPECT_EQ(read("ARCHDIR.DAT"), "arc|Arch|");
}

// Reports stored while the check runs again and again, with /DR answered Y: each stays listed
// once, with its folder and all its files, whenever the check looked.
TEST_F(SharingTest, StoresWhileTheCheckRuns) {
    constexpr int kStores = 12;
    make({"ARCHDIR.DAT=ARC|Arch|", "arc/", "src/{MAIN.DAT,PATIENT.DAT,COMBTIME.DAT,COMBFLAG.DAT,RAWECG1.DAT}"});
    // Each file of a store takes a while, so that the check runs inside many stores.
    struct SlowProgress : ProgressWindow {
        void set_text(const std::string&) override { std::this_thread::sleep_for(std::chrono::milliseconds(15)); }
    };
    const pid_t storer = platform::testing::fork_child([&] {
        SlowProgress progress;
        int failed = 0;
        for (int i = 0; i < kStores; ++i)
            if (store_report_in_archive(at("arc"), at("src"), "Stored " + std::to_string(i), 1, 1173105000 + i,
                                        kReportFull, nullptr, &progress) != kStoreOk)
                ++failed;
        return failed;
    });
    int runs = 0, status = 0;
    for (; ::waitpid(storer, &status, WNOHANG) == 0; ++runs) {
        const RunResult r = check({"/NW", "/DR"}, std::string(200, 'Y'));
        EXPECT_TRUE(r.code == 0 || r.code == kExitArchiveBusy) << r.out;
    }
    EXPECT_GT(runs, 1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "stores failed: " << WEXITSTATUS(status);
    const RunResult last = check({"/NW", "/DR"}, std::string(200, 'Y'));
    EXPECT_EQ(last.code, 0) << last.out;
    ReportArchive archive(at("arc"), "Arch");
    std::set<std::string> names, descriptions;
    for (int i = 0; i < archive.get_count(); ++i) {
        const ReportRecord* r = archive.get_record(i);
        EXPECT_TRUE(names.insert(upper(r->get_name())).second) << r->get_name();
        descriptions.insert(r->get_description());
        EXPECT_EQ(platform::testing::sorted_names(r->get_folder_path()).size(), 5u) << r->get_name();
    }
    EXPECT_EQ(descriptions.size(), std::size_t(kStores));
    EXPECT_EQ(names.size(), std::size_t(kStores));
}

}  // namespace
}  // namespace tv::brackmor::testing
