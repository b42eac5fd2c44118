// Conditioning, validation, recovery, marking as read, and the command line's exit codes.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/ui.h"
#include "vond/card_disk.h"
#include "vond/program.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Sector;

std::vector<Sector> small_card(unsigned rec) {
    cardgen::StartInfo st;
    st.rec = rec;
    cardgen::DataSector d;
    d.rec = rec;
    d.values.assign(384, 100);
    return {cardgen::start_sector(st), cardgen::data_sector(d), Sector{}};
}

class CardOpsTest : public VondTest {};

TEST_F(CardOpsTest, SetPatConditionsADriveMapCard) {
    const fs::path card = t / "cards" / "E";
    cardgen::write_card(card, cardgen::config_dat(6, 5, 5, "OLD", "1"), 1024, small_card(5));
    map_card('E', card, "QUX_CFR", 4194304);
    const fs::path ldsc = t / "D.LDSC";
    const std::string desc = "[Patient Details]\r\nPatientName=DOE ; comment\r\nPatientId=77\r\n";
    cardgen::write_bytes(ldsc, desc.data(), desc.size());
    RunResult r = run({"/setpat=" + ldsc.string()}, {"VOND_UI_ANSWERS=yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("This 4MB card is not conditioned."), std::string::npos) << r.err;

    auto golden = cardgen::config_dat(3, 3, 2, "DOE", "77");
    const auto config = cardgen::read_bytes(card / "config.dat");
    ASSERT_EQ(config.size(), 512u);
    for (std::size_t i = 0; i < 512; ++i)
        if (i < 4 || i > 9) {
            EXPECT_EQ(config[i], golden[i]) << "config.dat byte " << i;
        }
    EXPECT_GE(config[9], 24);  // the time written is now (a year after 2023)
    EXPECT_EQ(cardgen::read_bytes(card / "cnav.dat"), cardgen::Bytes(8192, 0));
    EXPECT_EQ(cardgen::read_bytes(card / "patient.wav"), cardgen::empty_wav());
    const auto ecg = cardgen::read_bytes(card / "ecg.dat");
    ASSERT_EQ(ecg.size(), 4194304u - 74240u);
    EXPECT_EQ(ecg[0], 0x81);
    EXPECT_EQ(ecg[1], 0x01);
    EXPECT_TRUE(std::all_of(ecg.begin() + 2, ecg.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(tv::platform::mapped_drive('E')->label, "QUX_CFR");

    // The sound file belongs to no recording of this card.
    EXPECT_EQ(run({"/wav"}).code, 0);

    // Descriptor texts reach the card cleaned and cut to their fields.
    const std::string hostile =
        "[Patient Details]\r\nPatientName=" + std::string(200, 'N') + "\x01\r\nPatientId= 7\t7\x7f\r\n";
    cardgen::write_bytes(ldsc, hostile.data(), hostile.size());
    r = run({"/setpat=" + ldsc.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto texts = cardgen::read_bytes(card / "config.dat");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&texts[96]), 160), std::string(159, 'N') + '\0');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&texts[256]), 4), std::string("7 7\0", 4));

    // No identifier: nothing on the card changes.
    const auto before_cfg = cardgen::read_bytes(card / "config.dat");
    const std::string bad = "[Patient Details]\r\nPatientName=DOE\r\n";
    cardgen::write_bytes(ldsc, bad.data(), bad.size());
    EXPECT_EQ(run({"/setpat=" + ldsc.string()}, {"VOND_UI_ANSWERS=yes"}).code, 120);
    EXPECT_EQ(cardgen::read_bytes(card / "config.dat"), before_cfg);
    EXPECT_EQ(cardgen::read_bytes(card / "ecg.dat"), ecg);
    EXPECT_EQ(run({"/setpat=" + (t / "missing.LDSC").string()}).code, 118);
    // A descriptor that is a link, even to a good one, or a FIFO is not read.
    cardgen::write_bytes(ldsc, desc.data(), desc.size());
    fs::create_symlink(ldsc, t / "L.LDSC");
    ASSERT_EQ(::mkfifo((t / "F.LDSC").c_str(), 0600), 0);
    for (const char* name : {"L.LDSC", "F.LDSC"}) {
        EXPECT_EQ(run({"/setpat=" + (t / name).string()}, {"VOND_UI_ANSWERS=yes"}).code, 118) << name;
        EXPECT_EQ(cardgen::read_bytes(card / "config.dat"), before_cfg) << name;
    }
}

