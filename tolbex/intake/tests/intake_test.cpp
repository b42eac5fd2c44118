// The recording intake against the built card program, on card folders made by its own test card
// builder and named in the drive map, as a card reader would present them.
#include <functional>
#include <map>
#include <optional>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "common/bytes.h"
#include "common/files.h"
#include "common/profile.h"
#include "common/registry.h"
#include "common/safe_open.h"
#include "common/scramble.h"
#include "common/text.h"
#include "formats/cef.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "testing/app_test_root.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/tolbex_settings.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/intake/intake.h"
#include "tolbex/intake/patient_details.h"
#include "tolbex/mail/mail.h"
#include "tolbex/mail/mail_transport.h"
#include "tools/cardgen/card_builder.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using cardgen::Sector;

int ramp(int k, int i, int c) { return (k * 128 + i + c * 7) % 1024; }

// A three-channel card of `sectors` data sectors recorded 15/03/2007 10:20:30.
std::vector<Sector> three_channel_card(int sectors) {
    std::vector<Sector> s{cardgen::start_sector(cardgen::StartInfo{})};
    for (int k = 0; k < sectors; ++k) {
        cardgen::DataSector d;
        for (auto [c, i] : cardgen::value_order(false)) d.values.push_back(ramp(k, i, c));
        s.push_back(cardgen::data_sector(d));
    }
    s.push_back(Sector{});
    return s;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class IntakeTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        register_tolbex_strings();
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", VOND_PROGRAM));
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", TV_SZIP_PROGRAM));
        archive = t / "GROUP" / "STANDARD";
        fs::create_directories(archive);
        std::ofstream(archive / "ARCHINFO.DAT").flush();
        IntakeWindowing w;
        w.patient_details = [this](PatientDetails& d) {
            shown_details.push_back(d);
            d.description = "Holter 15 March";
            d.recording_id = "";
            d.compress = compress;
            d.level = 4;
            return answer_ok;
        };
        w.choose_archive = [this](const std::string& caption) {
            captions.push_back(caption);
            return archive.string();
        };
        w.save_as = [this](const std::string& name, const std::string&) { return (t / ("saved-" + name)).string(); };
        set_intake_windowing(std::move(w));
        set_cef_archive_store(store_intake_cef);
    }
    void TearDown() override {
        set_cef_archive_store({});
        set_intake_windowing({});
        unmap_drive('K');
        RootTest::TearDown();
    }
    void make_card(unsigned pdn = 5, int sectors = 10) {
        card = t / "CARD";
        cardgen::write_card(card, cardgen::config_dat(5, pdn, 5, "DOE^JOHN", "12345"), 1024,
                            three_channel_card(sectors));
        platform::MappedDrive d;
        d.letter = 'K';
        d.folder = card.string();
        d.label = "QUX_CFR";
        ASSERT_TRUE(platform::map_drive(d));
    }
    static void unmap_drive(char letter) { platform::unmap_drive(letter); }
    std::vector<std::string> stored_folders() {
        ReportArchive a(archive.string(), "STANDARD");
        std::vector<std::string> out;
        for (std::int32_t i = 0; i < a.get_count(); ++i) out.push_back(a.get_record(i)->get_name());
        return out;
    }
    // Nothing of an intake is left in the temporary folder.
    void expect_temp_folder_clean() {
        for (const auto& e : fs::directory_iterator(root.tmp())) ADD_FAILURE() << "left behind: " << e.path();
    }

    fs::path card, archive;
    bool compress = true, answer_ok = true;
    std::vector<PatientDetails> shown_details;
    std::vector<std::string> captions;
    MailServices mail;
};

TEST_F(IntakeTest, CardToArchiveAsCompressedRecordingReadableByTheArchiveCode) {
    make_card();
    const fs::path twin = t / "TWIN";
    fs::copy(card, twin, fs::copy_options::recursive);
    card_intake(0, mail);
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
    // The dialog was filled from the card.
    ASSERT_EQ(shown_details.size(), 1u);
    EXPECT_EQ(shown_details[0].patient_name, "DOE^JOHN");
    EXPECT_EQ(shown_details[0].description, "Doe, John");
    EXPECT_EQ(shown_details[0].patient_id, "12345");
    EXPECT_EQ(shown_details[0].recording_date, get_locale_date_order() == 0 ? "03/15/2007" : "15/03/2007");
    EXPECT_FALSE(shown_details[0].sound_file.empty());
    EXPECT_EQ(captions, std::vector<std::string>{"Storing Compressed ECG"});
    const auto names = stored_folders();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(get_extension_upper(names[0]), "CEF");
    ReportArchive a(archive.string(), "STANDARD");
    EXPECT_EQ(a.get_record(0)->get_description(), "Holter 15 March");
    EXPECT_EQ(a.get_record(0)->get_type(), kReportCef);
    const fs::path report = archive / names[0];
    PatientTxt p;
    ASSERT_TRUE(p.read_folder(report.string()));
    EXPECT_EQ(p.m_name, "DOE^JOHN");
    // Each channel is what the card program reads from the same card, bit-reduced by 4 and restored.
    const fs::path direct = t / "DIRECT";
    fs::create_directories(direct);
    ASSERT_EQ(run_card_program(VOND_PROGRAM,
                               {"/dir=" + direct.string(), "/ipdir=" + twin.string(), "/readecg=hide",
                                "/opformat=archive"},
                               false),
              0);
    for (int c = 1; c <= 3; ++c) {
        const auto stored = cardgen::read_bytes(report / ("RAWECG" + std::to_string(c) + ".DAT"));
        const auto raw = cardgen::read_bytes(direct / ("rawecg" + std::to_string(c) + ".dat"));
        ASSERT_EQ(stored.size(), raw.size()) << c;
        ASSERT_EQ(raw.size(), 307200u);  // 20 minutes at least
        for (std::size_t n = 0; n < raw.size() / 2; ++n)
            ASSERT_EQ(load_le16(&stored[2 * n]),
                      static_cast<std::uint16_t>(cef_reduce_sample(load_le16(&raw[2 * n]), 4) << 4))
                << "channel " << c << " sample " << n;
    }
    expect_temp_folder_clean();
}

