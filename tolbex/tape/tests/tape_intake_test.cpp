// The intake sequence against the built KELMOTH on the simulated deck: what each way of ending
// leaves behind, and the reader's own exit codes as the user sees them.
#include <gtest/gtest.h>

#include "platform/fs.h"
#include "tolbex/tape/tests/tape_test_support.h"

namespace tv::tape_test {
namespace {

class TapeIntake : public TapeTest {
protected:
    TapeOptions wendle3() const {
        TapeOptions o;
        o.type_index = 1;
        return o;
    }
    PatientDetails details() const {
        PatientDetails d;
        d.patient_name = "Doe Jane";
        d.description = "Tape";
        d.level = 0;
        return d;
    }
    void expect_nothing_left() {
        EXPECT_TRUE(intake_mappings(shared_objects()).empty());
        EXPECT_TRUE(platform::testing::sorted_names(root.tmp()).empty());
        EXPECT_FALSE(fs::exists(t / "delivered.CEF"));
    }
};

TEST_F(TapeIntake, CancelledHalfwayLeavesNothingBehind) {
    tapegen::Options tape;
    tape.type = 2;
    tape.packets = 600000;  // ten minutes at the deck's own rate
    play(tape, true);
    TapeIntakeSteps s = steps(wendle3(), details());
    std::int32_t seen = 0;
    s.run_loading = [&](TapeLoadSession& session) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (session.tick() == TapeLoadSession::Tick::running && session.progress() == 0 &&
               std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        seen = session.progress();
        EXPECT_FALSE(session.cancel(1000));  // the stop-button notice; the dialog stays
        EXPECT_FALSE(session.cancel(2000));  // again, before the offer to end the reader
        session.set_end_offer_ms(500);
        scripted.answers.push_back(MsgResult::Yes);
        return !session.cancel(3000);
    };
    EXPECT_EQ(create_cef_from_tape(kTapeToFolder, s), TapeIntakeResult::stopped);
    EXPECT_GT(seen, 0);
    ASSERT_EQ(scripted.shown.size(), 3u);
    EXPECT_EQ(scripted.shown[0].text, kPressStopText);
    EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Warning);
    EXPECT_EQ(scripted.shown[2].text, kEndReaderQuestion);
    EXPECT_EQ(scripted.shown[2].default_button, MsgResult::No);
    expect_nothing_left();
}

TEST_F(TapeIntake, EndingTheReaderMidTapeTellsTheDeckToStop) {
    tapegen::Options tape;
    tape.type = 2;
    tape.packets = 60000;  // a minute at the deck's own rate
    const fs::path log = t / "deck.log";
    play(tape, true, log.string());
    TapeIntakeSteps s = steps(wendle3(), details());
    s.run_loading = [&](TapeLoadSession& session) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (session.tick() == TapeLoadSession::Tick::running && session.progress() == 0 &&
               std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_GT(session.progress(), 0);
        session.set_end_offer_ms(0);
        EXPECT_FALSE(session.cancel(1000));
        scripted.answers.push_back(MsgResult::Yes);
        return !session.cancel(1000);
    };
    EXPECT_EQ(create_cef_from_tape(kTapeToFolder, s), TapeIntakeResult::stopped);
    std::string received;
    if (auto text = platform::read_whole_file(log.string())) received = *text;
    // The stop command, 39 bytes: destination 17, source 80, command 81.
    EXPECT_NE(received.find("\n39 17 80 81 "), std::string::npos) << received;
    expect_nothing_left();
}

TEST_F(TapeIntake, StoppedOnTheDeckThenPatientDetailsCancelledLeavesNothingBehind) {
    tapegen::Options tape;
    tape.type = 2;
    tape.packets = 5000;
    tape.status_after = 800;  // STOP after 120,000 samples: a usable recording
    tape.status = 112;
    play(tape);
    TapeIntakeSteps s = steps(wendle3(), details());
    s.ask_patient_details = [this](const PatientDetails& p, bool) {
        prefilled = p;
        return std::optional<PatientDetails>();
    };
    EXPECT_EQ(create_cef_from_tape(kTapeToArchive, s), TapeIntakeResult::stopped);
    EXPECT_TRUE(scripted.shown.empty());  // STOP with enough ECG says nothing
    expect_nothing_left();
}

TEST_F(TapeIntake, TheReadersEndsAsTheUserSeesThem) {
    struct Case {
        const char* what;
        std::int64_t packets;  // -1: no deck at all
        std::int32_t status;
        std::string message;
    } cases[] = {
        {"no deck", -1, 0, "No replay deck could be found."},
        {"STOP after 9 minutes", 460, 112, kNotEnoughEcgText},
        {"head jam", 2000, 110, "There was a replay deck head jam."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scripted.shown.clear();
        sim.stop();
        if (c.packets >= 0) {
            tapegen::Options tape;
            tape.type = 2;
            tape.packets = c.packets + 100;
            tape.status_after = c.packets;
            tape.status = c.status;
            play(tape);
        }
        EXPECT_EQ(create_cef_from_tape(kTapeToMail, steps(wendle3(), details())), TapeIntakeResult::failed);
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text, c.message);
        EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Error);
        expect_nothing_left();
    }
}

TEST_F(TapeIntake, RefusedWhileTheAnalysisSystemRunsAndWhenTheReaderIsMissing) {
    TapeIntakeSteps s = steps(wendle3(), details());
    s.analysis_system_running = [] { return true; };
    EXPECT_EQ(create_cef_from_tape(kTapeToArchive, s), TapeIntakeResult::stopped);
    s = steps(wendle3(), details());
    s.reader_program = (t / "no/KELMOTH.EXE").string();
    EXPECT_EQ(create_cef_from_tape(kTapeToArchive, s), TapeIntakeResult::failed);
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].text, kAnalysisRunningCefText);
    EXPECT_EQ(scripted.shown[1].text, kCannotRunReaderText);
    expect_nothing_left();
}

}  // namespace
}  // namespace tv::tape_test
