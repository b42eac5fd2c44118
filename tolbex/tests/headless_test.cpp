// What a hidden command-line run guarantees: no window, no change to the remembered archive
// groups, no event-log entry, no blocking prompt, and a refused start when logging cannot run.
#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <thread>

#include "common/audit_log.h"
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

class HeadlessTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        g = t / "G";
        make_group(g, {{"STANDARD", "STANDARD"}});
        append_entry(g / "STANDARD", {"R.FUL", "Report", "Wed Jan 02 02:03:55 1980", "100", "Full"});
        write_file(g / "STANDARD" / "R.FUL" / "PATIENT.TXT", patient_txt("ABCD1234566"));
        hkcu = root / "user" / "registry" / "HKCU.reg";
        hklm = root / "registry" / "HKLM.reg";
        write_hive(hkcu, "[Software\\Torvane Medical\\Calvera\\Archives]\r\n\"Archive 0\"=\"" + g.string() +
                             "\"\r\n\"Archive 1\"=\"" + (t / "G2").string() + "\"\r\n\"Default Archive\"=\"" +
                             g.string() + "\"\r\n");
    }

    std::vector<std::string> find_args() const {
        return {"/find", "RECORDING_ID", "ABCD1234566", g.string(), (t / "out.txt").string(), "x"};
    }

    fs::path g, hkcu, hklm;
};

TEST_F(HeadlessTest, ActionsLeaveProfileAndEventLogAlone) {
    const std::string before = read_file(hkcu);
    auto r = run(find_args());
    EXPECT_EQ(r.code, 1);
    write_file(t / "src" / "x.TVZ", tvz_literal_entry("REPINFO.TXT", "D\r\n510\r\n1\r\n1\r\n") + report_files_tvz());
    EXPECT_EQ(run({"/storefolder", (t / "src").string(), g.string(), "STANDARD", "NONE"}).code, 0);
    EXPECT_EQ(run({"/export", "TVZ", (g / "STANDARD" / "R.FUL").string(), (t / "R.TVZ").string()}).code, 0);
    EXPECT_EQ(read_file(hkcu), before);
    EXPECT_FALSE(fs::exists(root / "log" / "eventlog.txt"));
    // The clinic-code warning is a line on stderr, not a prompt.
    EXPECT_NE(r.err.find("The Clinic Code has not been set."), std::string::npos) << r.err;
    // The file types are registered for this program.
    const std::string hkcr = read_file(root / "registry" / "HKCR.reg");
    EXPECT_NE(hkcr.find("PobtanZip"), std::string::npos);
    EXPECT_NE(hkcr.find("PobtanCEF"), std::string::npos);
    EXPECT_NE(hkcr.find("/mail \\\"%1\\\""), std::string::npos) << hkcr;
}

TEST_F(HeadlessTest, ClinicCodeSetMeansNoWarning) {
    write_hive(hkcu, "[Software\\Torvane Medical\\Calvera\\Pelwin]\r\n\"Clinic\"=\"ABCD\"\r\n");
    auto r = run(find_args());
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "");
}

TEST_F(HeadlessTest, LoggingWithoutDescriptorFileRefusesToStart) {
    write_hive(hklm, "[Software\\Torvane Medical\\Quorril]\r\n\"Enable Logging\"=\"YES please\"\r\n");
    auto r = run(find_args());
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("Calvera cannot run, because the event log descriptor file cannot be found."),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(t / "out.txt"));  // the action never ran

    // TIMI forces logging on: the same refusal.
    write_hive(hklm, "[Software\\Torvane Medical\\Quorril]\r\n\"Enable TIMI Rozaze\"=\"yes\"\r\n");
    EXPECT_NE(run(find_args()).code, 0);
    EXPECT_FALSE(fs::exists(t / "out.txt"));
    // A two-letter value is off.
    write_hive(hklm, "[Software\\Torvane Medical\\Quorril]\r\n\"Enable Logging\"=\"ye\"\r\n");
    EXPECT_EQ(run(find_args()).code, 1);
}

TEST_F(HeadlessTest, LoggingWithDescriptorFileAuditsTheExport) {
    write_file(t / "msg.so", "descriptor");
    write_hive(hklm,
               "[Software\\Torvane Medical\\Quorril]\r\n\"Enable Logging\"=\"Yes\"\r\n"
               "[Software\\Torvane Medical\\Log]\r\n\"DLL Install Path\"=\"" +
                   (t / "msg.so").string() + "\"\r\n");
    auto r = run({"/export", "TVZ", (g / "STANDARD" / "R.FUL").string(), (t / "R.TVZ").string(), "x"});
    EXPECT_EQ(r.code, 0) << r.err;
    bool found_log = false;
    for (auto& e : fs::directory_iterator(g / "STANDARD"))
        if (e.path().filename().string().rfind("TV", 0) == 0 && e.path().extension() == ".LOG") {
            found_log = true;
            EXPECT_NE(read_file(e.path()).size(), 4u);  // a record beyond the register
        }
    EXPECT_TRUE(found_log);
    EXPECT_FALSE(fs::exists(root / "log" / "eventlog.txt"));  // the command line was not empty
}