TEST_F(IntakeTest, CardToFolderAndToMail) {
    make_card();
    card_intake(1, mail);
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
    const fs::path saved = t / "saved-Holter 15 March.CEF";
    ASSERT_TRUE(fs::exists(saved));
    CefHeader h;
    ASSERT_TRUE(read_cef_header(saved.string(), h));
    EXPECT_EQ(h.kind, kCefKindCard);
    EXPECT_EQ(h.channel_count, 3);
    // 10:19:00 in PATSUMM.DAT: the card program puts its calibration before 10:20:30.
    EXPECT_EQ(h.start_sample, 619 * 7680);
    EXPECT_EQ(get_cef_description(h), "Holter 15 March");

    // The card was marked as read: a second card for the mail.
    fs::remove_all(card);
    make_card();
    const fs::path capture = t / "capture.sh", eml = t / "msg.eml";
    {
        std::ofstream s(capture);
        s << "#!/bin/sh\ncat > '" << eml.string() << "'\n";
    }
    fs::permissions(capture, fs::perms::owner_all);
    ASSERT_TRUE(write_profile_string(kEmailSection, kMailSendCommandEntry, capture.string() + " -t -i"));
    ASSERT_TRUE(write_profile_string(kEmailSection, "Default Address", "ward7@clinic.example"));
    MailWindowing mw;
    mw.compose = [](MailMessage&) { return true; };
    set_mail_windowing(std::move(mw));
    card_intake(2, mail);
    set_mail_windowing({});
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
    const std::string message = slurp(eml);
    EXPECT_NE(message.find("Holter 15 March.CEF"), std::string::npos);
    expect_temp_folder_clean();
}

struct CardFailure {
    const char* name;
    int answers_retry;  // Retry answers before Cancel
    std::string text_start;
    std::size_t messages;
};

TEST_F(IntakeTest, CardProgramFailuresGiveTheirMessageAndStoreNothing) {
    const CardFailure cases[] = {
        {"no card", 1, "No Ostrabel CF card could be found.", 2},
        {"no ecg", 0, "There is no ECG recorded on the Brisco Torvane Ostrabel CF card.", 1},
        {"damaged", 0, "A Ostrabel CF card was found, but the files on it appear to be damaged.", 1},
        // This process holds the card: vond names it, and the message says who.
        {"held", 0, "Another program (", 1},
    };
    for (const CardFailure& c : cases) {
        SCOPED_TRACE(c.name);
        scripted.shown.clear();
        fs::remove_all(t / "CARD");
        unmap_drive('K');
        if (std::string(c.name) == "no ecg") make_card(6);
        if (std::string(c.name) == "damaged") {
            make_card();
            fs::resize_file(card / "config.dat", 100);
        }
        platform::UniqueFd held;
        if (std::string(c.name) == "held") {
            make_card();
            held = open_folder_no_link(card.string());
            ASSERT_EQ(platform::lock_folder_within(held.get(), 0), platform::LockFailure::None);
        }
        for (int i = 0; i < c.answers_retry; ++i) scripted.answers.push_back(MsgResult::Retry);
        card_intake(0, mail);
        ASSERT_EQ(scripted.shown.size(), c.messages);
        EXPECT_EQ(scripted.shown[0].text.rfind(c.text_start, 0), 0u) << scripted.shown[0].text;
        if (held) {
            EXPECT_NE(scripted.shown[0].text.find(", process " + std::to_string(::getpid()) +
                                                  ") is using the Ostrabel"),
                      std::string::npos)
                << scripted.shown[0].text;
        }
        EXPECT_TRUE(shown_details.empty());
        EXPECT_TRUE(stored_folders().empty());
        expect_temp_folder_clean();
    }
}

// Without the card program the message names the folders it is looked for in, as they are here.
TEST_F(IntakeTest, MissingCardProgramNamesTheFoldersItIsLookedIn) {
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", (t / "none").string()));
    scripted.shown.clear();
    EXPECT_EQ(find_card_program(), "");
    ASSERT_EQ(scripted.shown.size(), 1u);
    const std::string& text = scripted.shown[0].text;
    EXPECT_NE(text.find("\"" + get_module_folder() + "\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"" + get_analyser_system_root() + "/SYSTEM\""), std::string::npos) << text;
    EXPECT_EQ(text.find(".EXE"), std::string::npos) << text;
    EXPECT_EQ(text.find('\\'), std::string::npos) << text;
}

// Through the dialog with "Compress Recording" clear, and straight into an archive without it.
TEST_F(IntakeTest, UncompressedCardGoesToTheArchiveAsCardRecording) {
    make_card();
    compress = false;
    struct Run {
        std::function<void()> intake;
        std::size_t dialogs;
        const char* description;
    };
    const Run runs[] = {{[&] { card_intake(0, mail); }, 1, "Holter 15 March"},
                        {[] { store_card_recording(); }, 1, "Doe, John"}};  // the name as a person reads it
    for (std::size_t n = 0; n < std::size(runs); ++n) {
        SCOPED_TRACE(n);
        runs[n].intake();
        ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
        EXPECT_EQ(shown_details.size(), runs[n].dialogs);
        const auto names = stored_folders();
        ASSERT_EQ(names.size(), n + 1);
        EXPECT_EQ(get_extension_upper(names[n]), "CFR");
        const fs::path report = archive / names[n];
        EXPECT_TRUE(platform::find_name_ci(report.string(), "RAWECG1.DAT"));
        EXPECT_TRUE(platform::find_name_ci(report.string(), "PATSUMM.DAT"));
        EXPECT_EQ(slurp(report / "VERSION.TXT"), "V8.006\r\n");
        PatientTxt p;
        ASSERT_TRUE(p.read_folder(report.string()));
        EXPECT_EQ(p.m_name, "DOE^JOHN");
        EXPECT_EQ(
            ReportArchive(archive.string(), "STANDARD").get_record(static_cast<std::int32_t>(n))->get_description(),
            runs[n].description);
    }
    EXPECT_EQ(captions, (std::vector<std::string>{"Store Ostrabel Recording", "Store Ostrabel Recording"}));
}

