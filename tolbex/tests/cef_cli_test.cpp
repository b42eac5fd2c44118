// Compressed ECG files through the built program: "/uncompress" with its exit codes, and "/store"
// and "/storefolder" of a received .CEF into an archive. The files are put together byte by byte,
// their packed members made by the compressor stand-in itself.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "formats/tests/cef_test_support.h"
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

using tv::cef_test::Bytes;
using tv::cef_test::CefBuilder;

using Files = std::vector<std::pair<std::string, std::string>>;

// Names first, then each file's bytes (a failure names the file instead of printing it whole).
void expect_files(const Files& actual, const Files& expected) {
    std::vector<std::string> a, e;
    for (auto& f : actual) a.push_back(f.first);
    for (auto& f : expected) e.push_back(f.first);
    ASSERT_EQ(a, e);
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const std::string& x = actual[i].second;
        const std::string& y = expected[i].second;
        if (x == y) continue;
        std::size_t at = 0;
        while (at < x.size() && at < y.size() && x[at] == y[at]) ++at;
        ADD_FAILURE() << a[i] << ": " << x.size() << " bytes, expected " << y.size() << "; first difference at " << at;
    }
}

std::string as_text(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes as_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

const std::string kPatientText =
    "--\r\n--\r\nDoe "
    "Jane\r\n--\r\n--\r\n--\r\n--\r\nABCD1234566\r\nP123\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--";
const std::string kDescription = "Holter of Jane Doe";
const std::string kSound("RIFF\x04\x00\x00\x00WAVE", 12);

class CefCliTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        out = t / "out";
        fs::create_directories(out);
        use_szip(TV_SZIP_PROGRAM);
        for (int i = 0; i < 3000; ++i)
            for (std::uint16_t w : {0, 3, 100, 4090, 0x1064}) words.push_back(w);
        for (int i = 0; i < 3000; ++i)
            for (std::uint16_t w : {0, 16, 96, 4080, 0x1060}) restored.push_back(w);
        other = Bytes(5000, 0x42);
        for (std::size_t i = 0; i < other.size(); i += 7) other[i] = static_cast<std::uint8_t>(i);
    }

    void use_szip(const std::string& program) {
        write_hive(root / "registry" / "HKLM.reg",
                   "[Software\\Torvane Medical\\SZIP]\r\n\"Install Path\"=\"" + program + "\"\r\n");
    }

    // `data` as the compressor stand-in packs it.
    Bytes packed(const Bytes& data) {
        const fs::path in = t / "pack.in", packed_file = t / "pack.out";
        write_file(in, as_text(data));
        const std::string command =
            std::string("'") + TV_SZIP_PROGRAM + "' -o4r2b41 '" + in.string() + "' '" + packed_file.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        const std::string bytes = read_file(packed_file);
        fs::remove(in);
        fs::remove(packed_file);
        return as_bytes(bytes);
    }

    // A card recording of one channel (bit reduction 4): packed channel and OTHER.DAT, stored
    // sound, events and CNAV.DAT; then the extra members given.
    CefBuilder builder() {
        CefBuilder b(11, 1, 4769280, kDescription);
        b.block(tv::cef_test::scrambled(kPatientText));
        b.member(as_bytes(kSound));
        b.member(as_bytes("10\n20\n"));
        std::vector<std::uint16_t> r = words;
        tv::cef_reduce_samples(r.data(), r.size(), 4);
        b.member(packed(tv::cef_test::words_to_bytes(r)), 1);
        b.trailer(410, 1, 4);
        b.extra("OTHER.DAT", packed(other), 1);
        b.extra("CNAV.DAT", Bytes{1, 2, 3});
        return b;
    }

    fs::path cef_file(const Bytes& bytes, const std::string& name = "in.CEF") {
        const fs::path p = t / "cef" / name;
        write_file(p, as_text(bytes));
        return p;
    }

    RunResult uncompress(const fs::path& cef, const fs::path& folder) {
        return run({"/uncompress", cef.string(), folder.string()});
    }

    // The files an unpacked recording holds, by name.
    Files expected_files() const {
        std::string recording;
        for (std::uint32_t v : {11u, 4769280u, 1u, 410u, 1u, 4u}) put_u32(recording, v);
        Files files = {
            {"CEFDESC.TXT", kDescription},
            {"CNAV.DAT", std::string("\x01\x02\x03", 3)},
            {"OTHER.DAT", as_text(other)},
            {"PATEVENT.DAT", "10\n20\n"},
            {"PATIENT.TXT", kPatientText},
            {"PATIENT.WAV", kSound},
            {"RAWECG1.DAT", as_text(tv::cef_test::words_to_bytes(restored))},
            {"RECORDING.DAT", recording},
            {"SUMMARY.TXT", "CEF Report\n"},
            {"VERSION.TXT", "V8.006\n"},
        };
        return files;
    }

    fs::path out;
    std::vector<std::uint16_t> words, restored;
    Bytes other;
};