TEST_F(CardOpsTest, SetPatDeclinedLeavesTheCard) {
    const fs::path card = t / "cards" / "E";
    cardgen::write_card(card, cardgen::config_dat(6, 5, 5, "OLD", "1"), 1024, small_card(5));
    map_card('E', card, "QUX_CFR", 4194304);
    const auto before = cardgen::read_bytes(card / "ecg.dat");
    const fs::path ldsc = t / "D.LDSC";
    const std::string desc = "[Patient Details]\r\nPatientName=DOE\r\nPatientId=77\r\n";
    cardgen::write_bytes(ldsc, desc.data(), desc.size());
    EXPECT_EQ(run({"/setpat=" + ldsc.string()}).code, 103);
    EXPECT_EQ(cardgen::read_bytes(card / "ecg.dat"), before);
}

TEST_F(CardOpsTest, WavReportsTheDriveLetterOfAMatchingSoundFile) {
    const fs::path card = t / "cards" / "F";
    cardgen::write_card(card, cardgen::config_dat(6, 5, 5, "A", "B"), 1024, small_card(5));
    map_card('F', card, "QUX_CFR");
    EXPECT_EQ(run({"/wav"}).code, 'F');
    EXPECT_EQ(run({"/wav", "/ipdir=" + card.string()}).code, 100);
}

TEST_F(CardOpsTest, ReadPatientDetailsFromADriveCard) {
    const fs::path card = t / "cards" / "G";
    cardgen::StartInfo st;
    st.recorder_text = "  Rec 7  ";
    cardgen::DataSector d;
    d.values.assign(384, 100);
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "DOE^JOHN", "12345"), 1024,
                        {cardgen::start_sector(st), cardgen::data_sector(d), Sector{}});
    map_card('G', card, "QUX_CFR_1");
    RunResult r = run({"/dir=" + out.string(), "/readpat=path", "/cal=0"});
    EXPECT_EQ(r.code, 111) << r.err;
    // name, id, recording start, recorder id, "1", channels, length, details time, second time.
    EXPECT_EQ(
        slurp(out / "patsumm.dat"),
        "DOE^JOHN\r\n12345\r\n15/03/2007 10:20:30\r\nRec 7 SN123456\r\n1\r\n3\r\n24\r\n00/00/2000 00:00:00\r\n\r\n");
    EXPECT_EQ(cardgen::read_bytes(out / "patient.wav"), cardgen::empty_wav());
    EXPECT_EQ(slurp(out / "event.dat"), "Version 1\r\n");
}

TEST_F(CardOpsTest, TheTraceReachesNoOutputUnlessAskedFor) {
    const fs::path card = t / "cards" / "G";
    cardgen::DataSector d;
    d.values.assign(384, 100);
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "DOE^JOHN", "12345"), 1024,
                        {cardgen::start_sector(cardgen::StartInfo{}), cardgen::data_sector(d), Sector{}});
    map_card('G', card, "QUX_CFR_1");
    for (const char* setting : {"VOND_TRACE=", "VOND_TRACE=0", "VOND_TRACE=1"}) {
        SCOPED_TRACE(setting);
        RunResult r = run({"/dir=" + out.string(), "/readpat=path", "/cal=0"}, {setting});
        EXPECT_EQ(r.code, 111) << r.err;
        EXPECT_EQ(r.out.find("m_exit_code"), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find("m_exit_code : 111\n") != std::string::npos, std::string(setting) == "VOND_TRACE=1")
            << r.err;
    }
}

TEST_F(CardOpsTest, RecordedCardsCnavIsAcceptedByTheStatusQueryAndTheDetailsChange) {
    // A recorded card carries the recorder's 1,024-byte cnav.dat.
    const fs::path card = t / "cards" / "G";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "DOE", "1"), 1024, small_card(5));
    map_card('G', card, "QUX_CFR");
    RunResult r = run({"/readpat=status", "/dir=" + out.string()});
    EXPECT_EQ(r.code, 111) << r.err;
    // Without an output folder nothing is written, least of all into the current folder.
    const fs::path here = fs::current_path();
    fs::current_path(t);  // vond starts in the test's current folder
    r = run({"/readpat=status"});
    fs::current_path(here);
    EXPECT_EQ(r.code, 111) << r.err;
    EXPECT_FALSE(fs::exists(t / "patsumm.dat"));
    const std::string summary = "NEW\r\nID2\r\n";
    cardgen::write_bytes(out / "patsumm.dat", summary.data(), summary.size());
    r = run({"/changepat=cnav", "/confirmed", "/dir=" + out.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto config = cardgen::read_bytes(card / "config.dat");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&config[96])), "NEW");
}

