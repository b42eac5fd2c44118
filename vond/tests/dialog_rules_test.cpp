// The rules behind vond's windows: card dialog, read dialog, progress bars, the drive prompt, the
// frame's show state and the drive-type probe. No window is made here.
#include <gtest/gtest.h>

#include "common/ui.h"
#include "vond/dialogs.h"
#include "vond/messages.h"
#include "vond/program.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Sector;
using tv::vond::DrivePromptRules;

std::vector<Sector> small_card(unsigned rec) {
    cardgen::StartInfo st;
    st.rec = rec;
    cardgen::DataSector d;
    d.rec = rec;
    d.values.assign(384, 100);
    return {cardgen::start_sector(st), cardgen::data_sector(d), Sector{}};
}

// Windows that record what the core asked of them; the drive prompt answers with a script.
class FakeWindows : public tv::vond::VondWindows {
public:
    struct Recorder : tv::vond::Progress {
        explicit Recorder(FakeWindows& w) : w_(w) {}
        void set_range(std::uint32_t max) override { w_.ranges.push_back(max); }
        void set_position(std::uint32_t pos) override { w_.positions.push_back(pos); }
        FakeWindows& w_;
    };
    bool available() const override { return true; }
    bool active() const override { return is_active; }
    int show_card_dialog(tv::vond::CardDialogRules&) override { return 1; }
    // "Read ECG Data" when asked to, the sound played into `played`; then "Exit".
    int show_read_dialog(tv::vond::ReadDialogRules& rules, int mode, char drive) override {
        if (press_read_ecg) {
            rules.play_sound = [this](const std::string& wav) { played.push_back(wav); };
            rules.read_ecg_button(drive, mode);
        }
        return 1;
    }
    void choose_drive(DrivePromptRules& rules) override {
        ++prompts;
        seen_entries = rules.entries().size();
        if (choices.empty()) return rules.cancel();
        const int c = choices.front();
        choices.erase(choices.begin());
        if (c < 0) return rules.search_again();
        rules.selected = c;
        rules.choose();
    }
    std::unique_ptr<tv::vond::Progress> open_progress(bool conditioning) override {
        opened.push_back(conditioning);
        return std::make_unique<Recorder>(*this);
    }
    bool is_active = false;
    bool press_read_ecg = false;
    std::vector<std::string> played;
    int prompts = 0;
    std::size_t seen_entries = 0;
    std::vector<int> choices;  // entry index to choose; -1 searches again
    std::vector<bool> opened;
    std::vector<std::uint32_t> ranges, positions;
};

class DialogRulesTest : public VondTest {
protected:
    void SetUp() override {
        VondTest::SetUp();
        tv::set_ui(&scripted);
    }
    void TearDown() override {
        tv::set_ui(nullptr);
        tv::vond::set_windows(nullptr);
        VondTest::TearDown();
    }
    // A card that qualifies for the search: labelled, holding the four card files.
    fs::path card(char letter, const std::string& label = "QUX_CFR", std::uint64_t capacity = 4194304) {
        const fs::path c = t / "cards" / std::string(1, letter);
        cardgen::write_card(c, cardgen::config_dat(6, 5, 5, "OLD", "1"), 1024, small_card(5));
        map_card(letter, c, label, capacity);
        return c;
    }
    std::vector<std::string> shown_texts() const {
        std::vector<std::string> r;
        for (auto& s : scripted.shown) r.push_back(s.text);
        return r;
    }
    tv::ScriptedUi scripted;
    tv::vond::CardDisk disk;
};

TEST(FrameState, HiddenForTheRunsThatAnswerWithTheirExitCodeOnly) {
    using tv::vond::FrameState;
    for (int m : {0, 1, 6, 7, 9, 10, 13, 15}) EXPECT_EQ(tv::vond::frame_state(m), FrameState::Hidden) << m;
    for (int m : {2, 3, 4, 5, 8, 11, 12, 14}) EXPECT_EQ(tv::vond::frame_state(m), FrameState::Minimised) << m;
}

