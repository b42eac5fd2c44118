#include "tolbex/app/options_settings.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "common/files.h"
#include "common/profile.h"
#include "platform/registry.h"
#include "testing/app_test_root.h"
#include "tolbex/app/sound.h"

namespace tv {
namespace {

using platform::RegValue;
using testing_root::stored_profile_value;
using testing_root::write_file;
namespace fs = std::filesystem;

class OptionsSettingsTest : public testing_root::RootTest {};

TEST_F(OptionsSettingsTest, PrintScalingShowsWholeMillimetresAndStoresThemTimesAThousand) {
    struct Case {
        int stored_um;
        int shown_mm;
    };
    for (const Case& c : {Case{12345, 12}, {0, 0}, {999, 0}, {200000, 200}, {1000, 1}}) {
        ProfileSettings p;
        p.margins = {c.stored_um, c.stored_um, c.stored_um, c.stored_um};
        const PrintScalingValues v = print_scaling_of(p);
        EXPECT_EQ((PrintScalingValues{false, c.shown_mm, c.shown_mm, c.shown_mm, c.shown_mm}), v) << c.stored_um;
        ASSERT_TRUE(store_print_scaling(v, p));
        EXPECT_EQ(c.shown_mm * 1000, p.margins.left);
        EXPECT_EQ(RegValue::from_dword(c.shown_mm * 1000), stored_profile_value("Settings", "Left Margin"));
    }
    ProfileSettings p;
    ASSERT_TRUE(store_print_scaling({true, 1, 2, 3, 4}, p));
    EXPECT_EQ(RegValue::from_dword(1), stored_profile_value("Settings", "ECG Scaling"));
    EXPECT_EQ(RegValue::from_dword(1000), stored_profile_value("Settings", "Left Margin"));
    EXPECT_EQ(RegValue::from_dword(2000), stored_profile_value("Settings", "Right Margin"));
    EXPECT_EQ(RegValue::from_dword(3000), stored_profile_value("Settings", "Bottom Margin"));
    EXPECT_EQ(RegValue::from_dword(4000), stored_profile_value("Settings", "Top Margin"));
    EXPECT_TRUE(p.ecg_scaling);
    EXPECT_EQ(4000, p.margins.top);
    // What the next start reads is what was stored.
    const ProfileSettings again = read_profile_settings();
    EXPECT_TRUE(again.ecg_scaling);
    EXPECT_EQ(3000, again.margins.bottom);
}

TEST_F(OptionsSettingsTest, MailSettingsDefaultsRangeAndStoredForm) {
    EXPECT_EQ((MailSettings{"", 8192}), read_mail_settings());
    struct Case {
        int stored_kb;
        int read_kb;
    };
    for (const Case& c : {Case{0, 0}, {65535, 65535}, {65536, 8192}, {-1, 8192}, {100, 100}}) {
        ASSERT_TRUE(write_profile_int("eMail", "Size Warning Threshold", c.stored_kb));
        EXPECT_EQ(c.read_kb, read_mail_settings().size_warning_kb) << c.stored_kb;
    }
    ASSERT_TRUE(write_mail_settings({"Dr \xC9mile", 0}));
    EXPECT_EQ(RegValue::string("Dr \xC9mile"), stored_profile_value("eMail", "Default Address"));
    EXPECT_EQ(RegValue::from_dword(0), stored_profile_value("eMail", "Size Warning Threshold"));
    EXPECT_EQ((MailSettings{"Dr \xC9mile", 0}), read_mail_settings());
}

TEST_F(OptionsSettingsTest, ExternalProgramSettingsAreWrittenAsTheStartReadsThem) {
    ASSERT_TRUE(write_external_program_settings({"/tmp/err.txt", "/opt/x/feed --quiet", true}));
    EXPECT_EQ(RegValue::string("/opt/x/feed --quiet"), stored_profile_value("External Program", "Program Name"));
    EXPECT_EQ(RegValue::string("/tmp/err.txt"), stored_profile_value("External Program", "Error File Name"));
    EXPECT_EQ(RegValue::from_dword(1), stored_profile_value("External Program", "Visible Window"));
    const ProfileSettings p = read_profile_settings();
    EXPECT_EQ("/opt/x/feed --quiet", p.external_program.program_name);
    EXPECT_EQ("/tmp/err.txt", p.external_program.error_file_name);
    EXPECT_TRUE(p.external_program.visible_window);
    ASSERT_TRUE(write_external_program_settings({"", "", false}));
    EXPECT_EQ(RegValue::from_dword(0), stored_profile_value("External Program", "Visible Window"));
}

TEST_F(OptionsSettingsTest, ExternalProgramCheckTakesTheProgramAsTheRunDoes) {
    const std::string prog = (t / "my feed").string();
    write_file(prog, "#!/bin/sh\n");
    ::chmod(prog.c_str(), 0755);
    write_file(t / "plain.txt", "x");
    struct Case {
        std::string name;
        bool asked;
    };
    const Case cases[] = {
        {"", false},
        {"\"" + prog + "\" --quiet \"x y\"", false},
        {"sh -c true", false},      // along PATH
        {prog, false},              // unquoted, a path with a blank: the run starts it whole
        {prog + " --quiet", true},  // the first word is then only a part of the path
        {(t / "plain.txt").string(), true},
        {"/no/such/program", true},
    };
    for (const Case& c : cases) {
        for (MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
            scripted.shown.clear();
            scripted.answers = {answer};
            const bool ok = external_program_ok(c.name, scripted);
            ASSERT_EQ(c.asked ? 1u : 0u, scripted.shown.size()) << c.name;
            EXPECT_EQ(!c.asked || answer == MsgResult::Yes, ok) << c.name;
            if (c.asked) {
                EXPECT_EQ("The external program\n\"" + c.name + "\"\ncannot be found.\n\nDo you want to continue?",
                          scripted.shown[0].text);
                EXPECT_EQ(MsgButtons::YesNo, scripted.shown[0].buttons);
            }
        }
    }
}

TEST_F(OptionsSettingsTest, DefaultFolderPickerStartsAtTheStoredFolderAndKeepsItOnCancel) {
    struct Case {
        DefaultFolder which;
        const char* entry;
        const char* caption;
    };
    for (const Case& c :
         {Case{DefaultFolder::CefStore, "CEF Store", "Select default folder for storing CEF files:"},
          {DefaultFolder::Export, "Export Folder", "Select the default folder for exported reports:"}}) {
        ASSERT_TRUE(write_profile_string("Settings", c.entry, "/old"));
        std::string caption, initial;
        EXPECT_FALSE(choose_default_folder(c.which, [&](const std::string& cap, const std::string& init) {
            caption = cap;
            initial = init;
            return std::string();
        }));
        EXPECT_EQ(c.caption, caption);
        EXPECT_EQ("/old", initial);
        EXPECT_EQ(RegValue::string("/old"), stored_profile_value("Settings", c.entry));
        EXPECT_TRUE(choose_default_folder(c.which, [](const std::string&, const std::string&) { return "/new"; }));
        EXPECT_EQ(RegValue::string("/new"), stored_profile_value("Settings", c.entry));
    }
}

// A player on PATH that records its arguments.
class SoundTest : public OptionsSettingsTest {
protected:
    void SetUp() override {
        OptionsSettingsTest::SetUp();
        bin = t / "bin";
        fs::create_directories(bin);
        old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", bin.c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", old_path.c_str(), 1);
        OptionsSettingsTest::TearDown();
    }
    void player(const std::string& name, int exit_code) {
        const fs::path p = bin / name;
        write_file(p, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> " + (t / "played").string() +
                          "\nexit " + std::to_string(exit_code) + "\n");
        ::chmod(p.c_str(), 0755);
    }
    std::string played() {
        std::ifstream in(t / "played", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path bin;
    std::string old_path;
};

TEST_F(SoundTest, PlaysThroughAplayWithTheNameAsOneArgument) {
    player("aplay", 0);
    player("xdg-open", 0);
    const std::string folder = (t / "R $(touch pwn).IMG").string();
    write_file(folder + "/patient.wav", "RIFF");
    const std::string wav = find_report_sound(folder);
    EXPECT_EQ(folder + "/patient.wav", wav);
    EXPECT_TRUE(play_sound_file(wav));
    EXPECT_EQ("-q\n--\n" + wav + "\n", played());
    EXPECT_FALSE(fs::exists(t / "pwn"));
    EXPECT_FALSE(fs::exists("pwn"));
}

TEST_F(SoundTest, FallsBackToTheDesktopPlayerAndReportsFailures) {
    write_file(t / "a.wav", "RIFF");
    EXPECT_FALSE(play_sound_file((t / "a.wav").string()));  // no player at all
    player("xdg-open", 0);
    EXPECT_TRUE(play_sound_file((t / "a.wav").string()));
    EXPECT_EQ((t / "a.wav").string() + "\n", played());
    player("aplay", 1);
    EXPECT_FALSE(play_sound_file((t / "a.wav").string()));
    // No file, no sound: the player is not even started.
    fs::remove(t / "played");
    EXPECT_FALSE(play_sound_file((t / "none.wav").string()));
    EXPECT_EQ("", find_report_sound(t.string()));
    EXPECT_FALSE(fs::exists(t / "played"));
}

}  // namespace
}  // namespace tv