// A twelve-lead card: start sector format 64, two sectors of 30 frames of 8 leads.
std::vector<Sector> twelve_lead_card() {
    cardgen::StartInfo st;
    st.format = 64;
    st.type = 130;
    std::vector<Sector> ecg{cardgen::start_sector(st)};
    for (int k = 0; k < 2; ++k) {
        Sector s{};
        s[0] = 64;
        store_le16(&s[1], 5);
        s[7] = 1;
        s[8] = 16;
        for (int f = 0; f < 30; ++f)
            for (int l = 0; l < 8; ++l)
                store_le16(&s[static_cast<std::size_t>(32 + f * 16 + l * 2)], static_cast<unsigned>(100 * l + f + k));
        cardgen::scramble(s.data(), true);
        ecg.push_back(s);
    }
    ecg.push_back(Sector{});
    return ecg;
}

TEST_F(IntakeTest, TwelveLeadCardToArchive) {
    card = t / "CARD";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "SMITH^ANN", "77"), 1024, twelve_lead_card());
    platform::MappedDrive d;
    d.letter = 'K';
    d.folder = card.string();
    d.label = "QUX_CFR";
    ASSERT_TRUE(platform::map_drive(d));
    card_intake(0, mail);
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
    const auto names = stored_folders();
    ASSERT_EQ(names.size(), 1u);
    const fs::path report = archive / names[0];
    for (int lead = 1; lead <= 8; ++lead)
        EXPECT_TRUE(platform::find_name_ci(report.string(), "os12ecg" + std::to_string(lead) + ".dat")) << lead;
    const auto lead2 = cardgen::read_bytes(*platform::find_name_ci(report.string(), "os12ecg2.dat"));
    ASSERT_GT(lead2.size(), 59u + 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&lead2[25])), "Lead II");  // the lead's own header kept
    PatientTxt p;
    ASSERT_TRUE(p.read_folder(report.string()));
    EXPECT_EQ(p.m_name, "SMITH^ANN");
    expect_temp_folder_clean();
}

// The card's sound file is swapped after " /wav" found it (a link to another file, a FIFO, a
// sparse file far larger than any card's): the copy is refused at once, the operator is told,
// and the recording is stored without it. The card has its own file back for the ECG read.
TEST_F(IntakeTest, ASwappedSoundFileOnTheCardIsNotCopied) {
    const fs::path secret = t / "secret.wav", keep = t / "wav.keep", script = t / "swapvond";
    std::ofstream(secret) << std::string(65536, 's');
    const struct {
        const char* what;
        std::string swap;
    } cases[] = {
        {"link", "ln -s '" + secret.string() + "' \"$w\""},
        {"fifo", "mkfifo \"$w\""},
        {"large", "truncate -s 1536M \"$w\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scripted.shown.clear();
        shown_details.clear();
        fs::remove_all(t / "CARD");
        make_card();
        std::ofstream(script) << "#!/bin/sh\nw='" << (card / "patient.wav").string() << "'\n[ -e '" << keep.string()
                              << "' ] && { rm -f \"$w\"; mv '" << keep.string() << "' \"$w\"; }\n'" << VOND_PROGRAM
                              << "' \"$@\"\nc=$?\ncase \"$*\" in */wav*) mv \"$w\" '" << keep.string() << "'; "
                              << c.swap << ";; esac\nexit $c\n";
        fs::permissions(script, fs::perms::owner_all);
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", script.string()));
        const std::size_t stored = stored_folders().size();
        card_intake(0, mail);
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text.rfind("The files for the Ostrabel recording could not be copied.", 0), 0u)
            << scripted.shown[0].text;
        ASSERT_EQ(shown_details.size(), 1u);
        EXPECT_TRUE(shown_details[0].sound_file.empty());
        EXPECT_EQ(stored_folders().size(), stored + 1);
        expect_temp_folder_clean();
    }
}

// A stand-in card program that logs its arguments and answers from a list of exit codes.
class FakeCardTest : public IntakeTest {
protected:
    void use_fake(const std::string& codes) {
        const fs::path script = t / "fakevond";
        std::ofstream(script) << "#!/bin/sh\necho \"$*\" >> '" << (t / "argv.txt").string() << "'\nn=$(wc -l < '"
                              << (t / "argv.txt").string() << "')\nset -- " << codes
                              << "\nshift $((n - 1))\nexit ${1:-0}\n";
        fs::permissions(script, fs::perms::owner_all);
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", script.string()));
    }
    std::vector<std::string> argv_lines() {
        std::ifstream in(t / "argv.txt");
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            // Probes go to the temporary folder, the read to the account's intake folder.
            for (const std::string& base : {root.tmp(), platform::user_dir() + "/intake"}) {
                const auto at = line.find(base);
                if (at != std::string::npos) line.replace(at, line.find(' ', at) - at, "F");
            }
            out.push_back(line);
        }
        return out;
    }
};

TEST_F(FakeCardTest, ExitZeroWithoutPatientDetailsIsNoRecording) {
    // What an earlier intake left in the shared temporary folder cannot stand in for it.
    std::ofstream(root.tmp() + "/PATSUMM.DAT") << "OLD\r\nX\r\n01/02/2003 10:20:31\r\nR\r\n";
    use_fake("0 0 0");
    IntakeFolder folder;
    bool twelve = true;
    EXPECT_FALSE(read_card_recording(folder.path(), false, twelve));
    EXPECT_FALSE(twelve);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text.rfind("The Ostrabel CF's Patient Details File", 0), 0u);
}

TEST_F(FakeCardTest, NoDisplayForTheCardProgramIsToldAndNeverTakenForNoCard) {
    use_fake("126");
    scripted.answers.push_back(MsgResult::Retry);  // offered only for "no card"
    IntakeFolder folder;
    CardSummary summary;
    EXPECT_FALSE(read_card_patient(folder.path(), summary, nullptr));
    EXPECT_EQ(argv_lines().size(), 1u);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_NE(scripted.shown[0].text.find("needs a display"), std::string::npos) << scripted.shown[0].text;
}

