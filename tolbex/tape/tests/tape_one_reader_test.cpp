// One reader per deck, and only while its caller lives: whole intakes in processes of their own on
// one simulated deck, killed or overlapping. Each read either stores the tape exactly as the deck
// served it (every channel byte and every event) or fails with a message; none stores part of it.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/shared_memory.h"
#include "tolbex/tape/tests/tape_test_support.h"

namespace tv::tape_test {
namespace {

// How an intake in a process of its own ended, as its exit status.
enum Outcome { kExact = 0, kNotExact = 1, kFailedWithMessage = 2, kOther = 3 };

class TapeOneReader : public TapeTest {
protected:
    // A tape at the deck's own rate: one packet a millisecond, 150 samples each.
    void play_seconds(int seconds) {
        tapegen::Options tape;
        tape.type = 2;
        tape.packets = 1000 * seconds;
        expected = play(tape, true);
    }

    TapeOptions wendle3() const {
        TapeOptions o;
        o.type_index = 1;
        return o;
    }

    // True when the mappings hold what the deck served: the count, every sample of every channel
    // and the events. Read by name while the intake holds them.
    bool mappings_exact() const {
        MemoryMappedFile ctrl(kEcgCtrlName, kEcgCtrlBytes, true), events(kPatientEventsName, kPatientEventBytes, true);
        if (!ctrl.get_view() || !events.get_view()) return false;
        const auto* c = static_cast<const EcgControlBlock*>(ctrl.get_view());
        if (c[0].samples_written != expected.samples_written) return false;
        for (int ch = 0; ch < 3; ++ch) {
            MemoryMappedFile samples(kRawEcgNames[ch], kRawEcgBytes, true);
            if (!samples.get_view() ||
                tapegen::fnv1a(static_cast<const std::uint8_t*>(samples.get_view()),
                               2 * static_cast<std::size_t>(expected.samples_stored)) != expected.channel_hash[ch])
                return false;
        }
        const auto* list = static_cast<const PatientEventList*>(events.get_view());
        std::vector<std::int32_t> found;
        for (std::uint32_t i = 0; i < kPatientEventSlots && list->positions[i]; ++i)
            found.push_back(list->positions[i]);
        return found == expected.events;
    }

    // One intake to a folder; what became of it.
    Outcome intake() {
        PatientDetails d;
        d.patient_name = "Doe Jane";
        d.description = "Tape";
        TapeIntakeSteps s = steps(wendle3(), d);
        bool exact = false;
        const auto ask = s.ask_patient_details;
        s.ask_patient_details = [&](const PatientDetails& p, bool for_mail) {
            exact = mappings_exact();
            return ask(p, for_mail);
        };
        scripted.shown.clear();
        const TapeIntakeResult result = create_cef_from_tape(kTapeToFolder, s);
        if (result == TapeIntakeResult::delivered) return exact ? kExact : kNotExact;
        if (result == TapeIntakeResult::failed && !scripted.shown.empty()) {
            shown = scripted.shown.back().text;
            return kFailedWithMessage;
        }
        return kOther;
    }

    // The same in a process of its own, as a second tolbex would run it.
    pid_t intake_process() {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const Outcome outcome = intake();
            std::ofstream(t / ("shown." + std::to_string(::getpid()))) << shown;
            ::_exit(outcome);
        }
        return pid;
    }
    Outcome ended(pid_t pid, std::string& said) {
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return kOther;
        said = platform::read_whole_file((t / ("shown." + std::to_string(pid))).string()).value_or("");
        return static_cast<Outcome>(WEXITSTATUS(status));
    }

    // Waits until a reader has stored samples, without holding the mappings afterwards (a holder
    // would keep a reader whose caller has gone alive).
    static bool loading() {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < limit) {
            {
                auto ctrl = platform::SharedMemory::open_existing(kEcgCtrlName, kEcgCtrlBytes, false);
                if (ctrl && static_cast<const EcgControlBlock*>(ctrl->data())[0].samples_written > 0) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    // Waits until no process holds the intake's mappings any more: every reader has let go.
    static bool readers_gone(int seconds = 60) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!intake_mappings(shared_objects()).empty())
            if (std::chrono::steady_clock::now() > limit)
                return false;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return true;
    }

    tapegen::Expected expected;
    std::string shown;
};

// tolbex killed mid-tape: its reader stops the deck and lets go long before the tape would have
// ended; a read at once is either exact or told the deck is busy, and one after the reader has
// gone is exact.
TEST_F(TapeOneReader, AReReadAfterTolbexWasKilledMidTape) {
    play_seconds(20);
    const pid_t first = intake_process();
    ASSERT_TRUE(loading());
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
    const Outcome at_once = intake();
    if (at_once == kFailedWithMessage)
        EXPECT_EQ(shown, kDeckBusyText);
    else
        EXPECT_EQ(at_once, kExact);
    ASSERT_TRUE(readers_gone(10));  // an orphan would play on for the rest of the 20 seconds
    EXPECT_EQ(intake(), kExact);
}

TEST_F(TapeOneReader, TwoIntakesAtOnceOneIsToldTheDeckIsBusy) {
    play_seconds(8);
    const pid_t first = intake_process();
    ASSERT_TRUE(loading());
    EXPECT_EQ(intake(), kFailedWithMessage);
    EXPECT_EQ(shown, kDeckBusyText);
    std::string said;
    EXPECT_EQ(ended(first, said), kExact) << said;
}

// The reader killed mid-tape: that intake says so; the next read is exact, from the tape's start.
TEST_F(TapeOneReader, AReadAfterAKilledReader) {
    play_seconds(8);
    const pid_t first = intake_process();
    ASSERT_TRUE(loading());
    std::string children =
        platform::read_whole_file("/proc/" + std::to_string(first) + "/task/" + std::to_string(first) + "/children")
            .value_or("");
    const pid_t reader = static_cast<pid_t>(std::atoi(children.c_str()));
    ASSERT_GT(reader, 0) << children;
    ::kill(reader, SIGKILL);
    std::string said;
    EXPECT_EQ(ended(first, said), kFailedWithMessage);
    EXPECT_EQ(said, kReaderNotShutDownText);
    ASSERT_TRUE(readers_gone());
    EXPECT_EQ(intake(), kExact);
}

}  // namespace
}  // namespace tv::tape_test
