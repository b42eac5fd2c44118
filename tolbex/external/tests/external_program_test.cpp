// The external program: its argument vector, the runs with their stop rules, the error file and
// the messages, with a shell script written by each test standing in for the site's program.
#include "tolbex/external/external_program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/files.h"
#include "common/runner.h"
#include "testing/app_test_root.h"
#include "platform/fs.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using testing_root::write_file;

std::string read_text(const fs::path& p) {
    std::vector<std::uint8_t> bytes;
    if (!tv::platform::read_whole_file(p.string(), bytes)) return {};
    return std::string(bytes.begin(), bytes.end());
}

class ExternalProgramTest : public testing_root::RootTest {
protected:
    ExternalProgramTest() : RootTest(TmpDir::Inside) {}
    // A script that logs "$#|$1|$2|$3" per call and then runs `body` (with N = the call number).
    std::string script(const std::string& body, const fs::path& name = "prog.sh") {
        const fs::path path = t / name;
        fs::create_directories(path.parent_path());
        write_file(path, "#!/bin/sh\nn=$(($(cat '" + (t / "count").string() +
                             "' 2>/dev/null || echo 0) + 1))\necho $n > '" + (t / "count").string() +
                             "'\nprintf '%s|%s|%s|%s\\n' \"$#\" \"$1\" \"$2\" \"$3\" >> '" + log().string() + "'\n" +
                             body + "\nexit 0\n");
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }
    fs::path log() const { return t / "log.txt"; }
    std::vector<ExternalJobEntry> three_jobs() const {
        return {{(t / "R1.FUL").string(), "First", 2},
                {(t / "R2.PRT").string(), "Second", 1},
                {(t / "R3.RAW").string(), "Third", 3}};
    }
};

TEST_F(ExternalProgramTest, ProgramNameSplitsIntoWordsAndTheJobFollowsAsSeparateArguments) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"/opt/feed", {"/opt/feed"}},
        {"/opt/feed -q  --site=7", {"/opt/feed", "-q", "--site=7"}},
        {"\"/opt/my tools/feed\" -q", {"/opt/my tools/feed", "-q"}},
        {"feed \"a b\"\"c\"", {"feed", "a bc"}},
        {"", {}},
    };
    for (const auto& [name, words] : cases) EXPECT_EQ(split_program_name(name), words) << name;

    // An executable whose path holds a blank is one word even unquoted.
    const fs::path spaced = t / "my tools" / "feed";
    write_file(spaced, "#!/bin/sh\n");
    fs::permissions(spaced, fs::perms::owner_all);
    EXPECT_EQ(split_program_name(spaced.string()), std::vector<std::string>{spaced.string()});

    ExternalProgramSettings s;
    s.program_name = "/opt/feed -q";
    const ExternalJobEntry job{"/arch/a\"b$(x)", "Mira", 2};
    EXPECT_EQ(external_program_argv(s, job), (std::vector<std::string>{"/opt/feed", "-q", "2", "/arch/a\"b$(x)"}));
    s.error_file_name = "/var/err file.txt";
    EXPECT_EQ(external_program_argv(s, job),
              (std::vector<std::string>{"/opt/feed", "-q", "2", "/arch/a\"b$(x)", "/var/err file.txt"}));
}

TEST_F(ExternalProgramTest, ANonZeroExitStopsTheRunAndIsReported) {
    ExternalProgramSettings s;
    s.program_name = script("[ $n = 2 ] && exit 3");
    ExternalRunState state;
    run_external_jobs(s, three_jobs(), state);
    EXPECT_EQ(state.result.load(), 3);
    EXPECT_EQ(read_text(log()), "2|2|" + (t / "R1.FUL").string() + "|\n2|1|" + (t / "R2.PRT").string() + "|\n");
    report_external_result(s, state.result.load());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "The external program returned an error code of 3");
}

// The Options check accepts such a name because it splits it here too.
TEST_F(ExternalProgramTest, AProgramInAFolderWithABlankRunsUnquoted) {
    ExternalProgramSettings s;
    s.program_name = script("", fs::path("site tools") / "export");
    ExternalRunState state;
    run_external_jobs(s, {three_jobs()[0]}, state);
    EXPECT_EQ(state.result.load(), 0);
    EXPECT_EQ(read_text(log()), "2|2|" + (t / "R1.FUL").string() + "|\n");
}

TEST_F(ExternalProgramTest, EveryReportRunsAndNothingIsSaidWhenAllSucceed) {
    ExternalProgramSettings s;
    s.program_name = script("");
    ExternalRunState state;
    run_external_jobs(s, three_jobs(), state);
    EXPECT_EQ(state.result.load(), 0);
    EXPECT_EQ(read_text(t / "count"), "3\n");
    report_external_result(s, 0);
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(ExternalProgramTest, AnErrorFileEndsTheRunAndIsShownWithTheReportAppended) {
    ExternalProgramSettings s;
    s.error_file_name = (t / "errors" / "feed.err").string();
    s.program_name = script("[ $n = 1 ] && printf 'disk full' > \"$3\"");
    ASSERT_TRUE(prepare_error_file(s.error_file_name));
    EXPECT_TRUE(fs::is_directory(t / "errors"));
    ExternalRunState state;
    run_external_jobs(s, three_jobs(), state);
    EXPECT_EQ(read_text(t / "count"), "1\n");
    EXPECT_EQ(read_text(s.error_file_name), "disk full\n\nReport: \"First\"\n");
    report_external_result(s, state.result.load());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "disk full\n\nReport: \"First\"\n");
    EXPECT_EQ(scripted.shown[0].caption, "The external program returned this error message:");
    EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Error);

    // The next hand-over starts without the old file.
    ASSERT_TRUE(prepare_error_file(s.error_file_name));
    EXPECT_FALSE(fs::exists(s.error_file_name));
}

