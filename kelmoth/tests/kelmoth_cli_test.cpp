// Runs the built KELMOTH against the simulated deck with tapes from tapegen, as tolbex does:
// fresh mappings first, then the reader, then its exit code and what it left in the mappings.
#include <chrono>
#include <functional>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/memory_mapped_file.h"
#include "common/tape_mappings.h"
#include "platform/deck.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "testing/test_root.h"
#include "tools/tapegen/tapegen.h"

namespace {

using tv::platform::testing::TempRoot;

struct Result {
    int code = -1000;
    std::string out;
};

std::string read_text(const std::string& path) { return tv::platform::read_whole_file(path).value_or(std::string()); }

class KelmothCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_ / "ANALYSER/System");
        std::filesystem::create_directories(root_ / "cwd");
    }
    void TearDown() override {
        stop_sim();
        for (auto& m : maps_) m.close();
        for (const char* name :
             {tv::kRawEcgNames[0], tv::kRawEcgNames[1], tv::kRawEcgNames[2], tv::kEcgCtrlName, tv::kPatientEventsName,
              tv::kTapeDataName, "TV USB READ SHUTDOWN", "KELMOTH SHUTDOWN REQ", "Tvreplay0 ring"})
            tv::platform::SharedMemory::unlink(name);
    }

    // tapegen TRACE ARGS; the expectations it wrote beside the trace.
    std::map<std::string, std::string> tape(const std::string& args) {
        trace_ = root_ / "tape.trace";
        const std::string cmd = std::string(TAPEGEN_PROGRAM) + " " + trace_ + " " + args;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::vector<std::pair<std::string, std::string>> fields;
        EXPECT_TRUE(tv::tapegen::read_expected(trace_ + ".expect", fields));
        return {fields.begin(), fields.end()};
    }

    void start_sim(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {DECK_SIM_PROGRAM, trace_, "--log", root_ / "sim.log"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(tv::platform::spawn_process(argv, sim_));
        const std::string socket = tv::platform::deck_socket_path("\\\\.\\Tvreplay0");
        for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(std::filesystem::exists(socket));
    }
    void stop_sim() {
        if (sim_.pid > 0) {
            ::kill(sim_.pid, SIGTERM);
            tv::platform::wait_process(sim_);
            sim_.pid = -1;
        }
    }

    // The mappings as tolbex makes them: removed, made anew (zeroed), deck state IDLE.
    void make_mappings(std::int32_t start_sample = 0) {
        const char* names[6] = {tv::kRawEcgNames[0], tv::kRawEcgNames[1],    tv::kRawEcgNames[2],
                                tv::kEcgCtrlName,    tv::kPatientEventsName, tv::kTapeDataName};
        const std::uint32_t sizes[6] = {tv::kRawEcgBytes,  tv::kRawEcgBytes,       tv::kRawEcgBytes,
                                        tv::kEcgCtrlBytes, tv::kPatientEventBytes, tv::kTapeDataBytes};
        for (int i = 0; i < 6; ++i) {
            tv::MemoryMappedFile::remove(names[i]);
            ASSERT_TRUE(maps_[i].open(names[i], sizes[i], true));
        }
        ctrl()[0].start_sample = start_sample;
        tape_data().deck_state = 0;
    }
    // What KELMOTH runs under (a tracer), empty for none.
    std::vector<std::string> wrapper_;
    std::uint16_t* ecg(int c) { return static_cast<std::uint16_t*>(maps_[c].get_view()); }
    tv::EcgControlBlock* ctrl() { return static_cast<tv::EcgControlBlock*>(maps_[3].get_view()); }
    tv::PatientEventList& events() { return *static_cast<tv::PatientEventList*>(maps_[4].get_view()); }
    tv::TapeDataBlock& tape_data() { return *static_cast<tv::TapeDataBlock*>(maps_[5].get_view()); }

    // Runs KELMOTH with `input` on its standard input (written after `input_delay_ms`), optionally
    // setting the shutdown request after `request_ms`.
    // `request_ms` >= 0: the shutdown request follows the input after that time, or, with `request_when`, as soon
    // as it answers true (so that a slow run, under the thread sanitizer say, is not cut short).
    // `meanwhile`, when given, is called with the running program's pid before any request.
    Result kelmoth(const std::vector<std::string>& args, const std::string& input = "", int request_ms = -1,
                   int input_delay_ms = 0, const std::function<bool()>& request_when = {},
                   const std::function<void(pid_t)>& meanwhile = {}) {
        int in[2];
        EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
        tv::platform::UniqueFd read_end(in[0]), write_end(in[1]);
        const std::string out_path = root_ / "kelmoth.out";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(in[0], 0);
            int fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            if (::chdir((root_ / "cwd").c_str()) != 0) ::_exit(120);
            ::setenv("LC_ALL", "C", 1);
            // Under a tracer the leak check cannot stop the threads it would look at.
            if (!wrapper_.empty()) ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            std::vector<std::string> copy = wrapper_;
            copy.push_back(KELMOTH_PROGRAM);
            copy.insert(copy.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(121);
        }
        read_end.reset();
        if (!input.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(input_delay_ms));
            EXPECT_EQ(::write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        }
        if (meanwhile) meanwhile(pid);
        if (request_ms >= 0) {
            // The program clears a request it finds at start: time the request from the moment it has looked
            // for the deck (either "****" line), not from the fork.
            const auto opened = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (read_text(out_path).find(" ****") == std::string::npos && std::chrono::steady_clock::now() < opened)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (request_when) {
                const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                while (!request_when() && std::chrono::steady_clock::now() < limit)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(request_ms));
            auto event = tv::platform::NamedEvent::open("KELMOTH SHUTDOWN REQ", true, false);
            EXPECT_TRUE(event);
            if (event) event->set();
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        write_end.reset();
        Result r;
        r.code = tv::platform::exit_code_from_status(status);
        r.out = read_text(out_path);
        return r;
    }

    // The simulator's receive log: one packet a line, its length then its words.
    std::vector<std::vector<std::uint32_t>> sim_log() {
        std::vector<std::vector<std::uint32_t>> packets;
        std::istringstream in(read_text(root_ / "sim.log"));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::vector<std::uint32_t> p;
            std::uint32_t w;
            while (words >> w) p.push_back(w);
            packets.push_back(p);
        }
        return packets;
    }

    std::string hash(int c, std::int64_t samples) {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx",
                      static_cast<unsigned long long>(tv::tapegen::fnv1a(reinterpret_cast<const std::uint8_t*>(ecg(c)),
                                                                         2 * static_cast<std::size_t>(samples))));
        return text;
    }

    std::string events_text() {
        std::string s;
        for (std::uint32_t i = 0; i < tv::kPatientEventSlots && events().positions[i]; ++i)
            s.append(s.empty() ? "" : ",").append(std::to_string(events().positions[i]));
        return s;
    }

    // Everything the expectations name, checked against the mappings.
    void expect_results(const Result& r, std::map<std::string, std::string>& e) {
        EXPECT_EQ(r.code, std::stoi(e["exit_code"])) << r.out;
        tv::TapeDataBlock& t = tape_data();
        EXPECT_EQ(t.deck_state, std::stoi(e["deck_state"]));
        const std::int64_t stored = std::stoll(e["samples_stored"]);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(ctrl()[c].samples_written, std::stoi(e["samples_written"])) << c;
            EXPECT_EQ(ctrl()[c].transfer_done, 1) << c;
            EXPECT_EQ(hash(c, stored), e["channel" + std::to_string(c + 1) + "_fnv1a"]) << c;
            if (stored < static_cast<std::int64_t>(tv::kRawEcgSamples)) {
                EXPECT_EQ(ecg(c)[stored], 0) << c;  // nothing past the stored samples
            }
        }
        EXPECT_EQ(t.start_time_code, std::stoi(e["start_time_code"]));
        EXPECT_EQ(t.start_offset, std::stoi(e["start_offset"]));
        EXPECT_EQ(std::string(t.serial_text), e["serial_text"]);
        EXPECT_EQ(std::string(t.recording_date), e["recording_date"]);
        EXPECT_EQ(t.speed_error, std::stoi(e["speed_error"]));
        EXPECT_EQ(t.status, std::stoi(e["status"]));
        EXPECT_EQ(t.scale, 410);
        EXPECT_EQ(std::to_string(t.channel_words[0]) + "," + std::to_string(t.channel_words[1]) + "," +
                      std::to_string(t.channel_words[2]),
                  e["channel_words"]);
        EXPECT_EQ(events_text(), e["events"]);
        EXPECT_NE(r.out.find(" Packet errors: " + e["packet_errors"] + "\n"), std::string::npos) << r.out;
        int acks = 0;
        for (const auto& p : sim_log())
            if (p.size() >= 4 && p[0] == 23 && p[3] == 520) ++acks;
        EXPECT_EQ(acks, std::stoi(e["acks"]));
    }

    TempRoot root_;
    std::string trace_;
    tv::platform::ChildProcess sim_;
    tv::MemoryMappedFile maps_[6];
};

}  // namespace

