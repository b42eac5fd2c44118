// The writers of shared files under SIGKILL at random moments, under writes that fail for want
// of space, and two at a time. The writer runs as a separate process (crashwriter) through the
// real API; this side only reads, through the real readers.
//
// TV_CRASH_KILLS sets the kills per writer (default keeps CI short; 1000 by hand),
// TV_CRASH_RECORDS the records each concurrent writer appends, TV_CRASH_SEED the random seed.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/registry.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/tests/archive_test_root.h"
#include "tools/crashwriter/crash_scenarios.h"

namespace tv::crash {
namespace {

namespace fs = std::filesystem;

constexpr const char* kWriter = TV_CRASHWRITER_PROGRAM;

int env_number(const char* name, int fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    const int n = std::atoi(v);
    return n > 0 ? n : fallback;
}

int kills_per_writer() { return env_number("TV_CRASH_KILLS", 40); }
int records_per_writer() { return env_number("TV_CRASH_RECORDS", 60); }

unsigned test_seed() {
    static const unsigned seed = static_cast<unsigned>(env_number("TV_CRASH_SEED", 0)) != 0
                                     ? static_cast<unsigned>(env_number("TV_CRASH_SEED", 0))
                                     : std::random_device{}();
    return seed;
}

class CrashSafetyTest : public testing_root::ArchiveTestRoot {
protected:
    void SetUp() override {
        ArchiveTestRoot::SetUp();
        data_ = root_ + "/data";
        fs::create_directories(data_);
        progress_ = root_ + "/progress";
        RecordProperty("seed", static_cast<int>(test_seed()));
    }