TEST_F(CefCliTest, UncompressGivesEveryMemberToTheByte) {
    const fs::path cef = cef_file(builder().finish());
    auto r = uncompress(cef, out);
    EXPECT_EQ(r.code, 0) << r.err;
    expect_files(folder_files(out), expected_files());
    EXPECT_TRUE(temp_leftovers().empty());
    // Unpacking again over the files of the first run replaces them.
    EXPECT_EQ(uncompress(cef, out).code, 0);
    expect_files(folder_files(out), expected_files());
}

TEST_F(CefCliTest, UncompressExitCodes) {
    const Bytes good = builder().finish();
    ASSERT_GT(good.size(), 400u);

    Bytes flipped = good;
    flipped[300] ^= 0x01;
    EXPECT_EQ(uncompress(cef_file(flipped, "flipped.CEF"), out).code, 3);
    Bytes truncated(good.begin(), good.begin() + 100);
    EXPECT_EQ(uncompress(cef_file(truncated, "short.CEF"), out).code, 3);
    Bytes cut(good.begin(), good.end() - 1);  // the last member ends beyond the file
    CefBuilder rechecked(11, 1);
    rechecked.b = cut;
    EXPECT_EQ(uncompress(cef_file(rechecked.finish(), "cut.CEF"), out).code, 3);
    EXPECT_EQ(uncompress(cef_file(as_bytes(std::string(300, 'g')), "garbage.CEF"), out).code, 3);

    // Names that would leave the target folder, or that are too long.
    const fs::path inner = out / "inner";
    fs::create_directories(inner);
    for (const std::string& name :
         {std::string("../evil"), std::string("/tmp/evil"), std::string(".."), std::string(256, 'n'),
          std::string(260, 'n'), std::string(261, 'n'), std::string("RAWECG1.DAT")}) {
        CefBuilder b = builder();
        b.extra(name, Bytes{6, 6, 6});
        EXPECT_EQ(uncompress(cef_file(b.finish(), "names.CEF"), inner).code, 3) << name.substr(0, 20);
        EXPECT_TRUE(fs::is_empty(inner)) << name.substr(0, 20);
    }
    EXPECT_TRUE(folder_files(out).empty());
    EXPECT_FALSE(fs::exists(t / "evil"));

    const fs::path cef = cef_file(good);
    EXPECT_EQ(uncompress(cef, t / "missing").code, 1);
    EXPECT_FALSE(fs::exists(t / "missing"));
    EXPECT_EQ(uncompress(t / "cef" / "nothere.CEF", out).code, 2);

    // No compressor where the search looks.
    use_szip((t / "no-szip").string());
    EXPECT_EQ(uncompress(cef, out).code, 5);
    EXPECT_TRUE(temp_leftovers().empty());
}