TEST_F(CardOpsTest, ExitCodesOfTheCommandLine) {
    EXPECT_EQ(run({"/readecg=hide", "/dir=" + out.string()}).code, 100);  // no output format
    EXPECT_EQ(run({"/readecg=hide", "/opformat=path", "/duration=29", "/dir=" + out.string()}).code, 100);
    EXPECT_EQ(run({"/write=path", "/fir", "/dir=" + out.string()}).code, 100);
    EXPECT_EQ(run({"/readpat=path", "/resolution=13", "/dir=" + out.string()}).code, 100);
    EXPECT_EQ(run({"/readpat=path", "/procedure_id=12345678901234567", "/dir=" + out.string()}).code, 100);
    EXPECT_EQ(run({"/readpat=path", "/dir=" + out.string() + std::string(300, 'x')}).code, 100);
    EXPECT_EQ(run({"/bogus"}).code, 100);
    EXPECT_EQ(run({"/readpat=path", "/dir=" + (t / "a" / "b").string()}).code, 101);
    EXPECT_EQ(run({"/readpat=path", "/dir=" + out.string()}).code, 102);  // no card
    EXPECT_EQ(
        run({"/readecg=hide", "/opformat=archive", "/dir=" + out.string(), "/ipdir=" + (t / "none").string()}).code,
        112);
    EXPECT_EQ(run({"/write=stand", "/dir=" + out.string()}).code, 126);  // needs a window, no display
}

TEST(CommandLine, SwitchesAndValues) {
    using tv::vond::parse_command_line;
    auto c = parse_command_line({"/DIR=\"/x y\"", "/opformat=ARCHIVEX", "/readpat=path", "/write=cnav", "/skip24",
                                 "/skip=0", "/procedure_id=1234567890123456"});
    EXPECT_TRUE(c.valid);
    EXPECT_EQ(c.output_folder, "/x y");
    EXPECT_EQ(c.output_format, 2);
    EXPECT_EQ(c.mode, 1);  // a later switch wins
    EXPECT_EQ(c.skip, 0);
    EXPECT_FALSE(parse_command_line({"/skip=-1"}).valid);
    EXPECT_FALSE(parse_command_line({"/duration=0"}).valid);
    EXPECT_FALSE(parse_command_line({"/resolution=7"}).valid);
    EXPECT_TRUE(parse_command_line({"/resolution=8"}).valid);
    EXPECT_FALSE(parse_command_line({"/opformat=tape"}).valid);
}

// In-process card operations on a card folder.
class DiskTest : public VondTest {
protected:
    tv::ScriptedUi ui;
    void SetUp() override {
        VondTest::SetUp();
        tv::set_ui(&ui);
    }
    void TearDown() override {
        tv::set_ui(nullptr);
        VondTest::TearDown();
    }
};

TEST_F(DiskTest, MarkingAsReadOnceOnlyAndNeverOnAReadOnlyConfig) {
    const fs::path card = t / "C";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, small_card(5));
    tv::vond::CardDisk disk;
    disk.set_root(card.string());
    disk.set_mode(10);
    ::chmod((card / "config.dat").c_str(), 0444);
    EXPECT_EQ(disk.mark_as_read(true), 1);  // even when root could write it
    EXPECT_EQ(tv::load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), 5u);
    ::chmod((card / "config.dat").c_str(), 0644);
    EXPECT_EQ(disk.mark_as_read(true), 0);
    EXPECT_EQ(disk.mark_as_read(true), 0);
    EXPECT_EQ(tv::load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), 6u);
    EXPECT_EQ(disk.check_card_files(), 0);
}

