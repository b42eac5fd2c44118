// "/export" and "/store" of transfer files: round trip, hand-made bytes, error codes, corrupt
// and hostile input.
#include "tolbex/tests/cli_fixture.h"

#include "testing/hostile_entries.h"

#include <random>

namespace cli {
namespace {

constexpr const char* kDate = "Wed Jan 02 02:03:55 1980";

class TransferTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        g = t / "G";
        make_group(g, {{"STANDARD", "STANDARD"}});
        report = g / "STANDARD" / "R.IMG";
        // 150 KB of repetitive runs mixed with random bytes.
        std::mt19937 rng(7);
        std::string mixed;
        while (mixed.size() < 150 * 1024) {
            if (rng() % 2) {
                mixed += std::string(200 + rng() % 300, static_cast<char>('a' + rng() % 4));
            } else {
                for (int i = 0; i < 500; ++i) mixed.push_back(static_cast<char>(rng() & 0xFF));
            }
        }
        files = {{"PATIENT.TXT", patient_txt("ABCD1234566")},
                 {"VERSION.TXT", "V8.006\r\n"},
                 {"CONFIRM.TXT", "Dr Who\r\n"},
                 {"ECG.DAT", mixed},
                 {"EMPTY.DAT", ""},
                 {"SUMMARY.TXT", "Summary\r\n"},
                 {"PAGE.0", "page"},
                 {"GAVRILLE_LOGO.BMP", "BM logo bytes"},
                 {"Smith John 2007-12-03.doc", "a letter"}};
        for (auto& [name, content] : files) write_file(report / name, content);
        write_file(report / "WIN386.SWP", "swap");
        write_file(report / ".hidden", "hidden");
        append_entry(g / "STANDARD", {"R.IMG", "Holter of Smith", kDate, "150000C", "Formatted"});

        g2 = t / "G2";
        make_group(g2, {{"STANDARD", "STANDARD"}, {"OTHER", "Other"}});
    }

    // The new entry of G2's STANDARD archive and its folder.
    std::vector<std::string> g2_index() const { return index_lines(g2 / "STANDARD" / "ARCHINFO.DAT"); }

    fs::path g, g2, report;
    std::vector<std::pair<std::string, std::string>> files;
};