// 107: another run holds the card. The operator is told so, never that the card is damaged.
TEST_F(FakeCardTest, ACardAnotherRunHoldsIsSaidToBeInUse) {
    use_fake("107");
    CardSummary summary;
    EXPECT_FALSE(read_card_patient(t.string(), summary, nullptr));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text.rfind("Another program is using the Ostrabel CF card.", 0), 0u)
        << scripted.shown[0].text;
    EXPECT_EQ(scripted.shown[0].text.find("damaged"), std::string::npos);
}

TEST_F(FakeCardTest, CommandLinesOfTheCardReadAndRetry) {
    const struct {
        const char* codes;
        bool skip;
        std::vector<std::string> lines;
    } cases[] = {
        // The patient files before the ECG read, which may change the card.
        {"111 0 0",
         false,
         {"/dir=F /readpat=path", "/dir=F /readpat=cnav", "/dir=F /duration=200 /readecg=hide /opformat=archive"}},
        {"123 0 0",
         true,
         {"/dir=F /readpat=path", "/dir=F /readpat=cnav",
          "/dir=F /duration=200 /readecg=hide /opformat=os12arch /skip24"}},
        // No card: Retry looks at the card in the drive again before the read.
        {"0 0 102 0 0 0",
         false,
         {"/dir=F /readpat=path", "/dir=F /readpat=cnav", "/dir=F /duration=200 /readecg=hide /opformat=archive",
          "/dir=F /readpat=path", "/dir=F /readpat=cnav", "/dir=F /duration=200 /readecg=hide /opformat=archive"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codes);
        fs::remove(t / "argv.txt");
        use_fake(c.codes);
        scripted.answers.push_back(MsgResult::Retry);
        IntakeFolder folder;
        bool twelve = false;
        read_card_recording(folder.path(), c.skip, twelve);
        const auto lines = argv_lines();
        ASSERT_EQ(lines.size(), c.lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].rfind("/dir=F", 0), 0u) << lines[i];
            EXPECT_EQ(lines[i].substr(lines[i].find(' ')), c.lines[i].substr(c.lines[i].find(' ')));
        }
        scripted.answers.clear();
        scripted.shown.clear();
    }
}

// The card program behind a script that changes the card in the drive before its n-th run (an
// empty reader, another card) or runs it under a tracer that kills it at a call on the card.
class CardChangeTest : public IntakeTest {
protected:
    // `steps[n]` is the shell line run before the n-th run (1-based); `kill` (an strace inject
    // argument) applies to the ECG read.
    void wrap(const std::map<int, std::string>& steps, const std::string& kill = {}) {
        const fs::path script = t / "wrapvond", count = t / "runs.txt";
        std::ofstream f(script);
        f << "#!/bin/sh\necho x >> '" << count.string() << "'\nn=$(wc -l < '" << count.string() << "')\n";
        for (const auto& [n, line] : steps) f << "[ $n -eq " << n << " ] && { " << line << "; }\n";
        if (!kill.empty())
            f << "case \"$*\" in *readecg*) ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" exec /usr/bin/strace -f -qq "
                 "-o /dev/null -P '"
              << card.string() << "' -P '" << (card / "ecg.dat").string() << "' -e '" << kill << "' '" << VOND_PROGRAM
              << "' \"$@\";; esac\n";
        f << "exec '" << VOND_PROGRAM << "' \"$@\"\n";
        f.close();
        fs::permissions(script, fs::perms::owner_all);
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", script.string()));
    }
    // Card B: another recorder's recording, in a folder of its own.
    fs::path other_card() {
        const fs::path b = t / "B";
        cardgen::StartInfo st;
        st.serial = "SN999999";
        std::vector<Sector> ecg = three_channel_card(10);
        ecg[0] = cardgen::start_sector(st);
        cardgen::write_card(b, cardgen::config_dat(5, 5, 5, "ROE^JANE", "777"), 1024, ecg);
        return b;
    }
    std::string put_in(const fs::path& from) {
        return "rm -f '" + card.string() + "'/*; cp '" + from.string() + "'/* '" + card.string() + "'/";
    }
};

// The reader is empty when the card is looked at before its ECG read, and card B is in it at the
// Retry or only at the read: B is either left unmarked or the operator is told that it was marked.
TEST_F(CardChangeTest, AnotherCardAfterAnEmptyReaderIsNotMarkedOrSaysSo) {
    const struct {
        const char* what;
        std::map<int, std::string> steps;  // runs 1-3 read the details, 4 looks, 5 the patient files, 6 reads
        const char* text;
        unsigned b_rec;
    } cases[] = {
        {"B at the retry", {{4, "rm -f CARD_FILES"}, {5, "PUT_B"}}, "the card has not been marked as read", 5},
        {"B at the read", {{6, "PUT_B"}}, "That card has been marked as read. The recording read from it is kept.", 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scripted.shown.clear();
        fs::remove_all(t / "runs.txt");
        make_card();
        const fs::path b = other_card();
        std::map<int, std::string> steps;
        for (const auto& [n, line] : c.steps)
            steps[n] = line == "PUT_B" ? put_in(b) : "rm -f '" + card.string() + "'/*";
        wrap(steps);
        scripted.answers.push_back(MsgResult::Retry);
        card_intake(0, mail);
        ASSERT_FALSE(scripted.shown.empty());
        const std::string& last = scripted.shown.back().text;
        EXPECT_NE(last.find(c.text), std::string::npos) << last;
        EXPECT_EQ(last.find("read from it again"), std::string::npos) << last;  // B no longer offers it
        EXPECT_EQ(load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), c.b_rec);
        EXPECT_TRUE(stored_folders().empty());
        expect_temp_folder_clean();
        fs::remove_all(b);
    }
}