// Every entry of a folder, folders included, with each file's bytes.
Files listing(const fs::path& folder) {
    Files entries;
    for (auto& e : fs::directory_iterator(folder))
        entries.emplace_back(e.path().filename().string(), e.is_directory() ? "<folder>" : read_file(e.path()));
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The card program writes lower-case names; a lookup without regard to case must then find the
// unpacked recording's file, not one of those.
TEST_F(CefCliTest, UncompressReplacesEverySpellingOfAMemberName) {
    const fs::path cef = cef_file(builder().finish());
    for (const char* name : {"rawecg1.dat", "patevent.dat", "Other.Dat", "recording.dat"})
        write_file(out / name, "another patient");
    write_file(out / "notes.txt", "kept");
    auto r = uncompress(cef, out);
    ASSERT_EQ(r.code, 0) << r.err;
    Files expected = expected_files();
    expected.emplace_back("notes.txt", "kept");
    std::sort(expected.begin(), expected.end());
    expect_files(listing(out), expected);
}

// A member that fails after others were written: the folder is left as it was, the files it
// held before (other spellings included) back in place.
TEST_F(CefCliTest, AFailedUnpackLeavesTheFolderAsItWas) {
    const struct {
        const char* name;
        std::function<void(CefBuilder&)> spoil;
        int code;
    } cases[] = {
        {"member the compressor refuses", [](CefBuilder& b) { b.extra("EVENT.DAT", Bytes(64, 0x5A), 1); }, 5},
        {"member whose name is a folder there", [](CefBuilder& b) { b.extra("CNAVOP.DAT", Bytes{7}); }, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out);
        fs::create_directories(out / "cnavop.dat");
        write_file(out / "rawecg1.dat", "the card's channel");
        write_file(out / "PATIENT.TXT", "an earlier patient");
        write_file(out / "notes.txt", "kept");
        const Files before = listing(out);
        CefBuilder b = builder();
        c.spoil(b);
        auto r = uncompress(cef_file(b.finish()), out);
        EXPECT_EQ(r.code, c.code) << r.err;
        expect_files(listing(out), before);
        EXPECT_TRUE(temp_leftovers().empty());
    }
}

// A run ended by SIGTERM or SIGINT while the compressor works on a channel puts the folder back:
// the earlier recording is where it was, nothing new is left, nothing hidden aside.
TEST_F(CefCliTest, AStopSignalLeavesTheFolderAsItWas) {
    const fs::path cef = cef_file(builder().finish());
    const fs::path fake = t / "slow_szip", started = t / "szip-started";
    write_file(fake, "#!/bin/sh\ntouch '" + started.string() + "'\nexec sleep 60\n");
    fs::permissions(fake, fs::perms::owner_all);
    use_szip(fake.string());
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        fs::remove_all(out);
        fs::remove(started);
        write_file(out / "RAWECG1.DAT", "the earlier recording");
        write_file(out / "PATIENT.TXT", "an earlier patient");
        const Files before = listing(out);
        std::vector<std::string> argv = {TOLBEX_PROGRAM, "/uncompress", cef.string(), out.string()};
        const pid_t child = ::fork();
        if (child == 0) {
            std::vector<char*> args, env;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            std::vector<std::string> environment_text = environment();
            for (auto& e : environment_text) env.push_back(e.data());
            env.push_back(nullptr);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0), ::dup2(null, 1), ::dup2(null, 2);
            ::execve(args[0], args.data(), env.data());
            ::_exit(127);
        }
        ASSERT_GT(child, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fs::exists(started) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(fs::exists(started));
        ::kill(child, sig);
        int status = 0;
        pid_t got = 0;
        while ((got = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (got == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the run did not end after the signal";
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        expect_files(listing(out), before);
        EXPECT_TRUE(temp_leftovers().empty());
    }
}

// A twelve-lead channel whose own header does not fit its file cannot be restored: the channel
// is reported, not the patient text, and nothing is left.
TEST_F(CefCliTest, ATwelveLeadChannelThatCannotBeRestored) {
    CefBuilder b(13, 1, 0, kDescription);
    b.block(tv::cef_test::scrambled(kPatientText)).member({}).member({});
    b.member(Bytes{1, 0x40, 0x00, 9, 9, 9}).trailer(410, 1, 4);  // header length 64 in a 6-byte file
    auto r = uncompress(cef_file(b.finish()), out);
    EXPECT_EQ(r.code, 5) << r.err;
    EXPECT_TRUE(listing(out).empty());
}

TEST_F(CefCliTest, FailingCompressorIsCancelledInAHiddenRun) {
    const fs::path cef = cef_file(builder().finish());
    const fs::path fake = t / "fake_szip";
    write_file(fake, "#!/bin/sh\nexit 3\n");
    fs::permissions(fake, fs::perms::owner_all);
    use_szip(fake.string());
    auto r = run({"/uncompress", cef.string(), out.string()}, 30);
    EXPECT_EQ(r.code, 5);
    EXPECT_NE(r.err.find("The SZIP program has returned error number 3."), std::string::npos) << r.err;
    EXPECT_TRUE(temp_leftovers().empty());
}

TEST_F(CefCliTest, UncompressNeedsBothOperands) {
    const fs::path cef = cef_file(builder().finish());
    auto r = run({"/uncompress", cef.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Wrong number of command line parameters."), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(out));
}

class CefStoreTest : public CefCliTest {
protected:
    void SetUp() override {
        CefCliTest::SetUp();
        g = t / "G";
        make_group(g, {{"STANDARD", "STANDARD"}});
        archive = g / "STANDARD";
    }
    RunResult store(const fs::path& file) { return run({"/store", file.string(), g.string(), "STANDARD"}); }
    fs::path g, archive;
};

TEST_F(CefStoreTest, StoresTheUnpackedRecordingAsACompressedEcgReport) {
    const Bytes bytes = builder().finish();
    const fs::path cef = cef_file(bytes, "mailed.cef");
    // Something another program left in the temporary folder must not become part of the report.
    write_file(tmp / "unrelated.txt", "not mine");

    auto r = store(cef);
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = index_lines(archive / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(fs::path(lines[0]).extension(), ".CEF");
    EXPECT_EQ(lines[1], kDescription);
    EXPECT_EQ(lines[3], std::to_string(bytes.size()));
    EXPECT_EQ(lines[4], "CEF");
    expect_files(folder_files(archive / lines[0]), expected_files());
    EXPECT_EQ(temp_leftovers(), std::vector<std::string>{"unrelated.txt"});
    EXPECT_TRUE(fs::exists(cef));  // the received file stays where it was
}

TEST_F(CefStoreTest, RefusedFilesLeaveTheArchiveAlone) {
    const Bytes good = builder().finish();
    Bytes flipped = good;
    flipped[300] ^= 0x01;
    EXPECT_EQ(store(cef_file(flipped, "flipped.CEF")).code, 3);
    CefBuilder evil = builder();
    evil.extra("../evil", Bytes{6});
    EXPECT_EQ(store(cef_file(evil.finish(), "evil.CEF")).code, 3);
    EXPECT_EQ(store(cef_file(as_bytes(std::string(300, 'g')), "garbage.CEF")).code, 3);
    EXPECT_EQ(store(t / "cef" / "nothere.CEF").code, 2);
    // A missing compressor says nothing about the file: "could not uncompress", not "invalid".
    use_szip((t / "no-szip").string());
    EXPECT_EQ(store(cef_file(good)).code, 8);

    EXPECT_FALSE(fs::exists(archive / "ARCHINFO.DAT"));
    EXPECT_TRUE(fs::is_empty(archive));
    EXPECT_TRUE(temp_leftovers().empty());
    EXPECT_FALSE(fs::exists(t / "evil"));
}

TEST_F(CefStoreTest, StoreFolderLogsEachCompressedFile) {
    const fs::path src = t / "src";
    write_file(src / "a.CEF", as_text(builder().finish()));
    write_file(src / "bad.CEF", std::string(300, 'g'));
    write_file(src / "good.TVZ", tvz_literal_entry("REPINFO.TXT", "Good\r\n510\r\n1196690709\r\n77\r\n") +
                                     report_files_tvz() + tvz_literal_entry("DATA.BIN", "payload"));
    auto r = run({"/storefolder", src.string(), g.string(), "STANDARD", "NONE"});
    EXPECT_EQ(r.code, 3) << r.err;
    const auto lines = index_lines(archive / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1], kDescription);
    EXPECT_EQ(lines[4], "CEF");
    EXPECT_EQ(lines[6], "Good");
    EXPECT_TRUE(temp_leftovers().empty());
}

}  // namespace
}  // namespace cli
