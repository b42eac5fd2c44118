// "/find" over a real archive group, with parameter files and its error codes.
#include <sys/stat.h>

#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

class FindTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        g = t / "G";
        make_group(g, {{"STANDARD", "STANDARD"}, {"DELETED", "Deleted Reports"}});
        const fs::path std_archive = g / "STANDARD", deleted = g / "DELETED";
        append_entry(std_archive, {"A1B2C3D4.FUL", "First", "Wed Jan 02 02:03:55 1980", "2048", "Full"});
        append_entry(std_archive, {"B1B2C3D4.IMG", "Other", "Thu Jan 03 10:00:00 1980", "100C", "Formatted"});
        // LF line ends and the C library's blank-padded day.
        append_entry(deleted, {"C1B2C3D4.FUL", "Third", "Mon Dec  3 14:05:09 2007", "4096", "Full"}, "\n");
        write_file(std_archive / "A1B2C3D4.FUL" / "PATIENT.TXT", patient_txt("ABCD1234566"));
        write_file(std_archive / "B1B2C3D4.IMG" / "PATIENT.TXT", patient_txt("WXYZ0000000"));
        // Only eight lines and no dates: the recording id alone decides.
        std::string short_patient;
        for (auto& l : split_lines(patient_txt("abcd1234566"))) {
            if (split_lines(short_patient).size() == 8) break;
            short_patient += l + "\r\n";
        }
        write_file(deleted / "C1B2C3D4.FUL" / "patient.txt", short_patient);
    }

    std::vector<std::string> expected() const {
        return {"\"" + (g / "STANDARD" / "A1B2C3D4.FUL").string() + "\" 02:03:55 02/01/1980",
                "\"" + (g / "DELETED" / "C1B2C3D4.FUL").string() + "\" 14:05:09 03/12/2007"};
    }

    fs::path g;
};

TEST_F(FindTest, FindsEveryMatchInArchiveAndIndexOrder) {
    const fs::path out = t / "out.txt";
    auto r = run({"/find", "RECORDING_ID", "ABCD1234566", g.string(), out.string(), "x"});
    EXPECT_EQ(r.code, 2) << r.err;
    const std::string text = read_file(out);
    EXPECT_EQ(split_lines(text), expected());
    EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1);  // CR LF lines

    // Same with the key in lower case and without the unread fifth operand.
    auto r2 = run({"/find", "recording_id", "ABCD1234566", g.string(), out.string()});
    EXPECT_EQ(r2.code, 2);
}

TEST_F(FindTest, ParameterFileGivesTheSameResult) {
    const fs::path out = t / "out file.txt";
    write_file(t / "params.txt",
               "/find RECORDING_ID ABCD1234566\r\n\"" + g.string() + "\" \"" + out.string() + "\" x\r\n");
    auto r = run({"/paramfile", (t / "params.txt").string()});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(split_lines(read_file(out)), expected());
}

TEST_F(FindTest, LongFolderNameStaysListedAfterARenameInItsArchive) {
    // Written by another program: longer than this program's own entries may be.
    const fs::path std_archive = g / "STANDARD";
    const std::string long_name = std::string(71, 'L') + ".FUL";
    const std::string long_description = std::string(300, 'p');
    append_entry(std_archive, {long_name, long_description, "Fri Jan 04 08:00:00 1980", "10", "Full"});
    write_file(std_archive / long_name / "PATIENT.TXT", patient_txt("LONG0000001"));
    append_entry(std_archive, {"X.O12", "Twelve lead", "Wed Jan 02 02:03:55 1980", "9", "Full Ostrabel 12"});
    write_file(std_archive / "X.O12" / "os12ecg1.dat", "e");

    auto renamed = run({"/delete_os12_ecg", (std_archive / "X.O12").string()});
    ASSERT_EQ(renamed.code, 0) << renamed.err;
    const auto lines = index_lines(std_archive / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[10], long_name);
    EXPECT_EQ(lines[11], long_description);
    EXPECT_EQ(lines[15], "X.FUL");

    const fs::path out = t / "out.txt";
    auto r = run({"/find", "RECORDING_ID", "LONG0000001", g.string(), out.string(), "x"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(split_lines(read_file(out)),
              std::vector<std::string>{"\"" + (std_archive / long_name).string() + "\" 08:00:00 04/01/1980"});
}

TEST_F(FindTest, ErrorCodesLeaveAsEightBitValues) {
    const fs::path out = t / "out.txt";
    EXPECT_EQ(run({"/find", "NAME", "ABCD1234566", g.string(), out.string(), "x"}).code, 255);
    EXPECT_EQ(run({"/find", "RECORDING_ID", "", g.string(), out.string(), "x"}).code, 254);
    fs::create_directories(t / "empty");
    EXPECT_EQ(run({"/find", "RECORDING_ID", "ABCD1234566", (t / "empty").string(), out.string(), "x"}).code, 253);
    fs::create_directories(t / "adir");
    EXPECT_EQ(run({"/find", "RECORDING_ID", "ABCD1234566", g.string(), (t / "adir").string(), "x"}).code, 252);
    // No match at all.
    EXPECT_EQ(run({"/find", "RECORDING_ID", "NOPE0000000", g.string(), out.string(), "x"}).code, 0);
    EXPECT_EQ(read_file(out), "");
}

// What stands at the result file's name is replaced, never written through or waited on.
TEST_F(FindTest, ResultFileReplacesALinkOrFifoAtItsName) {
    const fs::path victim = t / "victim", out = t / "planted.txt";
    for (const bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "fifo" : "link");
        write_file(victim, "keep");
        fs::remove(out);
        if (fifo)
            ASSERT_EQ(::mkfifo(out.c_str(), 0666), 0);
        else
            fs::create_symlink(victim, out);
        EXPECT_EQ(run({"/find", "RECORDING_ID", "ABCD1234566", g.string(), out.string(), "x"}).code, 2);
        EXPECT_EQ(read_file(victim), "keep");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out)));
        EXPECT_EQ(split_lines(read_file(out)), expected());
    }
}

TEST_F(FindTest, MissingOperandsAreReportedNotRead) {
    auto r = run({"/find", "RECORDING_ID"});
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.code, -1);
    EXPECT_NE(r.err.find("Wrong number of command line parameters."), std::string::npos) << r.err;

    // A switch as the value of an optional operand is not swallowed, and a short switch after a
    // complete action still stops the run with the message.
    auto r2 = run({"/find", "RECORDING_ID", "ABCD1234566", g.string(), (t / "o.txt").string(), "/store"});
    EXPECT_EQ(r2.code, 1);
    EXPECT_NE(r2.err.find("Wrong number of command line parameters."), std::string::npos);
    EXPECT_FALSE(fs::exists(t / "o.txt"));
}

TEST_F(FindTest, CountIsCappedBelowTheErrorCodes) {
    const fs::path archive = g / "STANDARD";
    for (int i = 0; i < 258; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "M%07d.FUL", i);
        append_entry(archive, {name, "Many", "Wed Jan 02 02:03:55 1980", "1", "Full"});
        write_file(archive / name / "PATIENT.TXT", patient_txt("MANY0000000"));
    }
    const fs::path out = t / "out.txt";
    auto r = run({"/find", "RECORDING_ID", "many0000000", g.string(), out.string(), "x"});
    EXPECT_EQ(r.code, 251);
    EXPECT_EQ(split_lines(read_file(out)).size(), 258u);  // the file still lists every match
}

}  // namespace
}  // namespace cli