// A card at recording 65,000 is emptied for its next recording after the read: the card program
// killed at a step of that (the second file put in place, the sizing of ecg.dat) keeps the
// recording stored, the operator is told, and the next run on the card finishes it.
TEST_F(CardChangeTest, AReadWhoseCardProgramIsKilledAfterwardsIsStored) {
    compress = false;
    for (const char* kill : {"inject=renameat,renameat2:signal=KILL:when=2", "inject=ftruncate:signal=KILL:when=1"}) {
        SCOPED_TRACE(kill);
        scripted.shown.clear();
        fs::remove_all(t / "runs.txt");
        card = t / "CARD";
        fs::remove_all(card);
        cardgen::StartInfo late;
        late.rec = 65000;
        std::vector<Sector> ecg = three_channel_card(10);
        ecg[0] = cardgen::start_sector(late);
        for (std::size_t k = 1; k + 1 < ecg.size(); ++k) {
            cardgen::DataSector d;
            d.rec = 65000;
            for (auto [ch, i] : cardgen::value_order(false)) d.values.push_back(ramp(static_cast<int>(k), i, ch));
            ecg[k] = cardgen::data_sector(d);
        }
        cardgen::write_card(card, cardgen::config_dat(65000, 65000, 65000, "DOE^JOHN", "12345"), 1024, ecg);
        platform::MappedDrive drive;
        drive.letter = 'K';
        drive.folder = card.string();
        drive.label = "QUX_CFR";
        ASSERT_TRUE(platform::map_drive(drive));
        const std::size_t stored = stored_folders().size();
        wrap({}, kill);
        store_card_recording();
        ASSERT_EQ(stored_folders().size(), stored + 1);
        const fs::path report = archive / stored_folders().back();
        EXPECT_EQ(fs::file_size(*platform::find_name_ci(report.string(), "RAWECG1.DAT")), 307200u);
        EXPECT_FALSE(platform::find_name_ci(report.string(), "ECGREAD.DAT"));
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_NE(scripted.shown[0].text.find("is kept"), std::string::npos) << scripted.shown[0].text;
        EXPECT_NE(scripted.shown[0].text.find("prepared again"), std::string::npos) << scripted.shown[0].text;
        // The next run finishes the card: recording 3, a fresh start sector.
        run_card_program(VOND_PROGRAM, {"/readpat=status"}, false);
        EXPECT_EQ(load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), 3u);
        EXPECT_EQ(cardgen::read_bytes(card / "ecg.dat").at(1), 1);
        expect_temp_folder_clean();
    }
}

// A card at recording 65,000 is emptied for its next recording right after its ECG is read: the read
// is then the recording's only copy. Whatever stops the intake after the read (a store that fails,
// Save As cancelled, the program killed) keeps it, the next start offers it, and storing it from
// there gives the report an undisturbed intake gives.
class KeptReadTest : public CardChangeTest {
protected:
    void late_card(const fs::path& where) {
        fs::remove_all(where);
        cardgen::StartInfo late;
        late.rec = 65000;
        std::vector<Sector> ecg = three_channel_card(10);
        ecg[0] = cardgen::start_sector(late);
        for (std::size_t k = 1; k + 1 < ecg.size(); ++k) {
            cardgen::DataSector d;
            d.rec = 65000;
            for (auto [ch, i] : cardgen::value_order(false)) d.values.push_back(ramp(static_cast<int>(k), i, ch));
            ecg[k] = cardgen::data_sector(d);
        }
        cardgen::write_card(where, cardgen::config_dat(65000, 65000, 65000, "DOE^JOHN", "12345"), 1024, ecg);
    }
    void insert(const fs::path& where) {
        card = where;
        platform::MappedDrive drive;
        drive.letter = 'K';
        drive.folder = where.string();
        drive.label = "QUX_CFR";
        ASSERT_TRUE(platform::map_drive(drive));
    }
    // The windows' hooks with the destinations of `chosen` and the answer to a kept read.
    void destinations(const fs::path& chosen, bool save = true, KeptReadChoice choice = KeptReadChoice::Store) {
        IntakeWindowing w = intake_windowing();
        w.choose_archive = [chosen](const std::string&) { return chosen.string(); };
        w.save_as = [this, save](const std::string& name, const std::string&) {
            return save ? (t / ("saved-" + name)).string() : std::string();
        };
        w.kept_read_choice = [this, choice](const KeptRead& k) {
            offered.push_back(k);
            return choice;
        };
        set_intake_windowing(std::move(w));
    }
    // The files of a stored report; PATIENT.TXT without its path and time lines.
    static std::map<std::string, std::string> report_files(const fs::path& report) {
        std::map<std::string, std::string> m;
        for (const auto& e : fs::directory_iterator(report)) {
            std::string bytes = slurp(e.path());
            // Its first lines are the report's own path and the time it was written.
            if (to_upper_copy(e.path().filename().string()) == "PATIENT.TXT")
                bytes.erase(0, bytes.find('\n', bytes.find('\n') + 1));
            m[to_upper_copy(e.path().filename().string())] = bytes;
        }
        return m;
    }
    // The report an undisturbed intake of the same card stores, in an archive of its own.
    std::map<std::string, std::string> undisturbed(int mode) {
        const fs::path other = t / "UNDISTURBED" / "STANDARD";
        fs::remove_all(other.parent_path());
        fs::create_directories(other);
        std::ofstream(other / "ARCHINFO.DAT").flush();
        late_card(t / "TWIN");
        insert(t / "TWIN");
        destinations(other);
        scripted.shown.clear();
        card_intake(mode, mail);
        EXPECT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
        ReportArchive a(other.string(), "STANDARD");
        EXPECT_EQ(a.get_count(), 1);
        return a.get_count() == 1 ? report_files(other / a.get_record(0)->get_name())
                                  : std::map<std::string, std::string>{};
    }
    static std::size_t kept_folders() {
        std::size_t n = 0;
        std::error_code ec;
        for (auto it = fs::directory_iterator(platform::user_dir() + "/intake", ec);
             !ec && it != fs::directory_iterator(); it.increment(ec))
            ++n;
        return n;
    }
    // The one kept read is offered, holds the recording, and goes into the archive as `expected`.
    void store_the_kept_read(const std::map<std::string, std::string>& expected, const std::string& rawecg1) {
        const auto kept = kept_reads();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0].details.patient_name, "DOE^JOHN");
        if (!rawecg1.empty()) {
            EXPECT_EQ(slurp(platform::find_name_ci(kept[0].folder + "/files", "RAWECG1.DAT").value_or("")), rawecg1);
        }
        destinations(archive);
        offered.clear();
        scripted.shown.clear();
        review_kept_reads(mail);
        ASSERT_EQ(offered.size(), 1u);
        EXPECT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
        const auto names = stored_folders();
        ASSERT_EQ(names.size(), 1u);
        const auto stored = report_files(archive / names[0]);
        ASSERT_EQ(stored.size(), expected.size());
        for (const auto& [name, bytes] : expected) EXPECT_TRUE(stored.count(name) && stored.at(name) == bytes) << name;
        EXPECT_TRUE(kept_reads().empty());
        EXPECT_EQ(kept_folders(), 0u);
    }

    std::vector<KeptRead> offered;
};