TEST_F(DiskTest, RecoveryRewritesTheDamagedStartSectorWhereItWas) {
    const fs::path card = t / "C";
    cardgen::Sector idx{};
    idx[0] = 32;
    tv::store_le16(&idx[1], 5);
    auto sectors = small_card(5);
    sectors.insert(sectors.begin(), idx);  // the start sector is sector 1
    sectors[1][511] ^= 1;
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, sectors);
    tv::vond::CardDisk disk;
    disk.set_root(card.string());
    ui.answers = {tv::MsgResult::Yes};
    ASSERT_TRUE(disk.recover_start_sector());
    const auto ecg = cardgen::read_bytes(card / "ecg.dat");
    EXPECT_TRUE(std::equal(idx.begin(), idx.end(), ecg.begin()));  // sector 0 untouched
    cardgen::StartInfo rebuilt;
    rebuilt.rec = 5;
    rebuilt.format = 2;  // the first data sector's type
    std::uint8_t zero_time[6] = {0, 0, 0, 1, 1, 0};
    std::memcpy(rebuilt.time, zero_time, 6);
    rebuilt.serial.clear();
    rebuilt.length_hours = 255;
    cardgen::Sector expect = cardgen::start_sector(rebuilt, false);
    tv::store_le16(&expect[16], 0);
    cardgen::scramble(expect.data(), false);
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), ecg.begin() + 512));
    EXPECT_TRUE(disk.recover_start_sector());
}

TEST_F(DiskTest, ValidationCodes) {
    const fs::path card = t / "cards" / "H";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, small_card(5));
    map_card('H', card, "QUX_CFR", 4194304);
    tv::vond::CardDisk disk;
    disk.set_root(card.string());
    disk.set_mode(10);
    EXPECT_EQ(disk.validate(true, true, false), 114);
    disk.set_mode(2);
    EXPECT_EQ(disk.validate(true, true, false), 103);  // a 1,024-byte cnav.dat outside the read modes
    disk.set_mode(10);
    cardgen::write_bytes(card / "extra.txt", "x", 1);
    EXPECT_EQ(disk.validate(false, true, false), 103);
    fs::remove(card / "extra.txt");
    fs::create_directories(card / "sub");
    EXPECT_EQ(disk.validate(true, true, false), 113);  // declined
    ui.answers = {tv::MsgResult::Yes};
    EXPECT_EQ(disk.validate(true, true, false), 103);  // everything deleted: no card files left
    EXPECT_TRUE(fs::exists(card));
    EXPECT_TRUE(fs::is_empty(card));
}

TEST_F(DiskTest, CopyOfTheCardNeverIntoTheCardItself) {
    const fs::path card = t / "C";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, small_card(5));
    tv::vond::CardDisk disk;
    disk.set_root(card.string());
    EXPECT_FALSE(disk.copy_all_files(card.string()));
    EXPECT_FALSE(disk.copy_all_files("/"));
    EXPECT_TRUE(fs::exists(card / "config.dat"));
    EXPECT_TRUE(disk.copy_all_files(out.string()));
    EXPECT_EQ(cardgen::read_bytes(out / "ecg.dat").size(), 2u * 512);  // the end sector is not copied
    EXPECT_EQ(tv::load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), 6u);
    EXPECT_EQ(tv::load_le16(cardgen::read_bytes(out / "config.dat").data() + 1), 6u);
}

}  // namespace

namespace {

class WriteCardTest : public vondtest::VondTest {};

TEST_F(WriteCardTest, WriteCnavInitialisesTheOnlyCardWithThePatientSummary) {
    const fs::path card = t / "cards" / "E";
    cardgen::write_card(card, cardgen::config_dat(6, 5, 5, "OLD", "1"), 8192, small_card(5));
    map_card('E', card, "QUX_CFR", 2097152);
    // No patient summary: nothing is written.
    EXPECT_EQ(run({"/write=cnav", "/dir=" + out.string()}).code, 106);
    const std::string summary = "NEW^NAME\r\nID9\r\n";
    cardgen::write_bytes(out / "PATSUMM.DAT", summary.data(), summary.size());
    // A card with free space left is not a conditioned card: it is conditioned when the user agrees.
    vondtest::RunResult r = run({"/write=cnav", "/dir=" + out.string()}, {"VOND_UI_ANSWERS=yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto config = cardgen::read_bytes(card / "config.dat");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&config[96])), "NEW^NAME");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&config[256])), "ID9");
    EXPECT_EQ(cardgen::read_bytes(card / "ecg.dat").size(), 2097152u - 74240u);
    // Now the card is conditioned: a second initialisation counts the recording up instead.
    r = run({"/write=cnav", "/dir=" + out.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto again = cardgen::read_bytes(card / "config.dat");
    EXPECT_EQ(tv::load_le16(&again[1]), 4u);
    EXPECT_EQ(tv::load_le16(&again[10]), 4u);
}

}  // namespace
