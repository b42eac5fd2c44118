// What a desktop session sees of the built program: hidden runs in the user's time locale, a
// logout (SIGTERM) that ends the window in order, and leftovers of killed runs cleared at the
// next start.
#include <clocale>
#include <ctime>

#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

class DesktopSessionTest : public CliTest {
protected:
    // Starts tolbex with `env` and no arguments, standard output and error in files under t.
    pid_t start(const std::vector<std::string>& env) {
        std::vector<std::string> argv = {TOLBEX_PROGRAM}, e = env;
        std::vector<char*> args, envp;
        for (auto& s : argv) args.push_back(s.data());
        args.push_back(nullptr);
        for (auto& s : e) envp.push_back(s.data());
        envp.push_back(nullptr);
        const std::string out = (t / "out.txt").string(), err = (t / "err.txt").string();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(0);
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int x = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || x < 0) ::_exit(126);
            ::dup2(o, 1);
            ::dup2(x, 2);
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        return pid;
    }
    // Its exit code once it has ended, -1 when it had to be killed after a minute.
    static int wait_for(pid_t pid) {
        int status = 0;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (::waitpid(pid, &status, WNOHANG) != pid) {
            if (std::chrono::steady_clock::now() > limit) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // A process number that no process has now.
    static pid_t ended_pid() {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(0);
        ::waitpid(pid, nullptr, 0);
        return pid;
    }
};

TEST_F(DesktopSessionTest, HiddenRunsWriteDatesInTheUsersLocale) {
    locale_t de = ::newlocale(LC_TIME_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (!de) GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/install-deps makes it)";
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char day_de[32], day_c[32];
    day_de[::strftime_l(day_de, sizeof day_de, "%a ", &tm, de)] = '\0';
    ::freelocale(de);
    day_c[std::strftime(day_c, sizeof day_c, "%a ", &tm)] = '\0';  // the test runs in the C locale

    const fs::path g = t / "G";
    make_group(g, {{"STANDARD", "STANDARD"}});
    fs::create_directories(t / "src");
    const std::vector<std::string> args = {TOLBEX_PROGRAM, "/storefolder", (t / "src").string(),
                                           g.string(),     "STANDARD",     "store.log"};
    auto r = tv::platform::testing::run_captured(args, environment({"LC_ALL=de_DE.UTF-8"}), t.string(), 60);
    EXPECT_EQ(r.code, 1) << r.err;  // nothing to store
    const std::string log = read_file(t / "src" / "store.log");
    EXPECT_NE(log.find(day_de), std::string::npos) << log;
    EXPECT_EQ(log.find(day_c), std::string::npos) << log;
}

TEST_F(DesktopSessionTest, LogoutEndsTheWindowWithItsEndEntryAndKilledRunsLeftoversGo) {
    write_file(t / "msg.so", "descriptor");
    write_hive(root / "registry" / "HKLM.reg",
               "[Software\\Torvane Medical\\Quorril]\r\n\"Enable Logging\"=\"Yes\"\r\n"
               "[Software\\Torvane Medical\\Log]\r\n\"DLL Install Path\"=\"" +
                   (t / "msg.so").string() + "\"\r\n");
    write_hive(root / "user" / "registry" / "HKCU.reg",
               "[Software\\Torvane Medical\\Calvera\\Pelwin]\r\n\"Clinic\"=\"ABCD\"\r\n");
    const std::string dead = std::to_string(ended_pid()), alive = std::to_string(::getpid());
    struct Left {
        std::string name;
        bool stays;
    } left[] = {
        {"TV-" + dead + "-a1B2c3", false},  // ours, its process gone: an unpacked report, say
        {"TV-" + dead + "-a1B2c3d4.CEF", false},
        {"TV-" + alive + "-a1B2c3", true},  // its process still runs
        {"TVa1B2c3", true},                 // not a name we give
        {"TV-" + dead + "-x", true},        // too short to be ours
    };
    for (const auto& l : left) write_file(tmp / l.name / "PATIENT.TXT", "Doe, Jane");
    fs::create_symlink(t / "elsewhere", tmp / ("TV-" + dead + "-linked"));
    fs::create_directories(t / "elsewhere");

    const fs::path events = root / "log" / "eventlog.txt";
    const pid_t pid = start(environment({"QT_QPA_PLATFORM=offscreen"}));
    ASSERT_GT(pid, 0);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(events) && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(events)) << read_file(t / "err.txt");
    for (const auto& l : left) EXPECT_EQ(fs::exists(tmp / l.name), l.stays) << l.name;
    EXPECT_TRUE(fs::is_symlink(tmp / ("TV-" + dead + "-linked")));
    EXPECT_TRUE(fs::exists(t / "elsewhere"));

    ::kill(pid, SIGTERM);
    EXPECT_EQ(wait_for(pid), 0) << read_file(t / "err.txt");
    const auto lines = split_lines(read_file(events));
    ASSERT_EQ(lines.size(), 2u) << read_file(events);  // the start, then the end
    for (const auto& l : lines) EXPECT_NE(l.find("Brisco Torvane Medical Calvera"), std::string::npos) << l;
    EXPECT_NE(lines[0].find("\t0\t1\t"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\t0\t3\t"), std::string::npos) << lines[1];
}

}  // namespace
}  // namespace cli