TEST(ProgressRules, RangesAreClampedNeverWrapped) {
    tv::vond::ProgressRules reading(false);
    EXPECT_EQ(reading.maximum(), 100);
    EXPECT_EQ(reading.title(), "Ostrabel CF Interface Program");
    EXPECT_EQ(reading.text(), "Please wait while the ECG data is read");
    reading.set_range(3600);
    reading.set_position(1800);
    // The reading bar counts in 16 bits: 65536 must not wrap to 0.
    reading.set_range(65536);
    EXPECT_EQ(reading.maximum(), 65535);
    reading.set_position(70000);
    EXPECT_EQ(reading.position(), 65535);
    reading.set_range(10);  // a shorter range takes the position along
    EXPECT_EQ(reading.position(), 10);

    tv::vond::ProgressRules conditioning(true);
    EXPECT_EQ(conditioning.text(), "Please wait while the CF disk is conditioned.");
    conditioning.set_range(4000000);
    EXPECT_EQ(conditioning.maximum(), 4000000);
    conditioning.set_position(3000000);
    conditioning.set_range(0xFFFFFFFFu);
    EXPECT_EQ(conditioning.maximum(), 0x7FFFFFFF);
}

TEST_F(DialogRulesTest, DriveListOffersOnlyCardSizedDrives) {
    card('C');
    card('E');
    card('F', "");                        // no label
    card('G', "QUX_CFR", 512ull << 20);   // too large for a card
    card('H', "SOMETHING", 64ull << 20);  // any labelled drive of card size
    tv::platform::MappedDrive cd;
    cd.letter = 'J';
    cd.folder = t.string();
    cd.label = "DISC";
    cd.kind = tv::platform::DriveKind::CdRom;
    cd.capacity = 1 << 20;
    ASSERT_TRUE(tv::platform::map_drive(cd));
    EXPECT_EQ(tv::vond::card_drive_letters('?'), (std::vector<char>{'E', 'H'}));
    // The default drive is always offered, C included.
    EXPECT_EQ(tv::vond::card_drive_letters('C'), (std::vector<char>{'C', 'E', 'H'}));
    EXPECT_EQ(tv::vond::card_drive_letters('G'), (std::vector<char>{'E', 'G', 'H'}));
}

TEST_F(DialogRulesTest, FirTableKeepsLowBitsAndRepeatsTheLastLine) {
    std::array<std::uint16_t, 32> table{};
    const fs::path fir = t / "fir.dat";
    const std::string text = "1\r\n300 coefficient\n-1\n  7\n";
    cardgen::write_bytes(fir, text.data(), text.size());
    ASSERT_TRUE(tv::vond::load_fir_table(fir.string(), table));
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[1], 300 & 0xFF);
    EXPECT_EQ(table[2], 0xFF);
    for (std::size_t i = 3; i < 32; ++i) EXPECT_EQ(table[i], 7) << i;

    table.fill(9);
    cardgen::write_bytes(fir, "", 0);
    ASSERT_TRUE(tv::vond::load_fir_table(fir.string(), table));
    for (auto w : table) EXPECT_EQ(w, 0);
    EXPECT_FALSE(tv::vond::load_fir_table((t / "none.dat").string(), table));
}

TEST_F(DialogRulesTest, CardDialogRefusesWithoutADriveOrAFilter) {
    tv::vond::CardDialogRules rules(disk, out.string());
    rules.automatic = false;  // nothing selected in an empty drive list
    EXPECT_FALSE(rules.initialise_card());
    EXPECT_EQ(shown_texts(), std::vector<std::string>{tv::vond::message_text(132)});
    EXPECT_EQ(rules.drive, "?");

    scripted.shown.clear();
    rules.automatic = true;  // automatic runs stay silent
    EXPECT_FALSE(rules.initialise_card());
    EXPECT_TRUE(scripted.shown.empty());

    card('E');
    rules.automatic = false;
    rules.selected_letter = 'E';
    rules.fir = true;  // no fir.dat in the output folder
    EXPECT_FALSE(rules.initialise_card());
    EXPECT_EQ(shown_texts(), std::vector<std::string>{tv::vond::message_text(134)});
    EXPECT_EQ(rules.drive, "E:");
}

