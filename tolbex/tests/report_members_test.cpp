// What another account of the archive's group puts into a report folder, through the built
// program in a shared group tree: a link to the operator's own file or a second name of it reaches
// no output, a FIFO or /dev/zero holds no run, a huge sparse page swells none, and a PATIENT.TXT
// made a link to another report's never lists this folder under that report's recording id.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "testing/test_accounts.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/tests/cli_fixture.h"
#include "tools/demo/emf_writer.h"

namespace cli {
namespace {

std::string record(std::uint32_t type, const std::string& payload) {
    std::string o;
    tv::append_le32(o, static_cast<std::uint32_t>(payload.size() + 16));
    for (int i = 0; i < 3; ++i) tv::append_le32(o, 0);
    tv::append_le32(o, type);
    return o + payload;
}
std::string words(std::initializer_list<std::int64_t> values) {
    std::string o;
    for (auto v : values) tv::append_le32(o, static_cast<std::uint32_t>(v));
    return o;
}
std::string text_record(const std::string& s) { return record(63, words({3200, 6400, std::int64_t(s.size())}) + s); }
// Shape 25: the bitmap of that name in the page's folder, over most of the page.
std::string bitmap_record(const std::string& name) {
    return record(56, words({25, 0, 3200, 9600, 150000, 150000}) + name + std::string(1, '\0'));
}
// A black 32 x 32 picture, one bit a pixel.
std::string black_bmp() {
    std::string b = "BM";
    tv::append_le32(b, 62 + 128);
    tv::append_le32(b, 0);
    tv::append_le32(b, 62);
    for (std::int64_t v : {40, 32, 32}) tv::append_le32(b, static_cast<std::uint32_t>(v));
    tv::append_le16(b, 1);
    tv::append_le16(b, 1);
    for (int i = 0; i < 6; ++i) tv::append_le32(b, 0);
    tv::append_le32(b, 0);           // palette: black
    tv::append_le32(b, 0x00FFFFFF);  // white
    return b + std::string(128, '\0');
}
std::string strip_metafile() {
    tv::EmfWriter w({800, 400});
    w.pen(tv::fw::PenStyle::Solid, {}, 9);
    w.polyline({{0, 0}, {800, 400}, {0, 400}, {800, 0}});
    return w.finish();
}
std::string emf_list(const std::string& name) {
    std::string f(64, '\0');
    f[19] = 5, f[20] = 4, f[21] = 3, f[22] = 2, f[23] = 1, f[24] = 24;
    f[25] = 1;
    tv::append_le16(f, static_cast<std::uint16_t>(name.size()));
    f += name;
    tv::append_le16(f, 5);
    return f + "Strip";
}

// A formatted 12-lead report of account 0 in a shared archive (02775, as the README sets one
// up), with a private folder of the operator (root) beside the tree holding the same kinds of file.
class ReportMembersTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
        ASSERT_EQ(::chmod(t.c_str(), 0755), 0);
        g = t / "G";
        make_group(g, {{"A", "A"}});
        ASSERT_TRUE(accounts.share(g.string()));
        ASSERT_TRUE(accounts.share((g / "A").string()));
        r = g / "A" / "R1.IMG";
        files = {
            {"VERSION.TXT", "V8.006\r\n"},
            {"SUMMARY.TXT", "x\r\n"},
            {"PAGE.0", record(17, words({1, 3}) + "abc")},
            {"PAGE.1", text_record("visible") + bitmap_record("PIC.BMP")},
            {"PIC.BMP", black_bmp()},
            {"PATIENT.TXT", patient_txt("ID-ONE", "Report Patient")},
            {"emflist.dat", emf_list("R-128-60.emf")},
            {"R-128-60.emf", strip_metafile()},
        };
        for (const auto& [name, bytes] : files) write_file(r / name, bytes);
        write_file(g / "A" / "ARCHINFO.DAT",
                   format_entry({"R1.IMG", "One", "Mon Dec 03 14:05:09 2007", "1", "Formatted"}));
        for (auto& e : fs::recursive_directory_iterator(g))
            ASSERT_EQ(::chown(e.path().c_str(), accounts.uid(0), accounts.gid()), 0);
        ASSERT_EQ(::chmod(r.c_str(), 02775), 0);
        // The operator's own files, the same kinds with other content.
        secret = t / "private";
        write_file(secret / "PAGE.1", text_record("SECRET-PAGE"));
        write_file(secret / "PIC.BMP", black_bmp());
        write_file(secret / "PATIENT.TXT", patient_txt("ID-SECRET", "Secret Name"));
        write_file(secret / "R-128-60.emf", strip_metafile());
        ASSERT_EQ(::chmod(secret.c_str(), 0700), 0);
        out = t / "out";
        pdf = t / "pdf";
        write_hive(root / "user" / "registry" / "HKCU.reg",
                   "[Software\\Torvane Medical\\Calvera\\Pelwin]\r\n\"PDF Output Folder\"=\"" + pdf.string() +
                       "\"\r\n");
    }

