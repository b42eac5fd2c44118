// Runs the built vond as its callers do: a fresh machine root per test, card folders named in
// the drive map, the named objects of the root removed afterwards.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/tape_mappings.h"
#include "platform/drives.h"
#include "platform/shared_memory.h"
#include "testing/test_root.h"
#include "tools/cardgen/card_builder.h"

namespace vondtest {

namespace fs = std::filesystem;

using RunResult = tv::platform::testing::CapturedRun;

inline std::string slurp(const fs::path& p) {
    auto b = cardgen::read_bytes(p);
    return std::string(b.begin(), b.end());
}

class VondTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(out); }
    void TearDown() override {
        for (const char* n :
             {"RAWECG1.MMF", "RAWECG2.MMF", "RAWECG3.MMF", "ECGCTRL.MMF", "Patient Events", "VOND TERMINATOR"})
            tv::platform::SharedMemory::unlink(n);
    }

    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& extra_env = {},
                  int limit_seconds = 120) {
        std::vector<std::string> env = {
            "TORVANE_ROOT=" + root.string(),    "TMPDIR=" + tmp.string(), "TZ=UTC", "LC_ALL=C", "HOME=" + t.string(),
            "PATH=/usr/local/bin:/usr/bin:/bin"};
        for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
        // The trace is on unless the test says otherwise.
        bool trace_given = false;
        for (const auto& e : extra_env) trace_given = trace_given || e.rfind("VOND_TRACE=", 0) == 0;
        if (!trace_given) env.push_back("VOND_TRACE=1");
        env.insert(env.end(), extra_env.begin(), extra_env.end());
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        return tv::platform::testing::run_captured(argv, env, t.string(), limit_seconds);
    }

    // The analysis system's side of the card mappings: it holds them while vond fills them, and
    // they stay readable after vond has ended for as long as the holders live.
    static std::vector<std::unique_ptr<tv::platform::SharedMemory>> hold_card_mappings() {
        std::vector<std::unique_ptr<tv::platform::SharedMemory>> held;
        held.push_back(tv::platform::SharedMemory::open(tv::kEcgCtrlName, tv::kEcgCtrlBytes, true));
        for (const char* n : tv::kRawEcgNames)
            held.push_back(tv::platform::SharedMemory::open(n, tv::kRawEcgBytes, true));
        held.push_back(tv::platform::SharedMemory::open(tv::kPatientEventsName, tv::kCardPatientEventBytes, true));
        for (const auto& h : held) EXPECT_TRUE(h);
        return held;
    }

    void map_card(char letter, const fs::path& folder, const std::string& label, std::uint64_t capacity = 0) {
        tv::platform::MappedDrive d;
        d.letter = letter;
        d.folder = folder.string();
        d.label = label;
        d.kind = tv::platform::DriveKind::Removable;
        d.capacity = capacity;
        ASSERT_TRUE(tv::platform::map_drive(d));
    }

    std::string program = VOND_PROGRAM;  // the vond that run() starts
    tv::platform::testing::TempRoot temp_root_{tv::platform::testing::TmpDir::Beside};
    const fs::path t = temp_root_.made(), root = temp_root_.path(), tmp = temp_root_.tmp(), out = t / "out";
};

inline std::vector<std::uint16_t> words(const fs::path& p) {
    auto b = cardgen::read_bytes(p);
    std::vector<std::uint16_t> w(b.size() / 2);
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = tv::load_le16(&b[2 * i]);
    return w;
}

}  // namespace vondtest