    static platform::ChildProcess start(std::vector<std::string> args) {
        args.insert(args.begin(), kWriter);
        platform::ChildProcess child;
        EXPECT_TRUE(platform::spawn_process(args, child)) << kWriter;
        return child;
    }
    static int run(std::vector<std::string> args) {
        platform::ChildProcess child = start(std::move(args));
        return platform::wait_process(child);
    }
    long progress() const {
        struct stat st;
        return ::stat(progress_.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
    }
    // Waits until the child finished `steps` steps; false (with its wait status) when it ended first.
    bool wait_for_progress(platform::ChildProcess& child, long steps, int& code) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (progress() < steps) {
            if (platform::try_wait_process_status(child, code)) return false;
            if (std::chrono::steady_clock::now() > deadline) {
                code = -100;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return true;
    }
    // Kills the child at a random moment: mostly while it is in its loop, sometimes while it
    // starts. Its exit code must say it was killed, not that it gave up on its own.
    void kill_at_random(platform::ChildProcess& child, std::mt19937& rng) {
        int code = 0;
        if (rng() % 4 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        } else {
            ASSERT_TRUE(wait_for_progress(child, 1, code)) << "writer ended with status " << code;
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
        }
        ::kill(child.pid, SIGKILL);
        code = platform::wait_process(child);
        ASSERT_EQ(code, platform::kExitUnknown) << "the writer ended on its own";
    }

    std::string data_, progress_;
};

int advance(const Scenario& s, int state, long steps) {
    for (long i = 0; i < steps; ++i) state = s.next(state);
    return state;
}

// ---------------------------------------------------------------------------------------------
// The checker itself: the writers produce exactly the known bytes, and anything else is refused.

TEST_F(CrashSafetyTest, WritersStepThroughTheKnownContents) {
    for (const Scenario* s : all_scenarios()) {
        SCOPED_TRACE(s->name());
        fs::remove_all(data_);
        fs::create_directories(data_);
        ASSERT_TRUE(s->prepare(data_));
        ASSERT_EQ(s->identify(data_), 0);
        int state = 0;
        for (int i = 0; i < s->period() + 1; ++i) {
            ASSERT_TRUE(s->step(data_, state)) << "from state " << state;
            state = s->next(state);
            ASSERT_EQ(s->identify(data_), state) << read(s->file_path(data_));
        }
        EXPECT_TRUE(leftover_temp_files(data_).empty());
    }
    EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(CrashSafetyTest, ArchiveIndexGoldenBytes) {
    const Scenario& s = *find_scenario("archinfo");
    EXPECT_EQ(s.expected(0),
              "S0E0.FUL\r\nState 0 entry 0\r\nFri Jan 02 00:00:00 1970\r\n0\r\nFull\r\n"
              "S0E1.FUL\r\nState 0 entry 1\r\nFri Jan 02 01:00:00 1970\r\n1\r\nFull\r\n"
              "S0E2.FUL\r\nState 0 entry 2\r\nFri Jan 02 02:00:00 1970\r\n2\r\nFull\r\n");
    ASSERT_TRUE(s.prepare(data_));
    ASSERT_TRUE(s.step(data_, 0));
    const std::string text = read(s.file_path(data_));
    EXPECT_EQ(text.substr(0, 53), "S1E0.FUL\r\nState 1 entry 0\r\nSat Jan 03 00:00:00 1970\r\n");
}

TEST_F(CrashSafetyTest, TornAndForeignFilesAreNotTakenForAState) {
    for (const Scenario* s : all_scenarios()) {
        SCOPED_TRACE(s->name());
        const std::string whole = s->expected(1);
        const std::string path = s->file_path(data_);
        for (std::size_t cut : {std::size_t{1}, whole.size() / 3, whole.size() / 2, whole.size() - 1}) {
            write(path, whole.substr(0, cut));
            EXPECT_FALSE(s->identify(data_).has_value()) << cut;
        }
        write(path, s->expected(0) + s->expected(1));
        EXPECT_FALSE(s->identify(data_).has_value());
        ASSERT_EQ(::unlink(path.c_str()), 0);
        EXPECT_FALSE(s->identify(data_).has_value());
        // A writer that finds no known state does nothing.
        write(path, whole.substr(0, whole.size() / 2));
        EXPECT_EQ(run({s->name(), data_}), 3);
        EXPECT_EQ(read(path), whole.substr(0, whole.size() / 2));
    }
}

// A hive cut short is refused by its writer, never replaced by what little could be read.
TEST_F(CrashSafetyTest, CutHiveIsNeverOverwritten) {
    const Scenario& s = *find_scenario("hive");
    const std::string cut = s.expected(1).substr(0, s.expected(1).size() - 2);
    write(s.file_path(data_), cut);
    auto reg = platform::make_file_registry(data_, data_);
    EXPECT_FALSE(reg->set(platform::RegRoot::LocalMachine, "Software\\Crash", "Data", platform::RegValue::string("x")));
    EXPECT_EQ(read(s.file_path(data_)), cut);
}

// ---------------------------------------------------------------------------------------------
// SIGKILL at random moments

class KillTest : public CrashSafetyTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(KillTest, EveryKillLeavesTheOldOrTheNewFile) {
    const Scenario& s = *find_scenario(GetParam());
    std::mt19937 rng(test_seed());
    ASSERT_TRUE(s.prepare(data_));
    int state = 0;
    const int kills = kills_per_writer();
    int new_after_kill = 0;
    for (int k = 0; k < kills; ++k) {
        ::unlink(progress_.c_str());
        platform::ChildProcess child = start({s.name(), data_, "--count", "0", "--progress", progress_});
        ASSERT_NO_FATAL_FAILURE(kill_at_random(child, rng)) << "kill " << k;
        const long done = progress();
        const int old_state = advance(s, state, done), new_state = s.next(old_state);
        const auto got = s.identify(data_);
        ASSERT_TRUE(got.has_value()) << "kill " << k << ": torn file\n" << read(s.file_path(data_));
        ASSERT_TRUE(*got == old_state || *got == new_state)
            << "kill " << k << ": state " << *got << ", expected " << old_state << " or " << new_state;
        if (*got == new_state) ++new_after_kill;
        state = *got;
    }
    // What killed rewrites left behind is hidden and never read: the next run starts from the
    // file and finishes a whole cycle.
    const std::size_t leftovers = leftover_temp_files(data_).size();
    ASSERT_EQ(run({s.name(), data_, "--count", std::to_string(s.period() + 1)}), 0);
    EXPECT_EQ(s.identify(data_), advance(s, state, s.period() + 1));
    for (const std::string& name : leftover_temp_files(data_)) {
        EXPECT_FALSE(platform::iequals(name, fs::path(s.file_path(data_)).filename().string()));
        EXPECT_EQ(name[0], '.');
    }
    std::printf(
        "[ %s ] %d kills (seed %u): %d killed after the step's new file was in place, %zu temporary "
        "files left by killed rewrites\n",
        s.name(), kills, test_seed(), new_after_kill, leftovers);
}

INSTANTIATE_TEST_SUITE_P(Writers, KillTest, ::testing::Values("archinfo", "generations", "archdir", "device", "hive"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Killed while storing reports: the index holds whole entries, each report at most once and in
// order, and a folder for every entry.
TEST_F(CrashSafetyTest, KilledStoreLeavesWholeEntries) {
    std::mt19937 rng(test_seed() + 1);
    const int kills = std::max(1, kills_per_writer() / 2);
    std::int32_t count = 0;
    for (int k = 0; k < kills; ++k) {
        ::unlink(progress_.c_str());
        platform::ChildProcess child = start(
            {"store", data_, "--count", "0", "--tag", "K", "--first", std::to_string(count), "--progress", progress_});
        ASSERT_NO_FATAL_FAILURE(kill_at_random(child, rng)) << "kill " << k;
        const long done = progress();
        ReportArchive archive(data_, "Crash");
        ASSERT_TRUE(archive.get_count() == count + done || archive.get_count() == count + done + 1)
            << "kill " << k << ": " << archive.get_count() << " entries after " << count << " + " << done;
        count = archive.get_count();
        std::string rebuilt;
        for (std::int32_t i = 0; i < count; ++i) {
            const ReportRecord* r = archive.get_record(i);
            ASSERT_NE(r, nullptr);
            ASSERT_EQ(r->get_description(), record_text("K", i));
            ASSERT_TRUE(fs::exists(r->get_folder_path() + "/PATIENT.TXT")) << r->get_name();
            ReportArchive::write_record(*r, rebuilt);
        }
        ASSERT_EQ(read(join_path(data_, kArchiveIndexName)), rebuilt) << "kill " << k;
    }
}

// ---------------------------------------------------------------------------------------------
// Writes that fail for want of space: the writer says so and the old file stays whole.

TEST_F(CrashSafetyTest, FailedWriteKeepsTheOldFile) {
    for (const Scenario* s : all_scenarios()) {
        SCOPED_TRACE(s->name());
        fs::remove_all(data_);
        fs::create_directories(data_);
        ASSERT_TRUE(s->prepare(data_));
        // Room for part of the new content only.
        const std::size_t limit = s->expected(1).size() - 3;
        ASSERT_GT(limit, s->expected(0).size());
        EXPECT_EQ(run({s->name(), data_, "--fsize", std::to_string(limit)}), 2);
        EXPECT_EQ(read(s->file_path(data_)), s->expected(0));
        EXPECT_EQ(s->identify(data_), 0);
        EXPECT_TRUE(leftover_temp_files(data_).empty());
        // With room again the same step succeeds.
        EXPECT_EQ(run({s->name(), data_}), 0);
        EXPECT_EQ(s->identify(data_), 1);
    }
}

TEST_F(CrashSafetyTest, FailedStoreKeepsTheIndex) {
    ASSERT_EQ(run({"store", data_, "--tag", "F", "--count", "2"}), 0);
    const std::string index = join_path(data_, kArchiveIndexName);
    const std::string before = read(index);
    EXPECT_EQ(run({"store", data_, "--tag", "F", "--first", "2", "--fsize", std::to_string(before.size() + 10)}), 2);
    EXPECT_EQ(read(index), before);
    EXPECT_EQ(run({"store", data_, "--tag", "F", "--first", "2"}), 0);
    ReportArchive archive(data_, "Crash");
    ASSERT_EQ(archive.get_count(), 3);
    for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(archive.get_record(i)->get_description(), record_text("F", i));
}

TEST_F(CrashSafetyTest, FailedAuditWriteKeepsTheLogAndItsCrc) {
    const std::string log = AuditLog::make_file_name(data_, 1700000000);
    ASSERT_EQ(run({"audit", data_, "--tag", "L", "--count", "3"}), 0);
    const std::string before = read(log);
    ASSERT_FALSE(before.empty()) << log;
    EXPECT_EQ(run({"audit", data_, "--tag", "L", "--first", "3", "--fsize", std::to_string(before.size() + 10)}), 2);
    EXPECT_EQ(read(log), before);
    EXPECT_EQ(run({"audit", data_, "--tag", "L", "--first", "3"}), 0);
    const AuditFileCheck check = read_audit_log_file(log);
    EXPECT_TRUE(check.crc_ok);
    EXPECT_TRUE(check.complete);
    ASSERT_EQ(check.records.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(check.records[static_cast<std::size_t>(i)].message, record_text("L", i));
}

// ---------------------------------------------------------------------------------------------
// Two writers at once

// Each tag's records, in file order, must be 0 .. n-1 exactly once.
void expect_each_once(const std::vector<std::string>& texts, const std::vector<std::string>& tags, int n) {
    std::map<std::string, int> next;
    for (const auto& t : tags) next[t] = 0;
    for (const std::string& text : texts) {
        std::string tag;
        int number = -1;
        ASSERT_TRUE(parse_record_text(text, tag, number)) << text;
        ASSERT_TRUE(next.count(tag)) << text;
        ASSERT_EQ(number, next[tag]) << "record " << text << " lost, repeated or out of order";
        ++next[tag];
    }
    for (const auto& [tag, got] : next) EXPECT_EQ(got, n) << tag;
}

TEST_F(CrashSafetyTest, TwoAuditWritersEachRecordOnce) {
    const int n = records_per_writer();
    platform::ChildProcess a = start({"audit", data_, "--tag", "A", "--count", std::to_string(n)});
    platform::ChildProcess b = start({"audit", data_, "--tag", "B", "--count", std::to_string(n)});
    EXPECT_EQ(platform::wait_process(a), 0);
    EXPECT_EQ(platform::wait_process(b), 0);
    const AuditFileCheck check = read_audit_log_file(AuditLog::make_file_name(data_, 1700000000));
    ASSERT_TRUE(check.readable);
    EXPECT_TRUE(check.crc_ok) << std::hex << check.stored_crc << " != " << check.computed_crc;
    EXPECT_TRUE(check.complete);
    std::vector<std::string> texts;
    for (const auto& r : check.records) {
        EXPECT_EQ(r.program, "crashwriter");
        texts.push_back(r.message);
    }
    expect_each_once(texts, {"A", "B"}, n);
}

// Two processes store reports while a third rewrites the index over and over: no stored report
// is lost or listed twice, and the index holds whole entries only.
TEST_F(CrashSafetyTest, TwoStoresAndARewriteKeepEveryReport) {
    const int n = records_per_writer();
    write(join_path(data_, kArchiveIndexName),
          format_archive_entry("SEED.FUL", "Seed initial", "Thu Jan 01 00:00:00 1970", "1", "Full"));
    ::unlink(progress_.c_str());
    platform::ChildProcess touch = start({"touch", data_, "--count", "0", "--progress", progress_});
    platform::ChildProcess a = start({"store", data_, "--tag", "A", "--count", std::to_string(n)});
    platform::ChildProcess b = start({"store", data_, "--tag", "B", "--count", std::to_string(n)});
    EXPECT_EQ(platform::wait_process(a), 0);
    EXPECT_EQ(platform::wait_process(b), 0);
    int code = 0;
    EXPECT_FALSE(platform::try_wait_process_status(touch, code)) << "the rewriter ended with status " << code;
    ::kill(touch.pid, SIGKILL);
    platform::wait_process(touch);
    EXPECT_GT(progress(), 0) << "the rewriter never rewrote";

    ReportArchive archive(data_, "Crash");
    ASSERT_EQ(archive.get_count(), 2 * n + 1);
    std::vector<std::string> texts;
    std::string rebuilt;
    std::size_t folders = 0;
    for (std::int32_t i = 0; i < archive.get_count(); ++i) {
        const ReportRecord* r = archive.get_record(i);
        ReportArchive::write_record(*r, rebuilt);
        if (i == 0) {
            EXPECT_EQ(r->get_name(), "SEED.FUL");
            EXPECT_EQ(r->get_description().rfind("Seed", 0), 0u);
            continue;
        }
        texts.push_back(r->get_description());
        EXPECT_TRUE(fs::exists(r->get_folder_path() + "/PATIENT.TXT")) << r->get_name();
    }
    EXPECT_EQ(read(join_path(data_, kArchiveIndexName)), rebuilt);
    expect_each_once(texts, {"A", "B"}, n);
    for (const auto& e : fs::directory_iterator(data_))
        if (e.is_directory()) ++folders;
    EXPECT_EQ(folders, static_cast<std::size_t>(2 * n)) << "a stored report folder is not listed";
}

}  // namespace
}  // namespace tv::crash
