// Runs of vond (and of the tape reader) one after another in the same root: nothing one run or a
// killed process leaves in the named objects may change the next run.
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "common/memory_mapped_file.h"
#include "platform/deck.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Sector;
namespace tt = tv::platform::testing;

int ramp(int k, int i, int c) { return (k * 128 + i + c * 7) % 1024; }

class NamedObjectsAcrossRuns : public VondTest {
protected:
    // Ten data sectors with one patient event, not yet read (recording number 5).
    void make_card() {
        std::vector<Sector> s = {cardgen::start_sector(cardgen::StartInfo{})};
        for (int k = 0; k < 10; ++k) {
            cardgen::DataSector d;
            if (k == 3) {
                d.button = true;
                d.events = {5};
            }
            for (auto [c, i] : cardgen::value_order(false)) d.values.push_back(ramp(k, i, c));
            s.push_back(cardgen::data_sector(d));
        }
        s.push_back(Sector{});
        cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, s);
    }
    unsigned card_rec() { return tv::load_le16(cardgen::read_bytes(card / "config.dat").data() + 1); }
    RunResult read(const char* format) {
        return run({"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide",
                    std::string("/opformat=") + format, "/duration=1", "/cal=0"});
    }

    // A process that holds what `body` opened until it is killed with SIGKILL.
    template <class F>
    static void killed_holder(F body) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = tt::fork_child([&] {
            auto held = body();
            if (::write(ready[1], "r", 1) != 1) return 1;
            for (;;) ::pause();
        });
        char c = 0;
        EXPECT_EQ(::read(ready[0], &c, 1), 1);
        ::close(ready[0]);
        ::close(ready[1]);
        ::kill(child, SIGKILL);
        EXPECT_EQ(tt::wait_child(child), -1000 - SIGKILL);
    }

    const fs::path card = t / "CARD";
};

TEST_F(NamedObjectsAcrossRuns, AStopEventSetInOneRunDoesNotReachTheNext) {
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "setter killed" : "setter closed");
        make_card();
        {
            auto stop = tv::platform::NamedEvent::open("VOND TERMINATOR", true, false);
            ASSERT_TRUE(stop);
            stop->set();
            RunResult r = read("archive");
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_TRUE(words(out / "rawecg1.dat").empty());
            EXPECT_EQ(card_rec(), 5u);  // stopped: not marked
        }
        if (killed)
            killed_holder([] {
                auto stop = tv::platform::NamedEvent::open("VOND TERMINATOR", true, false);
                if (stop) stop->set();
                return stop;
            });
        RunResult r = read("archive");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(words(out / "rawecg1.dat").size(), 153600u);
        EXPECT_EQ(card_rec(), 6u);
    }
}

TEST_F(NamedObjectsAcrossRuns, CountsOfAnEarlierRunDoNotReachTheNext) {
    // An earlier reader, killed while it held the mappings with its counts in them.
    killed_holder([] {
        auto ctrl = tv::platform::SharedMemory::open(tv::kEcgCtrlName, tv::kEcgCtrlBytes, true);
        auto events = tv::platform::SharedMemory::open(tv::kPatientEventsName, tv::kCardPatientEventBytes, true);
        if (ctrl) std::memset(ctrl->data(), 0x07, tv::kEcgCtrlBytes);
        if (events) std::memset(events->data(), 0x07, 8);
        return std::make_pair(std::move(ctrl), std::move(events));
    });
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        make_card();
        const auto held = hold_card_mappings();
        RunResult r = read("mmf");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(card_rec(), 6u);
        const auto* cb = static_cast<const tv::EcgControlBlock*>(held[0]->data());
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(cb[c].samples_written, 153600) << c;
            EXPECT_EQ(cb[c].transfer_done, 1) << c;
            EXPECT_EQ(static_cast<const std::uint16_t*>(held[1 + c]->data())[1], ramp(0, 1, c) * 4) << c;
        }
        const auto* ev = static_cast<const std::int32_t*>(held[4]->data());
        EXPECT_EQ(ev[0], 1);
        EXPECT_EQ(ev[1], 3);
    }
}

// A tape intake: the reader fills the six mappings that tolbex holds for it, with the tape
// layout of "Patient Events"; when the intake is over, a card read gets its own layout.
TEST_F(NamedObjectsAcrossRuns, ACardMappingReadFollowsATapeIntake) {
    const std::string trace = (t / "tape.trace").string();
    ASSERT_EQ(std::system((std::string(TAPEGEN_PROGRAM) + " '" + trace + "' --type 9 --packets 3000").c_str()), 0);
    tv::platform::ChildProcess sim;
    ASSERT_TRUE(tv::platform::spawn_process({DECK_SIM_PROGRAM, trace}, sim));
    const std::string socket = tv::platform::deck_socket_path("\\\\.\\Tvreplay0");
    for (int i = 0; i < 1000 && !fs::exists(socket); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
        const char* names[6] = {tv::kRawEcgNames[0], tv::kRawEcgNames[1],    tv::kRawEcgNames[2],
                                tv::kEcgCtrlName,    tv::kPatientEventsName, tv::kTapeDataName};
        const std::uint32_t sizes[6] = {tv::kRawEcgBytes,  tv::kRawEcgBytes,       tv::kRawEcgBytes,
                                        tv::kEcgCtrlBytes, tv::kPatientEventBytes, tv::kTapeDataBytes};
        tv::MemoryMappedFile intake[6];
        for (int i = 0; i < 6; ++i) ASSERT_TRUE(intake[i].open(names[i], sizes[i], true));
        RunResult r = tt::run_captured({KELMOTH_PROGRAM, "/type", "9", "/pace", "0", "/flutter", "1", "/gain", "0"},
                                       {"TORVANE_ROOT=" + root.string(), "TMPDIR=" + tmp.string(), "LC_ALL=C",
                                        "PATH=/usr/bin:/bin"},
                                       t.string(), 120);
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_EQ(static_cast<const tv::EcgControlBlock*>(intake[3].get_view())[0].samples_written, 450000);
    }
    ::kill(sim.pid, SIGTERM);
    tv::platform::wait_process(sim);

    make_card();
    const auto held = hold_card_mappings();  // the analysis system's, for the card read
    RunResult r = read("mmf");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("message 141"), std::string::npos) << r.err;
    EXPECT_EQ(card_rec(), 6u);
}

}  // namespace