    // Account 1 puts `make` in the place of member `name`.
    void plant(const std::string& name, const std::function<bool(const std::string&)>& make) {
        const std::string at = (r / name).string();
        ASSERT_EQ(accounts.run_as(1, [&] { return (::unlink(at.c_str()) == 0 || errno == ENOENT) && make(at); }), 0)
            << name;
    }
    void restore() {
        for (const auto& [name, bytes] : files) {
            fs::remove(r / name);
            write_file(r / name, bytes);
        }
    }

    // Every file a command wrote, by name: the converted files and the PDF's name.
    std::map<std::string, std::string> outputs(const std::vector<std::string>& args, int* code = nullptr) {
        fs::remove_all(out);
        fs::remove_all(pdf);
        fs::create_directories(out);
        const RunResult res = run(args, 60);
        if (code) *code = res.code;
        std::map<std::string, std::string> found;
        for (const fs::path& folder : {out, pdf})
            if (fs::exists(folder))
                for (auto& e : fs::directory_iterator(folder))
                    found[e.path().filename().string()] = folder == pdf ? "a PDF" : read_file(e.path());
        found["said"] = res.out + res.err;
        return found;
    }

    std::vector<std::vector<std::string>> commands() const {
        return {{"/convert", r.string(), out.string(), "RTF"},
                {"/convert", r.string(), out.string(), "BMP"},
                {"/printto", r.string(), "0", "0", "1", "0", "N", "Adobe PDF"},
                {"/export", "TVZ", r.string(), (out / "R1.TVZ").string()}};
    }

    const tv::testing_root::TwoAccounts accounts;
    fs::path g, r, secret, out, pdf;
    std::vector<std::pair<std::string, std::string>> files;
};

// A page linked to the operator's file is refused; a linked picture, metafile or PATIENT.TXT gives
// what the command gives without it, where a copy of that file would have made a difference.
TEST_F(ReportMembersTest, ALinkedMemberReachesNoOutput) {
    for (const char* member : {"PAGE.1", "PIC.BMP", "R-128-60.emf", "PATIENT.TXT"}) {
        bool mattered = false;
        for (const auto& command : commands()) {
            SCOPED_TRACE(std::string(member) + " " + command[0] + " " + command.back());
            restore();
            const std::string target = (secret / member).string();
            fs::remove(r / member);
            auto without = outputs(command);
            fs::copy_file(target, r / member);
            auto with_copy = outputs(command);
            plant(member, [&](const std::string& at) { return ::symlink(target.c_str(), at.c_str()) == 0; });
            int code = 0;
            auto linked = outputs(command, &code);
            for (const auto& [name, bytes] : linked) {
                EXPECT_EQ(bytes.find("SECRET"), std::string::npos) << name;
                EXPECT_EQ(name.find("Secret"), std::string::npos) << name;
            }
            for (auto* o : {&without, &with_copy, &linked}) o->erase("said");
            if (command[0] == "/export" || std::string(member) == "PAGE.1") {
                EXPECT_NE(code, 0) << "refused";
                EXPECT_TRUE(linked.empty());
                continue;
            }
            EXPECT_EQ(linked, without);
            mattered = mattered || with_copy != without;
        }
        EXPECT_TRUE(mattered || std::string(member) == "PAGE.1") << member << " changes no output";
    }
}

// With the hard links of a system that allows them to anyone: a second name of the operator's file
// is refused like a link.
TEST_F(ReportMembersTest, AMemberWithASecondNameReachesNoOutput) {
    for (const auto& command : commands()) {
        SCOPED_TRACE(command[0] + " " + command.back());
        restore();
        fs::remove(r / "PAGE.1");
        ASSERT_EQ(::link((secret / "PAGE.1").c_str(), (r / "PAGE.1").c_str()), 0);
        int code = 0;
        const auto got = outputs(command, &code);
        for (const auto& [name, bytes] : got) EXPECT_EQ(bytes.find("SECRET"), std::string::npos) << name;
        EXPECT_TRUE(code != 0 || command[0] != "/export") << "a member of two names is never packed";
    }
}

