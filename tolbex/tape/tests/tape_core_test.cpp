// The tape intake's rules without a reader: command lines, exit-code judgement, the start of the
// recording, durations, the mappings as their creator makes them, and texts from tapes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/handles.h"
#include "testing/test_root.h"
#include "tolbex/tape/tape_reader.h"
#include "tolbex/tape/ecg_mappings.h"
#include "tolbex/tape/tests/tape_test_support.h"

namespace tv::tape_test {
namespace {

std::string joined(const std::vector<std::string>& args) {
    std::string s;
    for (const auto& a : args) s += " " + a;
    return s;
}

TEST(TapeReaderArguments, FollowTheOptions) {
    struct Case {
        TapeOptions options;
        const char* line;
    } cases[] = {
        {{1, 4, false, true, true, false, true}, " /type 2 /pace 1 /flutter 1 /gain 0 /skip24"},
        {{3, 4, false, false, true, false, true}, " /type 5 /pace 0 /flutter 1 /gain 0"},  // no pacing on this type
        {{5, 0, true, true, false, true, false}, " /type 9 /pace 0 /flutter 0 /gain 1 /disablespeedcontrol /skip24"},
        {{9, 4, false, false, false, false, true}, " /type 1 /pace 1 /flutter 0 /gain 0"},  // out of range reads as 0
    };
    for (const auto& c : cases) EXPECT_EQ(joined(tape_reader_arguments(c.options)), c.line);
}

// The reader runs hidden: what it prints stays off our console; its errors still reach our stderr.
TEST(TapeReaderOutput, StaysOffOurStdoutWhileErrorsReachStderr) {
    platform::testing::TempRoot root;
    const std::string out = root.path() + "/out", err = root.path() + "/err";
    std::fflush(nullptr);
    const int saved_out = ::dup(1), saved_err = ::dup(2);
    const platform::UniqueFd to_out(::open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    const platform::UniqueFd to_err(::open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    ::dup2(to_out.get(), 1);
    ::dup2(to_err.get(), 2);
    TapeReader reader;
    const bool started = reader.start("/bin/sh", {"-c", "echo Closing MMFs; echo broken >&2; exit 3"});
    int code = 0;
    while (started && !reader.poll(code)) ::usleep(5000);
    ::dup2(saved_out, 1);
    ::dup2(saved_err, 2);
    ::close(saved_out);
    ::close(saved_err);
    ASSERT_TRUE(started);
    EXPECT_EQ(code, 3);
    EXPECT_EQ(platform::read_whole_file(out).value_or("?"), "");
    EXPECT_EQ(platform::read_whole_file(err).value_or("?"), "broken\n");
}

TEST(TapeReaderExit, EachCodeGivesItsMessage) {
    const std::pair<int, const char*> table[] = {
        {-1, "An unsupported KELMOTH operation was attempted."},
        {0, "The KELMOTH operation was successful."},
        {1, "An invalid parameter was passed to KELMOTH"},
        {2, "The memory-mapped files became full during ECG loading."},
        {3, "The KELMOTH memory-mapped files could not be opened."},
        {110, "There was a replay deck head jam."},
        {111, "There was a replay deck capstan jam."},
        {112, "The replay deck's \"STOP\" button was pressed."},
        {113, "An attempt was made to use an invalid recorder table entry."},
        {114, "There was a gross speed error while the ECG was loading from tape."},
        {115, "There is no tape in the replay deck, or the door is open."},
        {116, "There was a data overrun error while the ECG was loading from tape."},
        {117, "No replay deck could be found."},
        {118, "The replay deck stopped answering. The ECG could not be loaded from the tape."},
        {119, kDeckBusyText},
        {120,
         "The ECG from the tape did not arrive in order, so the tape was not read whole. Nothing was stored. "
         "Please rewind the tape and load it again."},
        {121, "No ECG was loaded from the tape. Nothing was stored."},
        {122, "The tape loading was stopped because the program that started it ended."},
        {42, "The KELMOTH program returned an unexpected error code of 42."},
        {99, "The KELMOTH program returned an unexpected error code of 99."},
    };
    for (const auto& [code, text] : table) EXPECT_EQ(tape_reader_message(code), text) << code;
}

class TapeJudgement : public testing_root::RootTest {};

TEST_F(TapeJudgement, UsableCodesNeedTenMinutesAndSomeWarn) {
    struct Case {
        int code;
        std::int32_t samples;
        bool usable;
        std::string shown;
        MsgIcon icon;
    } cases[] = {
        {112, 115200, true, "", MsgIcon::None},  // STOP after 15 minutes: no message
        {112, 69120, false, kNotEnoughEcgText, MsgIcon::Error},
        {0, 76800, true, "", MsgIcon::None},
        {115, 76799, false, kNotEnoughEcgText, MsgIcon::Error},
        {2, 14745600, true, "The memory-mapped files became full during ECG loading.", MsgIcon::Warning},
        {114, 80000, true, "There was a gross speed error while the ECG was loading from tape.", MsgIcon::Warning},
        {110, 9000000, false, "There was a replay deck head jam.", MsgIcon::Error},  // hours loaded, still a jam
        {42, 9000000, false, "The KELMOTH program returned an unexpected error code of 42.", MsgIcon::Error},
        {-1, 9000000, false, "An unsupported KELMOTH operation was attempted.", MsgIcon::Error},
        {-2, 9000000, false, kReaderNotShutDownText, MsgIcon::Error},     // killed: no exit code
        {120, 9000000, false, tape_reader_message(120), MsgIcon::Error},  // hours, but not the whole tape
        {121, 0, false, tape_reader_message(121), MsgIcon::Error},
    };
    for (const auto& c : cases) {
        scripted.shown.clear();
        EXPECT_EQ(judge_tape_reader_exit(c.code, c.samples), c.usable) << c.code;
        if (c.shown.empty()) {
            EXPECT_TRUE(scripted.shown.empty()) << c.code;
        } else {
            ASSERT_EQ(scripted.shown.size(), 1u) << c.code;
            EXPECT_EQ(scripted.shown[0].text, c.shown);
            EXPECT_EQ(scripted.shown[0].icon, c.icon);
        }
    }
}

TEST(TapeStart, FromTheTimeCodeAndItsOffset) {
    struct Case {
        std::int32_t code, offset, start;
    } cases[] = {
        {-1, 5000, 0},
        {0x0010, 153600, 10982400},  // 00:10 read 20 minutes in: 23:50 the day before
        {0x1423, 0, (14 * 60 + 23) * 7680},
        {0x1423, 7679, (14 * 60 + 23) * 7680},  // the offset counts in whole minutes
        {0x2530, 0, (25 * 60 + 30) * 7680},     // past 23:59 is not reduced
        {0x0000, 3 * 11059200, 0},              // three days back lands on midnight
        {0x0001, -7680, 2 * 7680},
    };
    for (const auto& c : cases) {
        TapeDataBlock tape{};
        tape.start_time_code = c.code;
        tape.start_offset = c.offset;
        EXPECT_EQ(cef_start_sample(tape), c.start) << std::hex << c.code;
    }
}

TEST(TapeDuration, DayFormFromOneDay) {
    const std::pair<std::int64_t, const char*> table[] = {
        {0, "00:00:00"},        {128, "00:00:01"},          {115200, "00:15:00"},
        {11059199, "23:59:59"}, {11059200, "(1) 00:00:00"}, {14745600, "(1) 08:00:00"},
    };
    for (const auto& [samples, text] : table) EXPECT_EQ(tape_duration_text(samples), text) << samples;
    EXPECT_EQ(deck_state_text(1), "LOADING");
    EXPECT_EQ(deck_state_text(4), "FINISHED");
    EXPECT_EQ(deck_state_text(7), "UNKNOWN");
}

TEST(TapeTexts, ControlCharactersGoAndLengthIsBounded) {
    char field[40];
    std::memset(field, 'A', sizeof field);  // no NUL at all
    field[3] = '\r';
    field[4] = '\n';
    EXPECT_EQ(clean_patient_text(field, sizeof field, 80), std::string(38, 'A'));
    field[10] = '\0';  // what follows the NUL is the device's leftovers
    EXPECT_EQ(clean_patient_text(field, sizeof field, 80), std::string(8, 'A'));
    EXPECT_EQ(clean_patient_text("SN:1A2B / 42\x01\x7f", 80), "SN:1A2B / 42");
    EXPECT_EQ(clean_patient_text(std::string(200, 'x'), 80).size(), 80u);

    PatientDetails d;
    d.patient_name = "Doe\r\nJane";
    d.comments = "line 1\r\nline 2\x1b";
    d.clean();
    const auto fields = d.patient_text_fields("/tmp/x/PATIENT.TXT", "now");
    ASSERT_EQ(fields.size(), 17u);
    EXPECT_EQ(fields[2], "DoeJane");  // a line break would shift every later line
    EXPECT_EQ(fields[16], "line 1\r\nline 2");
}

TEST(TapeFileName, RecordingIdWhenValidElseDescription) {
    PatientDetails d;
    d.recording_id = "ABCD1234566";
    d.description = "24h tape";
    EXPECT_EQ(intake_cef_file_name(d, IntakeDestination::Folder), "ABCD1234566.CEF");
    d.recording_id = "ABCD1234567";  // wrong check digit
    EXPECT_EQ(intake_cef_file_name(d, IntakeDestination::Folder), "24h tape.CEF");
    d.description = "../..\\??**";
    EXPECT_EQ(intake_cef_file_name(d, IntakeDestination::Folder), "Compressed ECG Report.CEF");
}

class TapeMappingsTest : public TapeTest {};

TEST_F(TapeMappingsTest, FreshAndZeroedEvenOverAStaleSetAndGoneAfterwards) {
    {
        // What an earlier reader left: samples, a start sample, events and a count.
        MemoryMappedFile ctrl(kEcgCtrlName, kEcgCtrlBytes, true), events(kPatientEventsName, kPatientEventBytes, true);
        static_cast<EcgControlBlock*>(ctrl.get_view())[0] = {500, 0, 1, 1234};
        static_cast<PatientEventList*>(events.get_view())->positions[0] = 77;
    }
    {
        TapeMappings m;
        ASSERT_TRUE(m.all_mapped());
        EXPECT_EQ(m.control()[0].start_sample, 0);
        EXPECT_EQ(m.sample_count(), 0);
        EXPECT_EQ(m.event_count(), 0);
        EXPECT_EQ(m.deck_state(), kDeckIdle);
        EXPECT_EQ(m.channel(3), nullptr);
        EXPECT_EQ(m.channel(-1), nullptr);
        EXPECT_EQ(intake_mappings(shared_objects()).size(), 6u);

        // A count beyond the mapping is never used to read past it.
        m.control()[0].samples_written = 20000000;
        EXPECT_EQ(m.sample_count(), static_cast<std::int32_t>(kRawEcgSamples));
        m.control()[0].samples_written = -5;
        EXPECT_EQ(m.sample_count(), 0);

        // 1,000 events fill the list with no terminating 0.
        for (auto& p : m.events()->positions) p = 1280;
        EXPECT_EQ(m.event_count(), 1000);
        m.events()->positions[2] = 0;
        EXPECT_EQ(m.event_count(), 2);
        ASSERT_TRUE(write_patient_events(m, (t / "PATEVENT.DAT").string()));
        EXPECT_EQ(platform::read_whole_file((t / "PATEVENT.DAT").string()).value_or(""), "10\r\n10\r\n");
        // The file is new in its folder: a link planted at its name is not written through.
        fs::create_symlink(t / "PATEVENT.DAT", t / "LINKED.DAT");
        EXPECT_FALSE(write_patient_events(m, (t / "LINKED.DAT").string()));
        EXPECT_EQ(platform::read_whole_file((t / "PATEVENT.DAT").string()).value_or(""), "10\r\n10\r\n");
        m.events()->positions[0] = 0;
        ASSERT_TRUE(write_patient_events(m, (t / "NONE.DAT").string()));
        EXPECT_FALSE(fs::exists(t / "NONE.DAT"));  // no events, no file
    }
    EXPECT_TRUE(intake_mappings(shared_objects()).empty());
}

// Names a live holder has are another intake's (or its reader's): left as they are, and the deck
// counts as busy.
TEST_F(TapeMappingsTest, NamesAnotherHolderHasAreLeftAlone) {
    MemoryMappedFile held(kTapeDataName, kTapeDataBytes, true);
    ASSERT_TRUE(held.get_view());
    static_cast<TapeDataBlock*>(held.get_view())->deck_state = kDeckLoading;
    {
        TapeMappings m;
        EXPECT_TRUE(m.busy());
        EXPECT_FALSE(m.all_mapped());
        EXPECT_EQ(m.tape_data(), nullptr);
    }
    EXPECT_EQ(static_cast<TapeDataBlock*>(held.get_view())->deck_state, kDeckLoading);
    MemoryMappedFile again(kTapeDataName, kTapeDataBytes, true);
    ASSERT_TRUE(again.get_view());
    EXPECT_EQ(static_cast<TapeDataBlock*>(again.get_view())->deck_state, kDeckLoading);  // the same object
    EXPECT_EQ(intake_mappings(shared_objects()), std::vector<std::string>{kTapeDataName});
}

}  // namespace
}  // namespace tv::tape_test