TEST_F(DialogRulesTest, CardDialogWarnsOfSeveralCardsAndCancelLeavesTheCard) {
    const fs::path e = card('E');
    const auto before = cardgen::read_bytes(e / "config.dat");
    tv::vond::CardDialogRules rules(disk, out.string());
    rules.automatic = false;
    rules.selected_letter = 'E';
    rules.drive = "F:>2";  // the last search found several: the warning names the chosen letter
    scripted.answers.push_back(tv::MsgResult::Cancel);
    EXPECT_FALSE(rules.initialise_card());
    ASSERT_GE(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "Drive Letter E selected.\nWarning - more than one Ostrabel CF found.\nPlease check selected drive "
              "letter is the intended CF card.");
    EXPECT_EQ(scripted.shown[0].buttons, tv::MsgButtons::OkCancel);
    EXPECT_EQ(scripted.shown.back().text, tv::vond::message_text(137));
    EXPECT_EQ(rules.drive, "E:>2");
    EXPECT_EQ(cardgen::read_bytes(e / "config.dat"), before);
    EXPECT_FALSE(rules.closed_program());
}

TEST_F(DialogRulesTest, CardNotFoundIsSaidEvenWhenAutomatic) {
    tv::vond::CardDialogRules rules(disk, out.string());
    rules.drive = "K:";  // not in the drive map
    EXPECT_FALSE(rules.initialise_card());
    EXPECT_EQ(shown_texts(), std::vector<std::string>{tv::vond::message_text(131)});
}

TEST_F(DialogRulesTest, ConditioningFromTheCardDialogShowsItsProgressAndClosesTheProgram) {
    // A labelled card with nothing on it yet: it must be conditioned.
    const fs::path c = t / "cards" / "E";
    fs::create_directories(c);
    map_card('E', c, "QUX_CFR", 1 << 20);
    FakeWindows w;
    w.is_active = true;
    tv::vond::set_windows(&w);
    disk.set_mode(3);
    tv::vond::CardDialogRules rules(disk, out.string());
    rules.automatic = false;
    rules.selected_letter = 'E';
    rules.close_after_init = true;
    rules.name = "DOE";
    rules.id = "77";
    scripted.answers.push_back(tv::MsgResult::Yes);  // condition the 1 MB card
    ASSERT_TRUE(rules.initialise_card()) << ::testing::PrintToString(shown_texts());
    EXPECT_TRUE(rules.closed_program());
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].text, "This 1MB card is not conditioned.\nDo you want to condition the card?");
    EXPECT_EQ(scripted.shown[1].text, tv::vond::message_text(130));
    EXPECT_EQ(w.opened, std::vector<bool>{true});
    const std::uint64_t sectors = (1048576 - 74240) / 512;
    EXPECT_EQ(w.ranges, std::vector<std::uint32_t>{sectors});
    ASSERT_FALSE(w.positions.empty());
    EXPECT_EQ(w.positions.back(), sectors);
    EXPECT_EQ(fs::file_size(c / "ecg.dat"), sectors * 512);

    // Without a window run there is no progress dialog.
    w.is_active = false;
    EXPECT_EQ(tv::vond::open_conditioning_progress(), nullptr);
}

