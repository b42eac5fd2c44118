// "/compresscf": a card recording folder and a profile file to a compressed ECG file beside it.
#include <gtest/gtest.h>

#include <fstream>

#include "common/bytes.h"
#include "common/registry.h"
#include "formats/cef.h"
#include "testing/app_test_root.h"
#include "tolbex/app/command_line.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/intake/intake.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }
std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class CompressCfTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        register_tolbex_strings();
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", TV_SZIP_PROGRAM));
        rec = t / "REC";
        fs::create_directories(rec);
        std::string words;
        for (int n = 0; n < 20000; ++n)
            for (std::uint16_t w : {0, 3, 100, 4090, 0x1064}) append_le16(words, w);
        for (int c = 1; c <= 3; ++c) write(rec / ("RAWECG" + std::to_string(c) + ".DAT"), words);
        write(rec / "PATSUMM.DAT", "Doe Jane\r\nP123\r\n01/02/2003 10:20:31\r\nREC9\r\n1\r\n3\r\n24\r\n\r\n\r\n");
        write(rec / "OTHER.DAT", std::string(832, 'o'));
        write(rec / "CNAV.DAT", std::string(1024, '\0'));
        write(rec / "PATEVENT.DAT", "10\n20\n");
        write(rec / "PATIENT.WAV", "RIFF....WAVE");
        profile = t / "req.ini";
        write_profile({"PatientName=doe jane", "PatientId=p123", "RecordingID=ABCD1234566"});
    }
    void write_profile(const std::vector<std::string>& lines) {
        std::string text = "[Patient Details]\r\n";
        for (const auto& l : lines) text += l + "\r\n";
        text += "[Remarks]\r\n1=first remark\r\n2=\x1b[31mred\r\n";
        write(profile, text);
    }
    int run(const std::string& level = "4", bool y = true) {
        return compress_cf_command(rec.string(), profile.string(), level, y);
    }
    fs::path rec, profile;
};

TEST_F(CompressCfTest, WritesTheFileBesideTheRecordingAndLeavesTheSourceAlone) {
    const std::string before = slurp(rec / "RAWECG1.DAT");
    ASSERT_EQ(run(), 0) << (scripted.shown.empty() ? "" : scripted.shown[0].text);
    const fs::path cef = rec / "ABCD1234566.CEF";
    ASSERT_TRUE(fs::exists(cef));
    CefHeader h;
    ASSERT_TRUE(read_cef_header(cef.string(), h));
    EXPECT_EQ(h.kind, kCefKindCard);
    EXPECT_EQ(h.channel_count, 3);
    EXPECT_EQ(h.start_sample, 4769280);
    EXPECT_EQ(slurp(rec / "RAWECG1.DAT"), before);
    const fs::path out = t / "OUT";
    fs::create_directories(out);
    {
        CefUnpacker unpacker(cef.string(), out.string());
        ASSERT_TRUE(unpacker.unpack()) << unpacker.get_error();
        for (const auto& tr : unpacker.trailers()) {
            EXPECT_EQ(tr.scale, 410);
            EXPECT_EQ(tr.channel_value, 1);
            EXPECT_EQ(tr.bit_reduction, 4);
        }
    }
    const std::string patient = slurp(out / "PATIENT.TXT");
    EXPECT_NE(patient.find("\r\nDoe Jane\r\n"), std::string::npos);
    EXPECT_NE(patient.find("\r\nABCD1234566\r\nP123\r\n"), std::string::npos);
    // The profile's remarks reach the file without their control characters.
    EXPECT_NE(patient.find("first remark\r\n[31mred"), std::string::npos) << patient;
    // Seventeen lines (the remarks the last, two of them), the last without a line end.
    EXPECT_EQ(patient.substr(patient.size() - 9), "\r\n[31mred") << patient;
    std::size_t line_ends = 0;
    for (std::size_t at = 0; (at = patient.find("\r\n", at)) != std::string::npos; at += 2) ++line_ends;
    EXPECT_EQ(line_ends, 16u + 1u) << patient;
    EXPECT_EQ(slurp(out / "OTHER.DAT"), std::string(832, 'o'));
    // Nothing of the work folder is left.
    for (const auto& e : fs::directory_iterator(root.tmp())) ADD_FAILURE() << "left behind: " << e.path();
}