// Something planted at the audit log's name (a link, a FIFO, a second name of another file) is
// refused, and the message names the file and why: trying again would not help.
TEST_F(HeadlessTest, ARefusedAuditLogIsNamedWithWhy) {
    write_file(t / "msg.so", "descriptor");
    write_hive(hklm,
               "[Software\\Torvane Medical\\Quorril]\r\n\"Enable Logging\"=\"Yes\"\r\n"
               "[Software\\Torvane Medical\\Log]\r\n\"DLL Install Path\"=\"" +
                   (t / "msg.so").string() + "\"\r\n");
    const std::string log = tv::AuditLog::make_file_name((g / "STANDARD").string(), std::time(nullptr));
    write_file(t / "elsewhere", "another file");
    struct Planted {
        std::function<int()> plant;
        const char* why;
    };
    for (const Planted& p :
         {Planted{[&] { return ::symlink((t / "elsewhere").c_str(), log.c_str()); },
                  "is a link, which is not followed"},
          Planted{[&] { return ::mkfifo(log.c_str(), 0666); }, "is not a plain file"},
          Planted{[&] { return ::link((t / "elsewhere").c_str(), log.c_str()); }, "has another name elsewhere too"}}) {
        fs::remove(log);
        ASSERT_EQ(p.plant(), 0);
        const RunResult r = run({"/export", "TVZ", (g / "STANDARD" / "R.FUL").string(), (t / "R.TVZ").string(), "x"});
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find("the log file \"" + log + "\" " + p.why), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Please attempt the operation again"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(t / "R.TVZ"));
    }
    EXPECT_EQ(read_file(t / "elsewhere"), "another file");
}

// Operators exporting from one archive side by side take turns on its audit log: no run is told
// that the log cannot be opened, and every export has its entry.
TEST_F(HeadlessTest, ExportsSideBySideAllGetTheirAuditEntry) {
    constexpr int kProcesses = 12, kRounds = 20;
    write_file(t / "msg.so", "descriptor");
    write_hive(hklm,
               "[Software\\Torvane Medical\\Quorril]\r\n\"Enable Logging\"=\"Yes\"\r\n"
               "[Software\\Torvane Medical\\Log]\r\n\"DLL Install Path\"=\"" +
                   (t / "msg.so").string() + "\"\r\n");
    for (int round = 0; round < kRounds; ++round) {
        std::vector<RunResult> results(kProcesses);
        std::vector<std::thread> runs;
        for (int i = 0; i < kProcesses; ++i)
            runs.emplace_back([&, i] {
                const std::string out = (t / ("R" + std::to_string(i) + ".TVZ")).string();
                results[i] = run({"/export", "TVZ", (g / "STANDARD" / "R.FUL").string(), out, "x"}, 120);
            });
        for (auto& r : runs) r.join();
        for (int i = 0; i < kProcesses; ++i) ASSERT_EQ(results[i].code, 0) << round << "/" << i << results[i].err;
    }
    int logs = 0;
    for (auto& e : fs::directory_iterator(g / "STANDARD"))
        if (e.path().filename().string().rfind("TV", 0) == 0 && e.path().extension() == ".LOG") {
            ++logs;
            const tv::AuditFileCheck check = tv::read_audit_log_file(e.path().string());
            EXPECT_TRUE(check.crc_ok);
            EXPECT_TRUE(check.complete);
            EXPECT_EQ(check.records.size(), static_cast<std::size_t>(kProcesses * kRounds));
        }
    EXPECT_EQ(logs, 1);
}

TEST_F(HeadlessTest, StartsThatNeedTheMainWindowSayWhy) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"/disable_browse"}, {"/find", "RECORDING_ID", "X", g.string(), "o.txt", "x", "/from_gui"}}) {
        auto r = run(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("not available in this build"), std::string::npos) << r.err;
    }
    // Printing a report without a printer fails on its own, and the report stays.
    auto r = run({"/print", (g / "STANDARD" / "R.FUL").string(), "1", "1", "1", "0", "N"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(fs::exists(g / "STANDARD" / "R.FUL"));
}

}  // namespace
}  // namespace cli