TEST_F(TransferTest, ExportWritesEntriesAnIndependentReaderAccepts) {
    const fs::path x = t / "out" / "X.TVZ";
    fs::create_directories(x.parent_path());
    auto r = run({"/export", "TVZ", report.string(), x.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<TvzMember> members;
    ASSERT_TRUE(walk_tvz(read_file(x), members));
    std::set<std::string> names;
    for (auto& m : members) {
        names.insert(m.name);
        EXPECT_LE(m.name.size(), 12u) << m.name;
        for (char c : m.name) EXPECT_FALSE(c >= 'a' && c <= 'z') << m.name;
        if (m.packed == 0) {
            EXPECT_EQ(m.original, 0u);
            EXPECT_EQ(m.crc, 0u);
            continue;
        }
        EXPECT_EQ(m.stream.substr(0, 2), std::string("\x00\x06", 2)) << m.name;
        EXPECT_EQ(m.crc, crc32_of(m.stream)) << m.name;
    }
    for (const char* want : {"GVLOGO.BMP", "LONGNAME.TXT", "FILE0000.DAT", "REPINFO.TXT", "EMPTY.DAT", "ECG.DAT"})
        EXPECT_TRUE(names.count(want)) << want;
    EXPECT_FALSE(names.count("WIN386.SWP"));
    EXPECT_FALSE(names.count(".HIDDEN"));
    EXPECT_TRUE(temp_leftovers().empty());
}

TEST_F(TransferTest, ExportThenStoreRoundTrip) {
    const fs::path x = t / "out" / "R.TVZ";
    fs::create_directories(x.parent_path());
    ASSERT_EQ(run({"/export", "TVZ", report.string(), x.string(), "x"}).code, 0);
    ASSERT_TRUE(fs::exists(x));

    auto r = run({"/store", x.string(), g2.string(), "standard"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = g2_index();
    ASSERT_EQ(lines.size(), 5u);
    const std::string raw = read_file(g2 / "STANDARD" / "ARCHINFO.DAT");
    EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
    EXPECT_EQ(lines[0].size(), 12u);
    EXPECT_EQ(lines[0].substr(8), ".IMG");
    EXPECT_EQ(lines[1], "Holter of Smith");
    EXPECT_EQ(lines[2], kDate);
    EXPECT_EQ(lines[3], "150000C");
    EXPECT_EQ(lines[4], "Formatted");

    auto stored = folder_files(g2 / "STANDARD" / lines[0]);
    auto expected = files;
    expected.emplace_back("REPINFO.TXT", "Holter of Smith\r\n519\r\n315626635\r\n150000\r\n");
    std::sort(expected.begin(), expected.end());
    // Names compare without regard to case: the transfer file carries them upper-cased.
    ASSERT_EQ(stored.size(), expected.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        std::string a = stored[i].first, b = expected[i].first;
        for (auto& c : a) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (auto& c : b) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(a, b);
        EXPECT_EQ(stored[i].second, expected[i].second) << b;
    }
    EXPECT_TRUE(fs::exists(g2 / "STANDARD" / lines[0] / "GAVRILLE_LOGO.BMP"));
    EXPECT_TRUE(fs::exists(g2 / "STANDARD" / lines[0] / "Smith John 2007-12-03.doc"));
    EXPECT_TRUE(temp_leftovers().empty());
}

TEST_F(TransferTest, ExportRefusesLinksSpecialFilesAndCaseTwins) {
    const fs::path x = t / "out" / "X.TVZ";
    fs::create_directories(x.parent_path());
    for (const auto& entry : tv::testing::hostile_entries()) {
        const fs::path folder =
            g / "STANDARD" / (std::string("H") + std::to_string(&entry - &tv::testing::hostile_entries()[0]) + ".IMG");
        for (auto& [name, content] : files) write_file(folder / name, content);
        entry.plant(folder, t / "secrets");
        append_entry(g / "STANDARD", {folder.filename().string(), "Holter", kDate, "1", "Formatted"});
        auto r = run({"/export", "TVZ", folder.string(), x.string(), "x"});
        EXPECT_EQ(r.code, 3) << entry.what;
        EXPECT_NE(r.err.find(std::string("\"") + entry.name + "\""), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(x)) << entry.what;
        EXPECT_TRUE(temp_leftovers().empty());
    }
}

TEST_F(TransferTest, ExportErrorCodes) {
    const std::string x = (t / "R.TVZ").string();
    EXPECT_EQ(run({"/export", "ZIP", report.string(), x, "x"}).code, 4);
    // No PATIENT.TXT.
    write_file(g / "STANDARD" / "N.FUL" / "VERSION.TXT", "V8.006\r\n");
    append_entry(g / "STANDARD", {"N.FUL", "No patient", kDate, "1", "Full"});
    EXPECT_EQ(run({"/export", "TVZ", (g / "STANDARD" / "N.FUL").string(), x, "x"}).code, 1);
    // Parent without ARCHINFO.DAT.
    write_file(t / "loose" / "L.FUL" / "PATIENT.TXT", patient_txt("ABCD1234566"));
    EXPECT_EQ(run({"/export", "TVZ", (t / "loose" / "L.FUL").string(), x, "x"}).code, 1);
    // Not in the index.
    write_file(g / "STANDARD" / "U.FUL" / "PATIENT.TXT", patient_txt("ABCD1234566"));
    EXPECT_EQ(run({"/export", "TVZ", (g / "STANDARD" / "U.FUL").string(), x, "x"}).code, 2);
    // Destination folder missing: packing fails and leaves no file.
    EXPECT_EQ(run({"/export", "TVZ", report.string(), (t / "no" / "R.TVZ").string(), "x"}).code, 3);
    EXPECT_FALSE(fs::exists(x));
    // A folder as the destination is named as one, and nothing is written into it.
    const auto into = run({"/export", "TVZ", report.string(), t.string(), "x"});
    EXPECT_EQ(into.code, 3);
    EXPECT_NE(into.err.find("\"" + t.string() + "\" is a folder"), std::string::npos) << into.err;
}

TEST_F(TransferTest, StoreErrorCodes) {
    write_file(t / "x.TXT", "text");
    write_file(t / "in.TVZ", tvz_literal_entry("REPINFO.TXT", "D\r\n510\r\n1\r\n1\r\n"));
    EXPECT_EQ(run({"/store", (t / "x.TXT").string(), g2.string(), "STANDARD"}).code, 1);
    EXPECT_EQ(run({"/store", (t / "none.TVZ").string(), g2.string(), "STANDARD"}).code, 2);
    EXPECT_EQ(run({"/store", (t / "in.TVZ").string(), (t / "nogroup").string(), "STANDARD"}).code, 4);
    fs::create_directories(t / "bare");
    EXPECT_EQ(run({"/store", (t / "in.TVZ").string(), (t / "bare").string(), "STANDARD"}).code, 5);
    EXPECT_EQ(run({"/store", (t / "in.TVZ").string(), g2.string(), "Nothing"}).code, 6);
    EXPECT_FALSE(fs::exists(g2 / "STANDARD" / "ARCHINFO.DAT"));
    // A transfer file without REPINFO.TXT stores nothing.
    write_file(t / "norep.TVZ", tvz_literal_entry("A.TXT", "A"));
    EXPECT_EQ(run({"/store", (t / "norep.TVZ").string(), g2.string(), "STANDARD"}).code, 7);
    EXPECT_FALSE(fs::exists(g2 / "STANDARD" / "ARCHINFO.DAT"));
    // One that lacks the files of its type is not a report the repair tool would keep: refused.
    const auto incomplete = run({"/store", (t / "in.TVZ").string(), g2.string(), "STANDARD"});
    EXPECT_EQ(incomplete.code, 3);
    EXPECT_NE(incomplete.err.find("The mailed report \"in.TVZ\" is incomplete"), std::string::npos) << incomplete.err;
    EXPECT_FALSE(fs::exists(g2 / "STANDARD" / "ARCHINFO.DAT"));
    write_file(t / "whole.TVZ", tvz_literal_entry("REPINFO.TXT", "D\r\n510\r\n1\r\n1\r\n") + report_files_tvz());
    EXPECT_EQ(run({"/store", (t / "whole.TVZ").string(), g2.string(), "STANDARD"}).code, 0);
    EXPECT_TRUE(temp_leftovers().empty());
}

TEST_F(TransferTest, StoresHandMadeBytes) {
    std::string tvz;
    // "A.TXT" = "A" and an empty "E.DAT", byte for byte.
    tvz += std::string(
               "\x44\x48\x09\x02"
               "A.TXT\0\0\0\0\0\0\0\0\0\0\0",
               20) +
           std::string("\x06\0\0\0\x01\0\0\0\x78\x02\x6E\x87", 12) + std::string("\x00\x06\x82\x02\xFE\x01", 6);
    tvz += std::string(
               "\x44\x48\x09\x02"
               "E.DAT\0\0\0\0\0\0\0\0\0\0\0",
               20) +
           std::string(12, '\0');
    tvz += tvz_literal_entry("REPINFO.TXT", "Golden\r\n519\r\n1196690709\r\n1234\r\n") + report_files_tvz("519");
    tvz += tvz_entry("AB.BIN", std::string("\x00\x06\x82\x08\xED\x05\xFC\x03", 8), 4);
    tvz += tvz_literal_entry("FILE0000.DAT", "attachment");
    tvz += tvz_literal_entry("LONGNAME.TXT", "C:\\TEMP\\REPORT_ATTACHMENT_LONG.DAT\r\nC:\\TEMP\\file0000.dat\r\n");
    write_file(t / "G.TVZ", tvz);

    auto r = run({"/store", (t / "G.TVZ").string(), g2.string(), "Other"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = index_lines(g2 / "OTHER" / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "Golden");
    EXPECT_EQ(lines[2], "Mon Dec 03 14:05:09 2007");
    EXPECT_EQ(lines[3], "1234");
    EXPECT_EQ(lines[4], "Formatted");
    const fs::path folder = g2 / "OTHER" / lines[0];
    EXPECT_EQ(folder.extension(), ".IMG");
    EXPECT_EQ(read_file(folder / "A.TXT"), "A");
    EXPECT_TRUE(fs::exists(folder / "E.DAT"));
    EXPECT_EQ(read_file(folder / "E.DAT"), "");
    EXPECT_EQ(read_file(folder / "AB.BIN"), "ABAB");
    EXPECT_EQ(read_file(folder / "REPORT_ATTACHMENT_LONG.DAT"), "attachment");
    EXPECT_FALSE(fs::exists(folder / "LONGNAME.TXT"));
    EXPECT_FALSE(fs::exists(folder / "longname.txt"));
    EXPECT_TRUE(temp_leftovers().empty());
}

TEST_F(TransferTest, CorruptAndHostileFilesStoreNothing) {
    const std::string good = tvz_literal_entry("REPINFO.TXT", "Bad\r\n510\r\n1\r\n1\r\n") + report_files_tvz() +
                             tvz_literal_entry("DATA.BIN", std::string(100, 'x'));
    std::vector<std::pair<std::string, std::string>> cases;
    std::string flipped = good;
    flipped[flipped.size() - 20] ^= 0x10;
    cases.emplace_back("flipped", flipped);
    cases.emplace_back("cut in stream", good.substr(0, good.size() - 10));
    const std::size_t second = tvz_literal_entry("REPINFO.TXT", "Bad\r\n510\r\n1\r\n1\r\n").size();
    cases.emplace_back("cut in header", good.substr(0, second + 17));
    cases.emplace_back("slash", good + tvz_literal_entry("../EVIL", "evil"));
    cases.emplace_back("backslash", good + tvz_literal_entry("..\\EVIL", "evil"));
    for (auto& [label, bytes] : cases) {
        write_file(t / "in" / "C.TVZ", bytes);
        auto r = run({"/store", (t / "in" / "C.TVZ").string(), g2.string(), "STANDARD"});
        EXPECT_EQ(r.code, 8) << label << ": " << r.err;
        EXPECT_FALSE(fs::exists(g2 / "STANDARD" / "ARCHINFO.DAT")) << label;
        EXPECT_TRUE(temp_leftovers().empty()) << label;
    }
    for (auto& e : fs::recursive_directory_iterator(t))
        EXPECT_EQ(e.path().filename().string().find("EVIL"), std::string::npos) << e.path();
}

}  // namespace
}  // namespace cli
