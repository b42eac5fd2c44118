// End-to-end checks of the common library, run as separate processes through tvcommon_cli.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/files.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/shared_memory.h"
#include "testing/test_root.h"

namespace fs = std::filesystem;

namespace {

const std::string kCli = TVCOMMON_CLI;
const std::string kReader = FAKE_TAPE_READER;

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Output {
    int status = -1;
    std::string out;
};

Output run(const std::string& command) {
    Output r;
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string hex(const std::string& bytes) {
    std::string s;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02x ", c);
        s += b;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

class Acceptance : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    std::string cli(const std::string& args) const { return quote(kCli) + " " + args; }
    tv::platform::testing::TempRoot temp_;
    const std::string root_ = temp_.path();
};

TEST_F(Acceptance, AuditLogGoldenFileTwoWritersAndLockedFile) {
    const std::string folder = root_ + "/archive";
    fs::create_directories(folder);
    Output w = run(cli("audit-write --folder " + quote(folder) +
                       " --user u --ip 1.2.3.4 --program P --time 2007-12-03T14:05:09 --format %s --text m"));
    ASSERT_EQ(w.status, 0) << w.out;
    const std::string log = folder + "/TV200712.LOG";
    EXPECT_EQ(hex(read_bytes(log)),
              "70 d1 72 2b 1a 00 00 00 ea 00 62 5c 64 5c 66 5c 68 00 a0 00 da 00 ab cb ed 8f e4 7e c7 80 00 00 00 00");

    // Two programs append at once; they take turns, and no record or CRC byte is lost.
    const std::string writer =
        cli("audit-write --folder " + quote(folder) + " --time 2007-12-20T10:00:00 --count 200" + " --format " +
            quote("View formatted report - %s in %s") + " --text Desc --path-a /A/STD/ABC.FUL");
    Output both = run("(" + writer + " & " + writer + " & wait) ; echo done");
    EXPECT_NE(both.out.find("done"), std::string::npos);
    Output v = run(cli("audit-verify " + quote(log) + " --messages"));
    ASSERT_EQ(v.status, 0) << v.out;
    auto l = lines_of(v.out);
    ASSERT_EQ(l.size(), 402u);
    EXPECT_EQ(l[0], "records=401 crc=ok");
    EXPECT_EQ(l[1], "m");
    for (std::size_t i = 2; i < l.size(); ++i) ASSERT_EQ(l[i], "View formatted report - Desc in abc.ful") << i;

    // Another program holds the file: three tries two seconds apart, then a refusal.
    tv::platform::FileLock holder;
    ASSERT_TRUE(holder.lock(log, true, false));
    Output locked =
        run(cli("audit-write --folder " + quote(folder) + " --time 2007-12-20T10:00:00 --text x") + " 2>&1");
    EXPECT_NE(locked.status, 0) << locked.out;
    holder.unlock();
    EXPECT_EQ(lines_of(run(cli("audit-verify " + quote(log))).out)[0], "records=401 crc=ok");
}

TEST_F(Acceptance, ScramblerTableAndRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    write_bytes(root_ + "/bytes", all);
    Output s = run(cli("scramble < " + quote(root_ + "/bytes")));
    ASSERT_EQ(s.out.size(), 256u);
    EXPECT_EQ(hex(s.out.substr(0, 16)), "3a 2c 14 62 00 a1 73 1d 7c 20 90 63 3d 9c c6 fe");
    EXPECT_EQ(hex(s.out.substr(240)), "9a 56 3c c4 35 30 aa 88 09 03 ec 51 7f 5b 33 f8");
    write_bytes(root_ + "/table", s.out);
    EXPECT_EQ(run("sha256sum " + quote(root_ + "/table")).out.substr(0, 64),
              "4ac9827e736df81fd1f9b08672fb986e1551735af075106dcc956950ece53774");
    EXPECT_EQ(run(cli("unscramble < " + quote(root_ + "/table"))).out, all);
    EXPECT_EQ(hex(run("printf 'Smith^John' | " + cli("scramble")).out), "80 e6 ce a4 7a 41 4b 39 7a f6");
}

TEST_F(Acceptance, LineReaderChecksum) {
    write_bytes(root_ + "/crlf", "ab\r\n\r\n   \r\nabcdef\r\n");
    write_bytes(root_ + "/lf", "ab\n\n   \nabcdef\n");
    for (const char* name : {"/crlf", "/lf"}) {
        Output r = run(cli("lines " + quote(root_ + name)));
        EXPECT_EQ(r.out, "ab\nabcdef\nchecksum=0x64636665\n") << name;
    }
}

TEST_F(Acceptance, RunnerFillsNamedMappingsThroughAFakeTapeReader) {
    // A TAPEDATA.MMF left smaller by an older program that nobody holds any more starts anew at
    // the size asked, never overrun.
    {
        tv::platform::UniqueFd old(::shm_open(tv::platform::ipc_name("TAPEDATA.MMF").c_str(), O_RDWR | O_CREAT, 0600));
        ASSERT_TRUE(old);
        ASSERT_EQ(::ftruncate(old.get(), 100), 0);
    }
    Output r = run(cli("tape-host " + quote(kReader)));
    ASSERT_EQ(r.status, 0) << r.out;
    int code = 0, count = 0, state = 0, pumps = 0;
    char serial[64] = {};
    ASSERT_EQ(std::sscanf(r.out.c_str(), "exit=%d count=%d state=%d serial=%63[^p]pumps=%d", &code, &count, &state,
                          serial, &pumps),
              5)
        << r.out;
    EXPECT_EQ(code, 2);
    EXPECT_EQ(count, 76800);
    EXPECT_EQ(state, 4);
    EXPECT_EQ(std::string(serial), "SN:1A / 7 ");
    EXPECT_GE(pumps, 3);
    // The host was the last holder: nothing is left.
    EXPECT_EQ(tv::platform::SharedMemory::open_existing("TAPEDATA.MMF", 1, false), nullptr);

    EXPECT_EQ(run(cli("tape-host " + quote(root_ + "/does-not-exist"))).out.substr(0, 8), "exit=-1 ");
    EXPECT_EQ(run(cli("tape-host " + quote(kReader) + " minus-one")).out.substr(0, 8), "exit=-1 ");
    EXPECT_EQ(run(cli("tape-host " + quote(kReader) + " killed")).out.substr(0, 8), "exit=-2 ");

    for (const char* n : {"RAWECG1.MMF", "RAWECG2.MMF", "RAWECG3.MMF", "ECGCTRL.MMF", "TAPEDATA.MMF", "Patient Events"})
        tv::platform::SharedMemory::unlink(n);
}

TEST_F(Acceptance, RegistryLanguageRootsFileTypesAndCompressorSearch) {
    write_bytes(root_ + "/registry/HKLM.reg",
                "TORVANE REGISTRY 1\r\n\r\n[SOFTWARE\\Torvane Medical\\Language\\Calvera]\r\n"
                "\"PrimaryLanguage\"=dword:00000009\r\n");
    const std::string hkcu =
        "TORVANE REGISTRY 1\r\n\r\n[Software\\Torvane Medical\\Language]\r\n\"PrimaryLanguage\"=dword:00000007\r\n"
        "\r\n[Software\\Torvane Medical\\Quorril]\r\n\"UserRoot\"=dword:00000001\r\n";
    write_bytes(root_ + "/user/registry/HKCU.reg", hkcu);
    EXPECT_EQ(run(cli("lang Calvera")).out, "0x0409\n");
    EXPECT_EQ(run(cli("user-root")).out, root_ + "/ANALYSER\n");
    write_bytes(root_ + "/user/registry/HKCU.reg",
                hkcu + "\r\n[Software\\Torvane Medical\\Language]\r\n\"IgnorePerAppSettings\"=dword:00000001\r\n");
    EXPECT_EQ(run(cli("lang Calvera")).out, "0x0407\n");

    ASSERT_EQ(run(cli("register-type T D .X /s")).status, 0);
    auto reg = tv::platform::make_file_registry(root_ + "/registry", root_ + "/user/registry");
    auto str = [&](const std::string& key) {
        auto v = reg->get(tv::platform::RegRoot::ClassesRoot, key, "");
        return v ? v->text : std::string("<missing>");
    };
    EXPECT_EQ(str("T"), "D");
    EXPECT_EQ(str("T\\DefaultIcon"), kCli + ",0");
    EXPECT_EQ(str("T\\shell\\open\\command"), kCli + " /s \"%1\"");
    EXPECT_EQ(str(".X"), "T");
    ASSERT_EQ(run(cli("register-type T D .X /s")).status, 0);
    EXPECT_EQ(str(".X"), "T");

    // The compressor is found through the registry, then along the search path.
    const std::string bin = root_ + "/bin";
    write_bytes(bin + "/szip", "#!/bin/sh\nexit 0\n");
    ::chmod((bin + "/szip").c_str(), 0755);
    EXPECT_EQ(run("PATH=" + quote(bin) + ":/usr/bin:/bin " + cli("find-szip")).out, bin + "/szip\n");
    const std::string installed = root_ + "/common/SZIP";
    write_bytes(installed, "#!/bin/sh\nexit 0\n");
    ::chmod(installed.c_str(), 0755);
    ASSERT_TRUE(reg->set(tv::platform::RegRoot::LocalMachine, "Software\\Torvane Medical\\SZIP", "Install Path",
                         tv::platform::RegValue::string(installed)));
    EXPECT_EQ(run("PATH=" + quote(bin) + ":/usr/bin:/bin " + cli("find-szip")).out, installed + "\n");
    // A program installed in <prefix>/bin finds the compressor its package keeps among the private
    // parts, before whatever the registry names; nothing has to be copied where it runs.
    const std::string prefix = root_ + "/usr";
    fs::create_directories(prefix + "/bin");
    fs::copy_file(kCli, prefix + "/bin/tvcommon_cli");
    const std::string own = prefix + "/lib/torvane/szip";
    write_bytes(own, "#!/bin/sh\nexit 0\n");
    ::chmod(own.c_str(), 0755);
    EXPECT_EQ(run("PATH=/usr/bin:/bin " + quote(prefix + "/bin/tvcommon_cli") + " find-szip").out, own + "\n");
}

TEST_F(Acceptance, TemporaryFoldersUniqueNamesFinderAndChecksums) {
    const std::string batch = cli("temp-folders 250");
    Output r = run("(" + batch + " & " + batch + " & " + batch + " & " + batch + " & wait)");
    auto paths = lines_of(r.out);
    ASSERT_EQ(paths.size(), 1000u);
    std::set<std::string> distinct(paths.begin(), paths.end());
    EXPECT_EQ(distinct.size(), 1000u);
    for (const auto& p : paths) {
        ASSERT_EQ(p.back(), '/') << p;
        ASSERT_EQ(fs::path(p.substr(0, p.size() - 1)).filename().string().substr(0, 2), "TV") << p;
        ASSERT_TRUE(fs::is_empty(p)) << p;
    }
    write_bytes(paths[0] + "keep.dat", "x");
    Output more = run("(" + batch + " & " + batch + " & wait)");
    EXPECT_EQ(lines_of(more.out).size(), 500u);
    EXPECT_EQ(read_bytes(paths[0] + "keep.dat"), "x");

    EXPECT_EQ(run(cli("unique-name --now 2007-12-03T14:05:09 " + quote(root_) + " .FUL")).out, "3B07E135.FUL\n");
    fs::create_directory(root_ + "/3B07E135.FUL");
    EXPECT_EQ(run(cli("unique-name --now 2007-12-03T14:05:09 " + quote(root_) + " .FUL")).out, "4B07E135.FUL\n");

    const std::string d = root_ + "/cdrive/d";
    write_bytes(d + "/a.txt", "a");
    write_bytes(d + "/B", "b");
    write_bytes(d + "/.hidden", "h");
    fs::create_directories(d + "/sub");
    ASSERT_EQ(run(cli("map-drive C " + quote(root_ + "/cdrive"))).status, 0);
    auto names = lines_of(run(cli("find 'C:/d/*.*' 0x7FEF")).out);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"B", "a.txt"}));

    write_bytes(root_ + "/six", std::string("\x01\x02\x03\x04\x05\x06", 6));
    EXPECT_EQ(run(cli("xor-checksum " + quote(root_ + "/six"))).out, "0x04030404\n");

    const std::string src = root_ + "/src", dst = root_ + "/dst";
    write_bytes(src + "/WIN386.SWP", "swap");
    write_bytes(src + "/win386.swp", "data");
    fs::create_directories(dst);
    EXPECT_EQ(tv::copy_matching_files(src + "/*.*", dst), tv::FileSetResult::AllDone);
    EXPECT_FALSE(fs::exists(dst + "/WIN386.SWP"));
    EXPECT_EQ(read_bytes(dst + "/win386.swp"), "data");
}

}  // namespace