TEST_F(KeptReadTest, AFailureAfterACompleteReadKeepsItUntilItIsStored) {
    const struct {
        const char* what;
        bool compress;
        int mode;
        bool archive_fails, save;
    } cases[] = {
        {"uncompressed into an archive that cannot take it", false, 0, true, true},
        {"compressed into an archive that cannot take it", true, 0, true, true},
        {"Save As cancelled", true, 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        compress = c.compress;
        const auto expected = undisturbed(0);
        ASSERT_FALSE(expected.empty());
        // The same card again, its store failing.
        late_card(t / "CARD");
        insert(t / "CARD");
        destinations(c.archive_fails ? t / "GONE" / "STANDARD" : archive, c.save);
        scripted.shown.clear();
        card_intake(c.mode, mail);
        EXPECT_TRUE(stored_folders().empty());
        // The card was emptied; the operator is told so and where the recording is.
        EXPECT_EQ(load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), 3u);
        ASSERT_FALSE(scripted.shown.empty());
        // The failed store speaks of the recording, and an uncompressed one names the archive.
        if (c.archive_fails) {
            EXPECT_EQ(scripted.shown.front().text.find("mailed"), std::string::npos) << scripted.shown.front().text;
        }
        if (c.archive_fails && !c.compress) {
            EXPECT_NE(scripted.shown.front().text.find((t / "GONE" / "STANDARD").string()), std::string::npos)
                << scripted.shown.front().text;
        }
        const std::string& told = scripted.shown.back().text;
        EXPECT_NE(told.find("emptied for its next recording"), std::string::npos) << told;
        const auto kept = kept_reads();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_NE(told.find(kept[0].folder), std::string::npos) << told;
        EXPECT_TRUE(kept[0].details_confirmed);
        EXPECT_EQ(kept[0].details.description, "Holter 15 March");
        store_the_kept_read(expected, c.compress ? std::string() : expected.at("RAWECG1.DAT"));
        for (const auto& name : stored_folders()) fs::remove_all(archive / name);
        std::ofstream(archive / "ARCHINFO.DAT", std::ios::trunc).flush();
        expect_temp_folder_clean();
    }
}

TEST_F(KeptReadTest, TheProgramKilledAfterTheReadLeavesItForTheNextStart) {
    compress = false;
    const auto expected = undisturbed(0);
    ASSERT_FALSE(expected.empty());
    const std::string whole = expected.at("RAWECG1.DAT");
    late_card(t / "CARD");
    insert(t / "CARD");
    // The card program kills its caller as soon as the read is done.
    const fs::path script = t / "killvond";
    std::ofstream(script) << "#!/bin/sh\n'" << VOND_PROGRAM
                          << "' \"$@\"\nrc=$?\ncase \"$*\" in *readecg*) kill -KILL $PPID;; esac\nexit $rc\n";
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", script.string()));
    destinations(archive);
    std::fflush(nullptr);
    const pid_t intake = ::fork();
    ASSERT_GE(intake, 0);
    if (intake == 0) {
        card_intake(0, mail);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(intake, &status, 0), intake);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), 3u);
    EXPECT_TRUE(stored_folders().empty());
    // Its details were never confirmed; the offer still says when it was read.
    const auto kept = kept_reads();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_FALSE(kept[0].details_confirmed);
    EXPECT_FALSE(kept[0].read_time.empty());
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", VOND_PROGRAM));
    store_the_kept_read(expected, whole);
}

// An archive whose index cannot be locked (here its lock file is a link) refuses the store: the
// operator is told why, not of an unknown error, and the read is kept.
TEST_F(KeptReadTest, AnArchiveThatCannotBeLockedSaysWhyAndTheReadIsKept) {
    compress = false;
    const auto expected = undisturbed(0);
    ASSERT_FALSE(expected.empty());
    late_card(t / "CARD");
    insert(t / "CARD");
    const fs::path lock = archive / ".TVINDEX.LCK";
    fs::remove(lock);
    fs::create_symlink("/nonexistent", lock);
    destinations(archive);
    scripted.shown.clear();
    card_intake(0, mail);
    EXPECT_TRUE(stored_folders().empty());
    ASSERT_GE(scripted.shown.size(), 2u);
    const std::string& why = scripted.shown[scripted.shown.size() - 2].text;
    EXPECT_NE(why.find("is a link"), std::string::npos) << why;
    ASSERT_EQ(kept_reads().size(), 1u);
    EXPECT_NE(scripted.shown.back().text.find(kept_reads()[0].folder), std::string::npos) << scripted.shown.back().text;
    fs::remove(lock);
    store_the_kept_read(expected, expected.at("RAWECG1.DAT"));
}