TEST_F(CompressCfTest, EachErrorHasItsCodeAndWritesNoFile) {
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::string level;
        bool y;
        int code;
    } cases[] = {
        {"profile missing", [&] { fs::remove(profile); }, "4", true, 1},
        {"bad level", [] {}, "1", true, 2},
        {"no patient id",
         [&] {
             write_profile({"PatientName=doe jane", "RecordingID=ABCD1234566"});
         },
         "4", true, 3},
        {"no patient name",
         [&] {
             write_profile({"PatientId=p123", "RecordingID=ABCD1234566"});
         },
         "4", true, 4},
        {"no folder", [&] { fs::remove_all(rec); }, "4", true, 5},
        {"other name",
         [&] {
             write_profile({"PatientName=Smith", "PatientId=p123", "RecordingID=ABCD1234566"});
         },
         "4", true, 7},
        {"other id",
         [&] {
             write_profile({"PatientName=doe jane", "PatientId=p9", "RecordingID=ABCD1234566"});
         },
         "4", true, 8},
        {"bad summary", [&] { write(rec / "PATSUMM.DAT", "Doe Jane\r\nP123\r\n01/02\r\n"); }, "4", true, 9},
        {"cannot write", [&] { fs::create_directories(rec / "ABCD1234566.CEF" / "x"); }, "4", true, 11},
        {"no recording id",
         [&] {
             write_profile({"PatientName=doe jane", "PatientId=p123", "RecordingID=../.."});
         },
         "4", true, 12},
        {"no channel 1", [&] { fs::remove(rec / "RAWECG1.DAT"); }, "4", true, 16},
        {"no one to confirm", [] {}, "4", false, kCompressCfNoDisplay},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange();
        EXPECT_EQ(run(c.level, c.y), c.code);
        if (c.code != 11) {
            EXPECT_FALSE(fs::exists(rec / "ABCD1234566.CEF"));
        }
        fs::remove_all(rec);
    }
}

TEST_F(CompressCfTest, TheCommandLineRunsIt) {
    set_compress_cf_action(compress_cf_operands);
    CTolbexApp app;
    dispatch_command_line(app, {"/compresscf", rec.string(), profile.string(), "3", "Y"}, false);
    EXPECT_EQ(app.exit_code(), 0);
    EXPECT_TRUE(fs::exists(rec / "ABCD1234566.CEF"));
    dispatch_command_line(app, {"/compresscf", rec.string(), profile.string(), "1"}, false);
    EXPECT_EQ(app.exit_code(), 2);
    set_compress_cf_action({});
}

// The built program, hidden, as a caller runs it: its exit codes and nothing on the screen.
TEST_F(CompressCfTest, TheProgramAnswersWithItsExitCode) {
    const std::vector<std::string> env = {"TORVANE_ROOT=" + root.path(), "TMPDIR=" + root.tmp(), "TZ=UTC", "LC_ALL=C",
                                          "HOME=" + t.string(),          "PATH=/usr/bin:/bin"};
    auto run_program = [&](const std::string& level) {
        return platform::testing::run_captured({TOLBEX_PROGRAM, "/compresscf", rec.string(), profile.string(), level,
                                                "y"},
                                               env, t.string(), 120);
    };
    auto r = run_program("1");
    EXPECT_EQ(r.code, 2) << r.err;
    r = run_program("2");
    EXPECT_EQ(r.code, 0) << r.err;
    CefHeader h;
    ASSERT_TRUE(read_cef_header((rec / "ABCD1234566.CEF").string(), h));
    EXPECT_EQ(h.start_sample, 4769280);
    // Without "y" the operator confirms; with no display to show the dialog on, it says so.
    fs::remove(rec / "ABCD1234566.CEF");
    r = platform::testing::run_captured({TOLBEX_PROGRAM, "/compresscf", rec.string(), profile.string(), "2"}, env,
                                        t.string(), 120);
    EXPECT_EQ(r.code, kCompressCfNoDisplay) << r.err;
    EXPECT_NE(r.err.find("Patient Details dialog, and there is no display"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(rec / "ABCD1234566.CEF"));
    write_profile({"PatientName=doe jane", "RecordingID=ABCD1234566"});
    r = run_program("2");
    EXPECT_EQ(r.code, 3) << r.err;
    for (const auto& e : fs::directory_iterator(root.tmp())) ADD_FAILURE() << "left behind: " << e.path();
}

}  // namespace
}  // namespace tv
