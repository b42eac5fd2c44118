// Real tapes for the intake tests: a trace from tapegen played by tools/deck-sim, read by the
// built KELMOTH, all under the test's own machine root.
#pragma once
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/files.h"
#include "common/memory_mapped_file.h"
#include "common/registry.h"
#include "common/tape_mappings.h"
#include "platform/deck.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "testing/app_test_root.h"
#include "tolbex/tape/tape_intake.h"
#include "tools/tapegen/tapegen.h"

namespace tv::tape_test {

namespace fs = std::filesystem;

// The deck playing one trace; stopped (and its socket and ring gone) when it goes.
class DeckSim {
public:
    ~DeckSim() { stop(); }
    // With `log`, every packet the deck receives is a line there: its length, then its words.
    void start(const std::string& trace, bool real_rate = false, const std::string& log = {}) {
        std::vector<std::string> argv = {DECK_SIM_PROGRAM, trace};
        if (real_rate) argv.push_back("--real-rate");
        if (!log.empty()) argv.insert(argv.end(), {"--log", log});
        ASSERT_TRUE(platform::spawn_process(argv, sim_));
        const std::string socket = platform::deck_socket_path("\\\\.\\Tvreplay0");
        for (int i = 0; i < 500 && !fs::exists(socket); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(socket));
    }
    void stop() {
        if (sim_.pid <= 0) return;
        ::kill(sim_.pid, SIGTERM);
        platform::wait_process(sim_);
    }

private:
    platform::ChildProcess sim_;
};

// The names of the kernel objects of this root that are still there.
inline std::vector<std::string> shared_objects() {
    std::vector<std::string> left;
    const std::string prefix = platform::ipc_prefix().substr(1);
    for (const auto& name : platform::testing::sorted_names("/dev/shm"))
        if (name.rfind(prefix, 0) == 0) left.push_back(name.substr(prefix.size()));
    return left;
}

// The six mappings the intake owns, among `names`.
inline std::vector<std::string> intake_mappings(const std::vector<std::string>& names) {
    std::vector<std::string> found;
    for (const auto& n : names)
        for (const char* m :
             {kRawEcgNames[0], kRawEcgNames[1], kRawEcgNames[2], kEcgCtrlName, kPatientEventsName, kTapeDataName})
            if (n == m) found.push_back(n);
    return found;
}

class TapeTest : public testing_root::RootTest {
protected:
    TapeTest() : RootTest(TmpDir::Inside) {}
    void SetUp() override {
        RootTest::SetUp();
        fs::create_directories(root / "ANALYSER/System");
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", TV_SZIP_PROGRAM));
    }
    void TearDown() override {
        sim.stop();
        for (const char* name : {"TV USB READ SHUTDOWN", "KELMOTH SHUTDOWN REQ"}) MemoryMappedFile::remove(name);
        RootTest::TearDown();
    }

    // Writes a trace with `options` and starts the deck on it.
    tapegen::Expected play(tapegen::Options options, bool real_rate = false, const std::string& log = {}) {
        tapegen::Expected e;
        std::string error;
        const std::string trace = (t / "tape.trace").string();
        EXPECT_TRUE(tapegen::generate(options, trace, e, error)) << error;
        sim.start(trace, real_rate, log);
        return e;
    }

    // Steps with the test's answers: the given options, a loading "dialog" that polls as the real
    // one does, the details given, and a delivery that keeps a copy of the file.
    TapeIntakeSteps steps(TapeOptions options, PatientDetails details) {
        TapeIntakeSteps s;
        s.reader_program = KELMOTH_PROGRAM;
        s.analysis_system_running = [] { return false; };
        s.choose_options = [options](TapeOptions& o, bool) {
            o = options;
            return true;
        };
        s.run_loading = [](TapeLoadSession& session) {
            while (session.tick() == TapeLoadSession::Tick::running)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return true;
        };
        s.ask_patient_details = [this, details](const PatientDetails& prefilled, bool for_mail) {
            this->prefilled = prefilled;
            this->asked_for_mail = for_mail;
            PatientDetails d = details;
            d.recorder_id = prefilled.recorder_id;
            d.recording_date = prefilled.recording_date;
            return std::optional<PatientDetails>(d);
        };
        s.deliver = [this](const std::string& path, const PatientDetails&, int destination) {
            delivered_name = fs::path(path).filename().string();
            delivered_to = destination;
            fs::copy_file(path, t / "delivered.CEF", fs::copy_options::overwrite_existing);
            return true;
        };
        return s;
    }

    DeckSim sim;
    PatientDetails prefilled;
    bool asked_for_mail = false;
    std::string delivered_name;
    int delivered_to = -1;
};

}  // namespace tv::tape_test