TEST_F(KeptReadTest, ADiscardAsksAndAnIntakeEndedBeforeItsReadLeavesNothing) {
    compress = false;
    late_card(t / "CARD");
    insert(t / "CARD");
    destinations(t / "GONE" / "STANDARD");
    card_intake(0, mail);
    ASSERT_EQ(kept_reads().size(), 1u);
    // One that another intake takes up meanwhile stays, and the operator is told so.
    {
        std::optional<IntakeFolder> other;
        IntakeWindowing w = intake_windowing();
        w.kept_read_choice = [&other](const KeptRead& k) {
            other.emplace(k.folder);
            return KeptReadChoice::Discard;
        };
        set_intake_windowing(std::move(w));
        scripted.shown.clear();
        scripted.answers.push_back(MsgResult::Yes);
        review_kept_reads(mail);
        ASSERT_TRUE(other && *other);
        ASSERT_EQ(scripted.shown.size(), 2u);
        EXPECT_NE(scripted.shown[1].text.find("is in use by another intake"), std::string::npos);
    }
    ASSERT_EQ(kept_reads().size(), 1u);
    // "No" keeps it, "Yes" discards it; Enter alone keeps it, and the patient is named as a person
    // reads the name.
    for (const MsgResult answer : {MsgResult::No, MsgResult::Yes}) {
        destinations(archive, true, KeptReadChoice::Discard);
        scripted.shown.clear();
        scripted.answers.push_back(answer);
        review_kept_reads(mail);
        EXPECT_EQ(kept_reads().size(), answer == MsgResult::No ? 1u : 0u);
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].default_button, MsgResult::No);
        EXPECT_TRUE(scripted.shown[0].text.starts_with("Discard the recording of Doe, John kept in"))
            << scripted.shown[0].text;
    }
    EXPECT_EQ(kept_folders(), 0u);
    // A folder of an intake that never completed its read is no kept read, and goes.
    { IntakeFolder unfinished; }
    fs::create_directories(platform::user_dir() + "/intake/20260101-000000-abcdef/files");
    EXPECT_TRUE(kept_reads().empty());
    EXPECT_EQ(kept_folders(), 0u);
    // One an intake under way holds is neither offered nor removed; the kept-reads folder, opened to
    // the group, is closed again so that no one else can rename what it keeps.
    fs::permissions(platform::user_dir() + "/intake", fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::add);
    IntakeFolder busy;
    ASSERT_TRUE(busy);
    EXPECT_EQ(fs::status(platform::user_dir() + "/intake").permissions() &
                  (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
    std::ofstream(busy.record_path()) << "complete\r\nmarked\r\n";
    EXPECT_TRUE(kept_reads().empty());
    EXPECT_EQ(kept_folders(), 1u);
    // A link in its place leaves the folder it leads to open as it was.
    const std::string kept = platform::user_dir() + "/intake", shared = platform::user_dir() + "/shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all);
    fs::rename(kept, kept + ".aside");
    fs::create_directory_symlink(shared, kept);
    { IntakeFolder through_link; }
    EXPECT_EQ(fs::status(shared).permissions() & fs::perms::all, fs::perms::all);
    fs::remove_all(shared);
    fs::remove(kept);
    fs::rename(kept + ".aside", kept);
}

TEST(Recording, ChannelCountIsTheHighestChannelWithSamples) {
    platform::testing::TempRoot r;
    const struct {
        int sizes[3];  // -1: no file
        bool ok;
        int channels;
    } cases[] = {
        {{4, 4, 4}, true, 3}, {{4, 4, -1}, true, 2},  {{4, 4, 0}, true, 2},
        {{4, 0, 4}, true, 3}, {{4, -1, -1}, true, 1}, {{-1, 4, 4}, false, 0},
    };
    for (const auto& c : cases) {
        const fs::path f = r.path() + "/rec" + std::to_string(&c - cases);
        fs::create_directories(f);
        for (int i = 0; i < 3; ++i)
            if (c.sizes[i] >= 0)
                std::ofstream(f / ("rawecg" + std::to_string(i + 1) + ".dat")) << std::string(c.sizes[i], 'x');
        RecordingFiles files;
        EXPECT_EQ(examine_recording(f.string(), false, files), c.ok) << &c - cases;
        EXPECT_EQ(c.ok ? files.channels : c.channels, c.channels) << &c - cases;
    }
}

TEST_F(IntakeTest, MailSizeCheckShortensATwoChannelRecording) {
    ASSERT_TRUE(write_profile_int(kEmailSection, "Size Warning Threshold", 600));
    const fs::path rec = t / "REC2";
    fs::create_directories(rec);
    std::mt19937 rng(7);
    std::string noise;
    for (int n = 0; n < 600000; ++n) append_le16(noise, static_cast<std::uint16_t>(rng() & 0x0FFF));
    for (const char* name : {"RAWECG1.DAT", "RAWECG2.DAT"}) std::ofstream(rec / name, std::ios::binary) << noise;
    std::ofstream(rec / "PATSUMM.DAT") << "A\r\nB\r\n01/02/2003 10:20:31\r\nR\r\n";
    std::ofstream(rec / "OTHER.DAT") << "o";
    RecordingFiles files;
    ASSERT_TRUE(examine_recording(rec.string(), false, files));
    ASSERT_EQ(files.channels, 2);
    PatientDetails details;
    details.description = "Noise";
    const std::string cef = (t / "N.CEF").string();
    auto write = [&](bool pre) {
        return static_cast<bool>(write_card_cef(rec.string(), files, details, 0, 0, cef, pre));
    };
    ASSERT_TRUE(write(true));
    ASSERT_GT(get_file_size_64(cef), 600 * 1024);
    ASSERT_EQ(mail_size_threshold_kb(), 600);
    scripted.answers = {MsgResult::Yes, MsgResult::Ok};
    EXPECT_TRUE(check_mail_size(cef, rec.string(), files, [&](std::int64_t) { return write(false); }));
    EXPECT_LT(get_file_size_64(cef), 600 * 1024);
    EXPECT_LT(get_file_size_64((rec / "RAWECG1.DAT").string()), 1200000);
    EXPECT_EQ(get_file_size_64((rec / "RAWECG1.DAT").string()), get_file_size_64((rec / "RAWECG2.DAT").string()));
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[1].text.rfind(
                  "The ECG was reduced in length:\n\nFrom\t  1 hours, 18 minutes,  7 seconds\nTo\t", 0),
              0u)
        << scripted.shown[1].text;
}