// What the program left in the error file's place that is no plain file is named, never waited
// on (a FIFO) or written through (a link).
TEST_F(ExternalProgramTest, AnErrorFileThatIsNoPlainFileIsNamedNotOpened) {
    write_file(t / "victim", "secret\n");
    const std::pair<const char*, const char*> cases[] = {
        {"mkfifo \"$3\"", "is not a plain file."},
        {"ln -s victim \"$3\"", "is a link, which is not followed."},
    };
    for (const auto& [make, said] : cases) {
        SCOPED_TRACE(make);
        scripted.shown.clear();
        ExternalProgramSettings s;
        s.error_file_name = (t / "feed.err").string();
        s.program_name = script(make);
        ASSERT_TRUE(prepare_error_file(s.error_file_name));
        ExternalRunState state;
        run_external_jobs(s, three_jobs(), state);
        EXPECT_EQ(read_text(t / "count"), "1\n");
        report_external_result(s, state.result.load());
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text, "\"" + s.error_file_name + "\" " + said);
        EXPECT_EQ(read_text(t / "victim"), "secret\n");
        fs::remove(t / "count");
    }
}

// A program that ran is never reported as one that could not start: an exit status of 255 is its
// code, and a signal that ended it is named.
TEST_F(ExternalProgramTest, AProgramThatRanIsReportedAsWhatHappened) {
    const std::pair<const char*, const char*> cases[] = {
        {"exit 255", "The external program returned an error code of 255"},
        {"kill -KILL $$", "The external program was ended by signal 9 (KILL)."},
        {"kill -SEGV $$", "The external program was ended by signal 11 (SEGV)."},
    };
    for (const auto& [body, said] : cases) {
        SCOPED_TRACE(body);
        scripted.shown.clear();
        ExternalProgramSettings s;
        s.program_name = script(body);
        ExternalRunState state;
        run_external_jobs(s, three_jobs(), state);
        EXPECT_EQ(read_text(t / "count"), "1\n") << "the run stops at the first";
        report_external_result(s, state.result.load(), state.signal.load());
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text, said);
        fs::remove(t / "count");
    }
}

TEST_F(ExternalProgramTest, AMissingProgramIsReportedByName) {
    ExternalProgramSettings s;
    s.program_name = (t / "no-such-program").string() + " -q";
    ExternalRunState state;
    run_external_jobs(s, three_jobs(), state);
    EXPECT_EQ(state.result.load(), -1);
    report_external_result(s, state.result.load());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "Can't run the external program:\n" + s.program_name);
}

TEST_F(ExternalProgramTest, AFolderNameIsNeverReadByAShell) {
    ExternalProgramSettings s;
    s.program_name = script("");
    const std::string folder =
        (t / "a\"b").string() + "$(touch " + (t / "pwn").string() + ")`touch " + (t / "pwn2").string() + "`";
    ExternalRunState state;
    run_external_jobs(s, {{folder, "Mira", 0}}, state);
    EXPECT_EQ(state.result.load(), 0);
    EXPECT_EQ(read_text(log()), "2|0|" + folder + "|\n");
    EXPECT_FALSE(fs::exists(t / "pwn"));
    EXPECT_FALSE(fs::exists(t / "pwn2"));
}

TEST_F(ExternalProgramTest, AnErrorFileFolderThatCannotBeMadeEndsTheHandOver) {
    write_file(t / "plain", "x");
    EXPECT_FALSE(prepare_error_file((t / "plain" / "sub" / "e.txt").string()));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "The error file folder cannot be created:\n" + (t / "plain" / "sub").string());
}

TEST_F(ExternalProgramTest, ALongErrorFileIsShownCut) {
    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "line " + std::to_string(i) + "\n";
    write_file(t / "e.txt", lines);
    const std::string shown = error_file_message((t / "e.txt").string());
    EXPECT_EQ(shown, lines.substr(0, lines.find("line 40\n")) + "...");
    write_file(t / "e.txt", std::string(20000, 'x'));
    EXPECT_EQ(error_file_message((t / "e.txt").string()), std::string(kErrorFileShownBytes, 'x') + "...");
    write_file(t / "e.txt", "short\n");
    EXPECT_EQ(error_file_message((t / "e.txt").string()), "short\n");
}

TEST_F(ExternalProgramTest, OneWorkerAtATime) {
    ExternalProgramSettings s;
    // The first run waits at a gate the test opens once the second has been refused.
    const fs::path gate = t / "gate";
    s.program_name = script("[ \"$n\" = 1 ] && while [ ! -e '" + gate.string() + "' ]; do sleep 0.05; done");
    const auto first = start_external_jobs(s, {{(t / "R1.FUL").string(), "First", 0}});
    ASSERT_TRUE(first);
    EXPECT_TRUE(external_jobs_running());
    EXPECT_FALSE(start_external_jobs(s, {{(t / "R2.FUL").string(), "Second", 0}}));
    EXPECT_FALSE(first->done.load());
    write_file(gate, "");
    for (int i = 0; i < 500 && !first->done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(first->done.load());
    EXPECT_EQ(first->result.load(), 0);
    for (int i = 0; i < 100 && external_jobs_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(external_jobs_running());
    const auto second = start_external_jobs(s, {{(t / "R2.FUL").string(), "Second", 0}});
    ASSERT_TRUE(second);
    for (int i = 0; i < 500 && !second->done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(read_text(t / "count"), "2\n");
}

}  // namespace
}  // namespace tv