// A FIFO or a link to /dev/zero in the place of every file a command reads ends the run at once.
TEST_F(ReportMembersTest, AFifoOrAnEndlessDeviceHoldsNoRun) {
    const fs::path find_out = t / "found.txt";
    std::vector<std::vector<std::string>> all = commands();
    all.push_back({"/find", "RECORDING_ID", "ID-ONE", g.string(), find_out.string()});
    for (const char* member :
         {"PAGE.1", "PIC.BMP", "R-128-60.emf", "emflist.dat", "PATIENT.TXT", "VERSION.TXT", "SUMMARY.TXT"}) {
        for (const bool fifo : {true, false}) {
            restore();
            plant(member, [&](const std::string& at) {
                return fifo ? ::mkfifo(at.c_str(), 0666) == 0 : ::symlink("/dev/zero", at.c_str()) == 0;
            });
            for (const auto& command : all) {
                SCOPED_TRACE(std::string(member) + (fifo ? " FIFO " : " /dev/zero ") + command[0] + " " +
                             command.back());
                const auto started = std::chrono::steady_clock::now();
                const RunResult res = run(command, 30);
                EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << res.err;
                EXPECT_GE(res.code, 0) << "ended by a signal or the time limit";
            }
        }
    }
}

// A 1.5 GiB sparse page, picture, metafile list or metafile is refused before it is read: no run
// grows past 300 MB.
TEST_F(ReportMembersTest, AHugeSparseMemberKeepsEveryRunSmall) {
    for (const char* member : {"PAGE.1", "PIC.BMP", "emflist.dat", "R-128-60.emf"}) {
        restore();
        plant(member, [&](const std::string& at) {
            const int fd = ::open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0664);
            const bool ok = fd >= 0 && ::ftruncate(fd, 1536ll << 20) == 0;
            if (fd >= 0) ::close(fd);
            return ok;
        });
        for (auto command : commands()) {
            SCOPED_TRACE(std::string(member) + " " + command[0] + " " + command.back());
            fs::create_directories(out);
            const fs::path peak = t / "peak.txt";
            const bool reads_pages = command[0] != "/export";
            // Packed as it stands elsewhere (in pieces): one member says enough.
            if (!reads_pages && std::string(member) != "PAGE.1") continue;
            command.insert(command.begin(), {TV_PEAK_RSS_PROGRAM, peak.string(), TOLBEX_PROGRAM});
            const auto res = tv::platform::testing::run_captured(command, environment(), t.string(), 120);
            EXPECT_TRUE(res.code != 0 || !reads_pages || std::string(member) != "PAGE.1") << "the page is refused";
            const long peak_kb = std::atol(read_file(peak).c_str());
            EXPECT_GT(peak_kb, 0);
            EXPECT_LT(peak_kb, 300 * 1024) << "largest process of the run, KiB";
        }
    }
}

// Another report's PATIENT.TXT linked, or given a second name, in this report's place: the search
// for the other report's recording id lists the other report alone.
TEST_F(ReportMembersTest, FindNeverListsAFolderUnderAnotherReportsId) {
    const fs::path r2 = g / "A" / "R2.IMG";
    write_file(r2 / "PATIENT.TXT", patient_txt("ID-TWO", "Other Patient"));
    for (const fs::path& p : {r2, r2 / "PATIENT.TXT"})
        ASSERT_EQ(::chown(p.c_str(), accounts.uid(0), accounts.gid()), 0);
    ASSERT_EQ(::chmod((r2 / "PATIENT.TXT").c_str(), 0664), 0);
    append_entry(g / "A", {"R2.IMG", "Two", "Mon Dec 03 14:05:09 2007", "1", "Formatted"});
    const std::string other = (r2 / "PATIENT.TXT").string();
    // A second name makes the other report's file one of two names as well: neither is read then.
    const struct {
        const char* what;
        std::function<bool(const std::string&)> make;
        int listed;
    } cases[] = {
        {"link", [&](const std::string& at) { return ::symlink(other.c_str(), at.c_str()) == 0; }, 1},
        {"second name", [&](const std::string& at) { return ::link(other.c_str(), at.c_str()) == 0; }, 0},
    };
    const fs::path found = t / "found.txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restore();
        plant("PATIENT.TXT", c.make);
        const RunResult res = run({"/find", "RECORDING_ID", "ID-TWO", g.string(), found.string()});
        EXPECT_EQ(res.code, c.listed) << res.err;
        const std::string listed = read_file(found);
        EXPECT_EQ(listed.rfind("\"" + r2.string() + "\" ", 0), c.listed ? 0u : std::string::npos) << listed;
        EXPECT_EQ(listed.find(r.string()), std::string::npos) << listed;
    }
}

}  // namespace
}  // namespace cli