TEST_F(IntakeTest, DiskFromTheDriveMapByLabelAndFile) {
    const fs::path e = t / "DISK_E", g = t / "DISK_G", f = t / "DISK_F";
    for (const fs::path& p : {e, f, g}) fs::create_directories(p);
    std::ofstream(e / "ROZAVEZ.EVT") << "events";
    std::ofstream(e / "DATA.BIN") << std::string(1000, 'd');
    std::ofstream(g / "rozavez.evt") << "events";
    auto map = [](char letter, const fs::path& p, const char* label) {
        platform::MappedDrive d;
        d.letter = letter;
        d.folder = p.string();
        d.label = label;
        ASSERT_TRUE(platform::map_drive(d));
    };
    map('F', f, "QUX_FCG2");  // the label, but no ROZAVEZ.EVT
    map('G', g, "qux_fcg");
    EXPECT_EQ(find_ostrabel_disk(), g.string());
    map('E', e, "QUX_FCG");
    EXPECT_EQ(find_ostrabel_disk(), e.string());  // the lower letter
    disk_intake(0, mail);
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
    ASSERT_EQ(shown_details.size(), 1u);
    EXPECT_FALSE(shown_details[0].group_enabled);  // a disk is not compressed: the box is disabled
    EXPECT_EQ(captions, std::vector<std::string>{"Store Ostrabel Recording"});
    const auto names = stored_folders();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(get_extension_upper(names[0]), "OSB");
    EXPECT_EQ(slurp(archive / names[0] / "DATA.BIN"), std::string(1000, 'd'));
    for (char l : {'E', 'F', 'G'}) platform::unmap_drive(l);
    shown_details.clear();
    disk_intake(0, mail);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "Ostrabel Not Found");
    EXPECT_TRUE(shown_details.empty());
}

TEST_F(IntakeTest, CustomerExportGoesToItsArchiveOnlyWhenTheRecordingIdMatches) {
    const struct {
        const char* name;
        std::string id, destination, message;
        std::size_t stored;
    } cases[] = {
        {"match", "ABCD1234566", "", "", 1},
        {"other id", "ABCD1234567", "",
         "The Merivale Recording ID is different from the Recording ID stored on the CF card.", 0},
        {"no archive", "ABCD1234566", "NOWHERE", "The destination folder is not a valid archive\n\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(archive);
        fs::create_directories(archive);
        std::ofstream(archive / "ARCHINFO.DAT").flush();
        scripted.shown.clear();
        captions.clear();
        card = t / "CARD";
        fs::remove_all(card);
        auto config = cardgen::config_dat(5, 5, 5, "DOE^JOHN", "12345");
        std::memcpy(&config[416], "ABCD1234566", 11);
        cardgen::write_card(card, config, 1024, three_channel_card(10));
        platform::MappedDrive d;
        d.letter = 'K';
        d.folder = card.string();
        d.label = "QUX_CFR";
        ASSERT_TRUE(platform::map_drive(d));
        CustomerExport customer;
        customer.texts[0] = c.id;
        customer.texts[5] = c.destination.empty() ? archive.string() : (t / c.destination).string();
        card_intake(0, mail, &customer);
        EXPECT_TRUE(captions.empty());  // no archive dialog
        EXPECT_EQ(stored_folders().size(), c.stored);
        if (c.message.empty()) {
            EXPECT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;
            ASSERT_EQ(shown_details.size(), 1u);
            EXPECT_EQ(shown_details[0].recording_id, "ABCD1234566");
        } else {
            ASSERT_EQ(scripted.shown.size(), 1u);
            EXPECT_EQ(scripted.shown[0].text.rfind(c.message, 0), 0u) << scripted.shown[0].text;
        }
        shown_details.clear();
    }
}

TEST(PatientText, ControlCharactersGoAndLengthIsBounded) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"Doe Jane", "Doe Jane"},
        {"  Doe\r\nJane\t ", "DoeJane"},
        {std::string("A\0B", 3), "AB"},
        {"../x\x1b[2J", "../x[2J"},
        {std::string(200, 'x'), std::string(80, 'x')},
    };
    for (const auto& c : cases) EXPECT_EQ(clean_patient_text(c.in), c.out) << c.in;
}

TEST(CardSummary, LineThreeGivesTheStartAndBadLinesAreRefused) {
    platform::testing::TempRoot r;
    const std::string path = r.path() + "/PATSUMM.DAT";
    const struct {
        std::string line3;
        bool ok;
        std::int32_t start;
    } cases[] = {
        {"01/02/2003 10:20:31", true, 621 * 7680}, {"01/02/2003 10:20:30", true, 620 * 7680},
        {"01/02/2003 00:00:10", true, 0},          {"01/02/2003 10:20", false, 0},
        {"01/02/2003 1x:20:31", false, 0},         {"", false, 0},
    };
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::trunc) << "Doe\x07 Jane\r\nP123\r\n" << c.line3 << "\r\nREC9\r\n1\r\n";
        CardSummary s;
        EXPECT_EQ(read_card_summary(path, s), c.ok) << c.line3;
        if (!c.ok) continue;
        EXPECT_EQ(s.start_sample, c.start) << c.line3;
        EXPECT_EQ(s.name, "Doe Jane");
        EXPECT_EQ(s.recorder_id, "REC9");
    }
}

TEST(MailSize, ShorteningRounds) {
    // 8,192 KB limit and a 12,000 KB file: the first round keeps 8,192 * 0.99 / 12,000 of it.
    const std::int64_t limit = 8192 * 1024, size = 12000 * 1024, full = 11059200;
    EXPECT_EQ(shortened_channel_bytes(limit, 0.99, size, full),
              static_cast<std::int64_t>(8192.0 * 0.99 / 12000.0 * full * 2) & ~std::int64_t{1});
    EXPECT_EQ(shortened_channel_bytes(limit, 0.99, size * 100, 1000), 262144);
    EXPECT_EQ(sample_duration_text(11059200), " 24 hours,  0 minutes,  0 seconds");
    EXPECT_EQ(sample_duration_text(128 * 61), "  0 hours,  1 minutes,  1 seconds");
}

}  // namespace
}  // namespace tv