TEST_F(DialogRulesTest, ReadDialogReportsOnlyWhenShown) {
    tv::vond::ReadDialogRules rules(disk, out.string());
    rules.automatic = true;
    EXPECT_FALSE(rules.read_patient_details());
    EXPECT_TRUE(scripted.shown.empty());
    rules.automatic = false;
    EXPECT_FALSE(rules.read_patient_details());
    EXPECT_EQ(shown_texts(), std::vector<std::string>{tv::vond::message_text(139)});

    scripted.shown.clear();
    EXPECT_FALSE(rules.read_patient_button('?'));
    EXPECT_EQ(shown_texts(), std::vector<std::string>{tv::vond::message_text(131)});

    // A card: the details land in PATSUMM.DAT; an output format that reads nothing succeeds.
    card('E');
    scripted.shown.clear();
    ASSERT_TRUE(rules.read_patient_button('?')) << ::testing::PrintToString(shown_texts());
    EXPECT_EQ(rules.info.name, "OLD");
    EXPECT_EQ(rules.info.id, "1");
    const std::string summary = slurp(out / "patsumm.dat");
    EXPECT_EQ(summary.rfind("OLD\r\n1\r\n", 0), 0u) << summary;
    rules.automatic = true;
    EXPECT_TRUE(rules.read_ecg(0));
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(DialogRulesTest, DrivePromptListsTheCardsAndSettlesOnTheChosenOne) {
    card('E');
    const fs::path f = card('F');
    DrivePromptRules rules('F', false);
    rules.search();
    EXPECT_TRUE(rules.needs_prompt());
    EXPECT_TRUE(rules.several());
    EXPECT_EQ(rules.text(), tv::vond::message_text(151));
    ASSERT_EQ(rules.entries().size(), 2u);
    EXPECT_EQ(DrivePromptRules::entry_text(rules.entries()[0]), "E:  QUX_CFR  (4 MB)");
    EXPECT_EQ(rules.selected, 1);  // the default drive

    // Not chosen: the caller hears that there were several.
    rules.cancel();
    auto r = rules.result();
    EXPECT_EQ(r.letter, 'F');
    EXPECT_TRUE(r.several);

    rules.search();
    EXPECT_EQ(rules.outcome(), DrivePromptRules::Outcome::Open);
    rules.selected = 0;
    ASSERT_TRUE(rules.choose());
    r = rules.result();
    EXPECT_EQ(r.letter, 'E');
    EXPECT_FALSE(r.several);
    EXPECT_EQ(r.root, (t / "cards" / "E").string());

    // A card pulled while the prompt was open is not taken.
    rules.search();
    rules.selected = 1;
    fs::remove_all(f);
    EXPECT_FALSE(rules.choose());
    EXPECT_EQ(rules.outcome(), DrivePromptRules::Outcome::Open);
    EXPECT_EQ(shown_texts(), std::vector<std::string>{tv::vond::message_text(131)});
    rules.selected = 7;  // nothing selected
    EXPECT_FALSE(rules.choose());
}

TEST_F(DialogRulesTest, DrivePromptWithoutACardOffersTheDrivesACardMaySitIn) {
    const fs::path blank = t / "cards" / "G";
    fs::create_directories(blank);
    map_card('G', blank, "NO NAME", 64ull << 20);
    DrivePromptRules quiet('?', false);
    quiet.search();
    EXPECT_FALSE(quiet.needs_prompt());
    EXPECT_EQ(quiet.result().letter, '?');

    DrivePromptRules rules('?', true);
    rules.search();
    EXPECT_TRUE(rules.needs_prompt());
    EXPECT_FALSE(rules.several());
    EXPECT_EQ(rules.text(), tv::vond::message_text(200));
    ASSERT_EQ(rules.entries().size(), 1u);
    EXPECT_EQ(rules.entries()[0].letter, 'G');
    EXPECT_EQ(rules.selected, 0);
    ASSERT_TRUE(rules.choose());
    EXPECT_EQ(rules.result().letter, 'G');
    EXPECT_FALSE(rules.result().several);
}

TEST_F(DialogRulesTest, AskingSearchWithoutWindowsUsesThePlainQuestion) {
    card('E');
    // One card: nothing to ask.
    EXPECT_EQ(tv::vond::search_card_drive_asking('?', true).letter, 'E');
    EXPECT_TRUE(scripted.shown.empty());

    card('F');
    scripted.answers = {tv::MsgResult::Ok, tv::MsgResult::Cancel};  // search again, then give up
    auto r = tv::vond::search_card_drive_asking('?', false);
    EXPECT_EQ(r.letter, 'E');
    EXPECT_TRUE(r.several);
    ASSERT_EQ(scripted.shown.size(), 2u);
    for (auto& s : scripted.shown) {
        EXPECT_EQ(s.text, tv::vond::message_text(151));
        EXPECT_EQ(s.buttons, tv::MsgButtons::OkCancel);
    }
    // The safe answer ends the loop as well.
    scripted.shown.clear();
    EXPECT_TRUE(tv::vond::search_card_drive_asking('?', false).several);
    EXPECT_EQ(scripted.shown.size(), 1u);
}

TEST_F(DialogRulesTest, AskingSearchWithWindowsLetsTheUserChoose) {
    card('E');
    card('F');
    FakeWindows w;
    tv::vond::set_windows(&w);
    w.choices = {-1, 1};  // search again, then the second card
    auto r = tv::vond::search_card_drive_asking('?', false);
    EXPECT_EQ(w.prompts, 2);
    EXPECT_EQ(r.letter, 'F');
    EXPECT_FALSE(r.several);
    EXPECT_TRUE(scripted.shown.empty());

    // None found: prompted only when the user asked to select the drive.
    fs::remove_all(t / "cards");
    w.prompts = 0;
    EXPECT_EQ(tv::vond::search_card_drive_asking('?', false).letter, '?');
    EXPECT_EQ(w.prompts, 0);
    EXPECT_EQ(tv::vond::search_card_drive_asking('?', true).letter, '?');  // cancelled
    EXPECT_EQ(w.prompts, 1);
    EXPECT_EQ(w.seen_entries, 0u);  // mapped folders gone: nothing a card may sit in
}

TEST_F(DialogRulesTest, HiddenRunsAnswerTheDrivePromptFromTheScript) {
    card('E');
    card('F');
    const std::string summary = "DOE\r\n77\r\n";
    cardgen::write_bytes(out / "PATSUMM.DAT", summary.data(), summary.size());
    // /write=cnav never asks: several cards are the caller's to settle.
    RunResult r = run({"/write=cnav", "/dir=" + out.string()});
    EXPECT_EQ(r.code, 117) << r.err;
    EXPECT_EQ(r.err.find("message 151"), std::string::npos);
    // /write=path asks; the script searches again once, then gives up; no window can follow.
    r = run({"/write=path", "/dir=" + out.string()}, {"VOND_UI_ANSWERS=ok,cancel"});
    EXPECT_EQ(r.code, 126) << r.err;
    std::size_t asked = 0;
    for (std::size_t p = r.err.find("message 151"); p != std::string::npos; p = r.err.find("message 151", p + 1))
        ++asked;
    EXPECT_EQ(asked, 2u) << r.err;
}

TEST_F(DialogRulesTest, StandAloneReadsOfferTheSpeechRecordingAndEndWithTheCardsCode) {
    struct Case {
        const char* mode;
        unsigned config_rec, wav;  // the card's recording is number 5
        int expect;
        bool offered;
    };
    for (const Case c : {Case{"/readpat=stand", 5, 5, 114, true},
                         {"/readecg=stand", 5, 5, 114, true},
                         {"/readpat=stand", 6, 4, 0, false}}) {
        const fs::path card = t / "cards" / "E";
        fs::remove_all(card);
        cardgen::write_card(card, cardgen::config_dat(c.config_rec, 5, c.wav, "OLD", "1"), 1024, small_card(5));
        map_card('E', card, "QUX_CFR");
        FakeWindows w;
        w.press_read_ecg = true;
        tv::vond::set_windows(&w);
        scripted.shown.clear();
        scripted.answers = {tv::MsgResult::Yes};
        EXPECT_EQ(tv::vond::run_vond({c.mode, "/dir=" + out.string(), "/cal=0"}), c.expect) << c.mode;
        const auto texts = shown_texts();
        const bool asked = std::find(texts.begin(), texts.end(), tv::vond::message_text(138)) != texts.end();
        EXPECT_EQ(asked, c.offered) << c.mode << ::testing::PrintToString(texts);
        EXPECT_EQ(w.played,
                  c.offered ? std::vector<std::string>{(out / "patient.wav").string()} : std::vector<std::string>{})
            << c.mode;
        // The ECG was read and the card marked as read all the same.
        EXPECT_EQ(tv::load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), std::max(c.config_rec, 6u))
            << c.mode;
        tv::vond::set_windows(nullptr);
    }
}

TEST_F(DialogRulesTest, DialogRunsNobodyCanSeeTakeTheSafeAnswers) {
    card('E');
    const std::string summary = "DOE\r\n77\r\n";
    cardgen::write_bytes(out / "PATSUMM.DAT", summary.data(), summary.size());
    // Offscreen, a dialog would wait for an answer that never comes; the code is no card code, so
    // a caller never asks for another card.
    for (const char* mode : {"/write=stand", "/write=path", "/readpat=stand", "/readecg=stand"}) {
        RunResult r = run({mode, "/dir=" + out.string()}, {"QT_QPA_PLATFORM=offscreen"}, 30);
        EXPECT_EQ(r.code, 126) << mode << r.err;
        EXPECT_NE(r.err.find("needs a window, and none can be shown here"), std::string::npos) << mode << r.err;
    }
}

}  // namespace
