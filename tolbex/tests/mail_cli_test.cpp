// Received report files through the built program without windows: "/mail" cannot ask for an
// archive there and says so in the exit code; a received file whose members name places outside
// the report is refused without writing anywhere.
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

class MailCliTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        g = t / "G";
        make_group(g, {{"STANDARD", "STANDARD"}});
        archive = g / "STANDARD";
        write_file(t / "in" / "good.TVZ", tvz_literal_entry("REPINFO.TXT", "Good\r\n510\r\n1196690709\r\n77\r\n") +
                                              report_files_tvz() + tvz_literal_entry("DATA.BIN", "payload"));
    }
    fs::path g, archive;
};

TEST_F(MailCliTest, MailWithoutWindowsIsRefusedNotReportedAsSuccess) {
    const fs::path mailed = t / "in" / "mailed.TVZ";
    write_file(mailed, read_file(t / "in" / "good.TVZ"));
    // A hidden run: the store after it succeeds, yet the mailed file was not taken.
    auto r = run({"/mail", mailed.string(), "/store", (t / "in" / "good.TVZ").string(), g.string(), "STANDARD"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("\"/mail\" needs the program's window, and this run has none"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("not available in this build"), std::string::npos) << r.err;
    EXPECT_EQ(index_lines(archive / "ARCHINFO.DAT").size(), 5u);  // the store's entry only
    EXPECT_TRUE(fs::exists(mailed));
    EXPECT_TRUE(temp_leftovers().empty());
}

TEST_F(MailCliTest, MembersNamingOtherPlacesAreRefused) {
    for (const std::string& name :
         {std::string("../EVIL.TXT"), std::string("..\\EVIL.TXT"), std::string(".."), std::string("/tmp/EVIL.TXT")}) {
        SCOPED_TRACE(name);
        const fs::path file = t / "in" / "hostile.TVZ";
        write_file(file,
                   tvz_literal_entry("REPINFO.TXT", "Bad\r\n510\r\n1\r\n1\r\n") + tvz_literal_entry(name, "evil"));
        auto r = run({"/store", file.string(), g.string(), "STANDARD"});
        EXPECT_EQ(r.code, 8) << r.err;
        EXPECT_TRUE(fs::is_empty(archive));
        EXPECT_TRUE(temp_leftovers().empty());
        EXPECT_FALSE(fs::exists(t / "EVIL.TXT"));
        EXPECT_FALSE(fs::exists(g / "EVIL.TXT"));
        EXPECT_FALSE(fs::exists(tmp / ".." / "EVIL.TXT"));
    }
}

}  // namespace
}  // namespace cli