TEST_F(KelmothCli, NormalRunStoresExactSamplesAndTapeData) {
    auto e = tape("--type 9 --packets 20000");
    start_sim();
    make_mappings();
    Result r = kelmoth({"/type", "9", "/pace", "0", "/flutter", "1", "/gain", "0"});
    expect_results(r, e);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(ctrl()[0].samples_written, 3000000);
    EXPECT_EQ(tape_data().start_time_code, 0x1423);
    EXPECT_EQ(std::string(tape_data().serial_text), "SN:12345 / 1234");
    EXPECT_EQ(std::string(tape_data().recording_date), "12/25/1999");
    EXPECT_EQ(events_text(), "256000,1280000,2304000");
    EXPECT_EQ(ecg(0)[0], tv::tapegen::sample_value(0, 1));
    EXPECT_EQ(ecg(2)[2999999], tv::tapegen::sample_value(2999999, 3));
    EXPECT_EQ(read_text(root_ / "ANALYSER/System/wendle.txt"),
              "\n  ***** VALID WENDLE 3 SERIAL DATA BLOCK FOUND ****\n"
              "  RTC: 14:30  Date(dd/mm/yy):25/12/99 Serial Number: 12345  Hours run: 1234\n");
    EXPECT_NE(r.out.find("USB Tape Replay Interface : KELMOTH  Version: 1.3\n"), std::string::npos);
    EXPECT_NE(r.out.find("  *** START TIME FOUND ****  1423 \n"), std::string::npos);

    const auto log = sim_log();
    ASSERT_GE(log.size(), 4u);
    // The deck is stopped before anything else, whatever an earlier run left it doing.
    EXPECT_EQ(log.front(), (std::vector<std::uint32_t>{39, 17, 80, 81, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(log[1], (std::vector<std::uint32_t>{23, 17, 80, 73, 1, 0}));
    EXPECT_EQ(log[2].size(), 30u);  // 119 bytes: 29 whole words
    EXPECT_EQ(log[2][0], 119u);
    const std::vector<std::uint32_t> start(log[2].begin() + 1, log[2].begin() + 27);
    // clang-format off
    const std::vector<std::uint32_t> expected_start = {15, 107, 502, 1, 9, 1, 2, 16, 4, 0, 0x3F800000, 0, 1,
                                                       32, 2, 2, 500, 1, 1, 0, 1, 0, 1, 58336, 0x62C0, 0};
    // clang-format on
    EXPECT_EQ(start, expected_start);
    EXPECT_EQ(log.back(), (std::vector<std::uint32_t>{39, 17, 80, 81, 0, 0, 0, 0, 0, 0}));
}

// The analysis system's folder is shared: a link planted at the report's name once the run has
// cleared it is replaced by the report, and what it leads to is left as it was.
TEST_F(KelmothCli, ALinkPlantedAtTheReportNameIsNeverWrittenThrough) {
    auto e = tape("--type 9 --packets 20000");
    start_sim();
    make_mappings();
    const std::string report = root_ / "ANALYSER/System/wendle.txt", victim = root_ / "victim";
    { std::ofstream(victim) << "kept"; }
    { std::ofstream(report) << "old"; }
    bool planted = false;
    namespace fs = std::filesystem;
    Result r = kelmoth({"/type", "9", "/pace", "0", "/flutter", "1", "/gain", "0"}, "", -1, 0, {}, [&](pid_t) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (fs::exists(report) && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
        planted = ::symlink(victim.c_str(), report.c_str()) == 0;
    });
    EXPECT_EQ(r.code, 0) << r.out;
    ASSERT_TRUE(planted);
    EXPECT_EQ(read_text(victim), "kept");
    EXPECT_FALSE(fs::is_symlink(report));
    EXPECT_EQ(read_text(report).substr(0, 53), "\n  ***** VALID WENDLE 3 SERIAL DATA BLOCK FOUND ****\n");
}

TEST_F(KelmothCli, CommandLineAndStartUpFailures) {
    // No simulator: no deck.
    Result r = kelmoth({"/type", "9", "/pace", "1", "/flutter", "0", "/gain", "0"});
    EXPECT_EQ(r.code, 117);
    EXPECT_NE(r.out.find("\n\n **** No tape replay was found. Tape support is unavailable ****\n"), std::string::npos);

    r = kelmoth({});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(
        r.out,
        "\n\n\nUSB Tape Replay Interface : KELMOTH  Version: 1.3\n==============================================\n"
        "\n Usage: \n\tKELMOTH /o1 /o2.....\n\t  where /o1 /o2 are options. Valid options are:"
        "\n\t    /debug         interactive operation\n\t    /type x        load tape type x"
        "\n\t    /pace 0|1      pacing disable | enable \n\t    /disablespeedcontrol    "
        "\n\t    /skip24        skip first 24hours of recording"
        "\n\t    /flutter 0|1   flutter compensation off | on (default is on)"
        "\n\t    /gain 0 | 1    gain normal | x0.5\n\t  Tape types are per Quorril definitions viz:"
        "\n\t    Wendle2 is 1, Wendle3 is 2, Dunmarra2 is 5, Dunmarra3 is 6"
        "\n\t    Industry standard 1mm/s (3 channel) is 9\n\t    Wendle D60 is 3\n");
    EXPECT_EQ(kelmoth({"/type", "4"}).code, 1);
    EXPECT_EQ(kelmoth({"/type", "12"}).code, 1);
    EXPECT_EQ(kelmoth({"/pace", "1"}).code, 1);
    EXPECT_EQ(kelmoth({"/type", "9", "/gain"}).code, 1);

    // The driver refuses to map its ring.
    tape("--packets 8");
    start_sim({"--fail-map"});
    r = kelmoth({"/type", "9"});
    EXPECT_EQ(r.code, -1);
    EXPECT_NE(r.out.find("IOCTL_TVREPLAY_MAP_BUFFER failed:  5\n"), std::string::npos);
    stop_sim();

    // A mapping that cannot be made.
    start_sim();
    const std::string blocker = "/dev/shm" + tv::platform::ipc_name("TAPEDATA.MMF");
    ASSERT_TRUE(std::filesystem::create_directory(blocker));
    r = kelmoth({"/type", "9"});
    std::filesystem::remove(blocker);
    EXPECT_EQ(r.code, 99);
    EXPECT_NE(r.out.find("Failed to open memory mapped files\n"), std::string::npos);
}

TEST_F(KelmothCli, DeckStatusesEndTheRunWithTheirCodes) {
    struct Case {
        const char* args;
        int code;
    } cases[] = {
        {"--status-after 10000:112", 112},       // STOP pressed
        {"--status-after 2000:110", 110},        // head jam, then silence: the transfer's time limit ends it
        {"--status-after 2000:114", 114},        // gross speed error
        {"--status-after 2000:116", 116},        // data overrun
        {"--packets 2000 --end-status 115", 0},  // cassette out at the end of the tape
        {"--no-tape", 115},
        {"--packets 2000 --bad-packets", 0},
        {"--packets 2000 --jump-at 700 --flat", 120},  // a gap: the samples before it, then nothing
        {"--packets 0", 121},                          // the deck ends the run before any ECG
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        auto e = tape(c.args);
        start_sim();
        make_mappings();
        Result r = kelmoth({"/type", "9", "/pace", "1", "/flutter", "1", "/gain", "0"});
        expect_results(r, e);
        EXPECT_EQ(r.code, c.code);
        stop_sim();
        std::filesystem::remove(root_ / "sim.log");
    }
}

// On a busy machine the transfer thread may first run after the deck's "cassette out": the status
// still ends the run. The thread's first call, raising its priority, is held back by a tracer.
TEST_F(KelmothCli, CassetteOutBeforeTheTransferThreadRunsIsKept) {
    if (::access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
    tape("--no-tape");
    start_sim();
    make_mappings();
    wrapper_ = {"/usr/bin/strace",
                "-f",
                "-qq",
                "-o",
                "/dev/null",
                "-e",
                "trace=setpriority",
                "-e",
                "inject=setpriority:delay_enter=700000"};
    const Result r = kelmoth({"/type", "9", "/pace", "1", "/flutter", "1", "/gain", "0"});
    EXPECT_EQ(r.code, 115) << r.out;
    EXPECT_EQ(tape_data().status, 115);
}

TEST_F(KelmothCli, Skip24StoresFromTheEdgeUntilTheMappingsAreFull) {
    auto e = tape("--type 2 --skip24 --first-sample 11058950 --packets 98000");
    start_sim();
    make_mappings();
    Result r = kelmoth({"/type", "2", "/pace", "1", "/flutter", "0", "/gain", "0", "/skip24"});
    expect_results(r, e);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(tape_data().deck_state, 3);
    EXPECT_EQ(ctrl()[0].samples_written, 14663550);
    EXPECT_EQ(ecg(0)[0], tv::tapegen::sample_value(11059100, 1));  // the packet across the edge, whole
    EXPECT_EQ(tape_data().start_offset, 1000);
    EXPECT_EQ(events().positions[0], std::stoi(e["events"]));  // the mark before the skip point is dropped
    EXPECT_NE(r.out.find("ECG memory is full. Ignoring rest of data from replay\n"), std::string::npos);
}

TEST_F(KelmothCli, ShutdownRequestEndsAnInteractiveRun) {
    tape("--packets 8 --flat");
    start_sim();
    make_mappings();
    Result r = kelmoth({"/debug"}, "QWTV250\n", 1500, 300);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(tape_data().deck_state, 4);
    const std::string help =
        "Use \"X\" to exit, \"W\" for USB debug display \n    \"T\" for prodn test  or \"V\" to set "
        "run speed (velocity) \n    \"R\" for start analysis\n";
    EXPECT_NE(r.out.find("USB debugging\n  " + help), std::string::npos) << r.out;
    // The deck's own status lines come from the reader thread and may fall between a key's echo and its answer.
    const auto asked = r.out.find("Q? " + help);
    ASSERT_NE(asked, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("W Display", asked), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("W Display debug data now ON\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("T USB Replay production test mode now ON\n"), std::string::npos);
    EXPECT_NE(r.out.find("\n Next run will be at speed 250\n"), std::string::npos);
    const auto log = sim_log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), (std::vector<std::uint32_t>{39, 17, 80, 81, 0, 0, 0, 0, 0, 0}));
    for (const auto& p : log) EXPECT_NE(p.size() > 3 ? p[3] : 0, 502u);  // no run was started
}

TEST_F(KelmothCli, KeysStartARunAtTheChosenSpeed) {
    tape("--packets 800 --flat");
    start_sim();
    make_mappings();
    const auto started = [&] {
        for (const auto& p : sim_log())
            if (p.size() > 3 && p[3] == 502) return true;
        return false;
    };
    // /debug after /type: wait for R; the request follows once the run has started.
    Result r = kelmoth({"/type", "9", "/debug"}, "V250\nR", 200, 300, started);
    EXPECT_EQ(r.code, 0) << r.out;
    std::vector<std::uint32_t> start;
    for (const auto& p : sim_log())
        if (p.size() > 3 && p[3] == 502) start = p;
    ASSERT_EQ(start.size(), 30u) << r.out;
    EXPECT_EQ(start[1 + 16], 250u);
    EXPECT_EQ(start[1 + 24], 0x6340u);
}

TEST_F(KelmothCli, TapeTypeWithoutARowSendsNothingAndEndsWithItsStatus) {
    tape("--packets 8 --flat");
    start_sim();
    make_mappings();
    Result r = kelmoth({"/debug", "/type", "12"}, "", 800);
    EXPECT_EQ(r.code, 113) << r.out;
    EXPECT_EQ(tape_data().deck_state, 3);
    for (const auto& p : sim_log()) EXPECT_TRUE(p.size() < 4 || p[3] != 502);
}

namespace {

// Waits until the reader has stored samples (a tape is being read), at most a minute.
bool wait_for_samples(const tv::EcgControlBlock* ctrl) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (__atomic_load_n(&ctrl[0].samples_written, __ATOMIC_ACQUIRE) == 0) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

TEST_F(KelmothCli, StopSignalsDuringATapeStopTheDeckAndEndWithTheRunsCode) {
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        tape("--type 9 --packets 60000");  // a minute at the deck's own rate
        start_sim({"--real-rate"});
        make_mappings();
        Result r = kelmoth({"/type", "9", "/pace", "1", "/flutter", "1", "/gain", "0"}, "", -1, 0, {}, [&](pid_t pid) {
            ASSERT_TRUE(wait_for_samples(ctrl()));
            ::kill(pid, sig);
        });
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_EQ(tape_data().deck_state, 4);
        EXPECT_GT(ctrl()[0].samples_written, 0);
        const auto log = sim_log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), (std::vector<std::uint32_t>{39, 17, 80, 81, 0, 0, 0, 0, 0, 0}));
        stop_sim();
        std::filesystem::remove(root_ / "sim.log");
    }
}

TEST_F(KelmothCli, ADeckThatStopsAnsweringEndsTheRunWithItsOwnCode) {
    tape("--type 9 --packets 60000");
    start_sim({"--real-rate"});
    make_mappings();
    ::setenv("TV_DECK_TIMEOUT_MS", "500", 1);
    Result r = kelmoth({"/type", "9", "/pace", "1", "/flutter", "1", "/gain", "0"}, "", -1, 0, {}, [&](pid_t) {
        ASSERT_TRUE(wait_for_samples(ctrl()));
        ::kill(sim_.pid, SIGUSR1);
    });
    ::unsetenv("TV_DECK_TIMEOUT_MS");
    EXPECT_EQ(r.code, 118) << r.out;
    EXPECT_EQ(tape_data().deck_state, 3);
    EXPECT_NE(r.out.find("The replay deck stopped answering\n"), std::string::npos) << r.out;
}

namespace {

// One packet a millisecond: eight seconds of deck time.
constexpr const char* kRealRateTape = "--type 9 --packets 8000";
const std::vector<std::string> kType9 = {"/type", "9", "/pace", "1", "/flutter", "1", "/gain", "0"};

}  // namespace

// Whatever an earlier run left on the deck (a reader killed mid-tape, with the deck still
// playing; or the deck's answers to a stop that nobody read, its end among them) is stopped and
// read away first: the next run stores the tape exactly, from its start.
TEST_F(KelmothCli, AnEarlierRunsLeftoversNeverReachTheNextTape) {
    const char* cases[] = {"killed mid-tape", "stale end reply"};
    for (const char* what : cases) {
        SCOPED_TRACE(what);
        auto e = tape(kRealRateTape);
        start_sim({"--real-rate"});
        make_mappings();
        if (std::string(what) == "killed mid-tape") {
            Result killed = kelmoth(kType9, "", -1, 0, {}, [&](pid_t pid) {
                ASSERT_TRUE(wait_for_samples(ctrl()));
                ::kill(pid, SIGKILL);
            });
            EXPECT_EQ(killed.code, tv::platform::kExitUnknown);
        } else {
            int error = 0;
            auto command =
                tv::platform::socket_deck_driver().open("\\\\.\\Tvreplay0", tv::platform::DeckAccess::command, error);
            ASSERT_TRUE(command) << error;
            std::uint8_t stop[39] = {17, 0, 0, 0, 80, 0, 0, 0, 81};
            ASSERT_TRUE(command->write(stop, sizeof stop, error)) << error;
        }
        make_mappings();
        std::filesystem::resize_file(root_ / "sim.log", 0);  // what the deck gets from here on (it appends)
        Result r = kelmoth(kType9);
        expect_results(r, e);
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_EQ(r.out.find("mismatch"), std::string::npos) << r.out;
        stop_sim();
        std::filesystem::remove(root_ / "sim.log");
    }
}

// One reader per deck: a second one started while a tape is read is refused before it touches
// anything of the first's, and the first stores the whole tape.
TEST_F(KelmothCli, ASecondReaderIsToldTheDeckIsBusy) {
    auto e = tape(kRealRateTape);
    start_sim({"--real-rate"});
    make_mappings();
    int second = -1000;
    std::string said;
    Result r = kelmoth(kType9, "", -1, 0, {}, [&](pid_t) {
        ASSERT_TRUE(wait_for_samples(ctrl()));
        std::vector<std::string> argv = {KELMOTH_PROGRAM};
        argv.insert(argv.end(), kType9.begin(), kType9.end());
        tv::platform::ChildIo io(tv::platform::Stdin::Null);
        io.output_file = root_ / "second.out";
        tv::platform::ChildProcess child;
        ASSERT_TRUE(tv::platform::spawn_process(argv, child, io));
        second = tv::platform::wait_process(child);
        said = read_text(root_ / "second.out");
    });
    EXPECT_EQ(second, 119) << said;
    EXPECT_NE(said.find("The tape replay is in use by another program"), std::string::npos) << said;
    expect_results(r, e);
    EXPECT_EQ(r.code, 0) << r.out;
}

// The run lasts while its caller holds the mappings: once nobody else does, the deck is told to
// stop and the run ends with its own code.
TEST_F(KelmothCli, ARunWhoseCallerLetGoStopsTheDeck) {
    tape("--type 9 --packets 60000");
    start_sim({"--real-rate"});
    make_mappings();
    Result r = kelmoth(kType9, "", -1, 0, {}, [&](pid_t) {
        ASSERT_TRUE(wait_for_samples(ctrl()));
        for (auto& m : maps_) m.close();
    });
    EXPECT_EQ(r.code, 122) << r.out;
    EXPECT_NE(r.out.find("The program that started KELMOTH has gone\n"), std::string::npos) << r.out;
    const auto log = sim_log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), (std::vector<std::uint32_t>{39, 17, 80, 81, 0, 0, 0, 0, 0, 0}));
}
