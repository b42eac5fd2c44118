// Folders and cards of the ECG management system go to that system's loader: a stand-in loader,
// written here, records its arguments and ends with the code a case asks for.
#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "vond/ecg_loader.h"
#include "vond/messages.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;

std::vector<cardgen::Sector> small_card() {
    cardgen::StartInfo st;
    cardgen::DataSector d;
    d.values.assign(384, 100);
    return {cardgen::start_sector(st), cardgen::data_sector(d), cardgen::Sector{}};
}

class EcgLoaderTest : public VondTest {
protected:
    void SetUp() override {
        VondTest::SetUp();
        // vond looks for the loader in a sub-folder of its own folder: each test has its own vond.
        fs::create_directories(loader.parent_path());
        std::error_code ec;
        fs::create_hard_link(VOND_PROGRAM, bin / "vond", ec);
        if (ec) fs::copy_file(VOND_PROGRAM, bin / "vond");
        program = (bin / "vond").string();
        fs::create_directories(in);
        write_text(in / "P.LDSC", "[Patient Details]\r\nPatientName=DOE\r\nPatientId=7\r\n");
    }
    static void write_text(const fs::path& p, const std::string& text) {
        cardgen::write_bytes(p, text.data(), text.size());
    }
    void stand_in(int code, mode_t mode = 0755) {
        write_text(loader,
                   "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + log.string() + "'\nexit " + std::to_string(code) + "\n");
        ::chmod(loader.c_str(), mode);
        fs::remove(log);
    }
    // The loader's arguments, one a line; none when it did not run.
    std::vector<std::string> loader_args() const {
        std::vector<std::string> lines;
        std::ifstream f(log);
        for (std::string l; std::getline(f, l);) lines.push_back(l);
        return lines;
    }

    const fs::path bin = t / "bin", loader = bin / "QuorrilStandardECGLoader" / "QuorrilStandardECGLoader.exe",
                   log = t / "loader.log", in = t / "ECG folder";
};

using Args = std::vector<std::string>;

TEST_F(EcgLoaderTest, TheLoadersExitCodeBecomesVonds) {
    const std::string desc = (in / "P.LDSC").string();
    struct Case {
        int loader_code, expect;
    };
    for (const Case c : {Case{0, 109}, {1, 115}, {2, 110}, {3, 111}, {4, 108}, {255, 108}}) {
        stand_in(c.loader_code);
        RunResult r = run({"/readpat=path", "/ipdir=" + in.string(), "/dir=" + out.string()});
        EXPECT_EQ(r.code, c.expect) << c.loader_code << r.err;
        EXPECT_EQ(loader_args(), (Args{"getpat", desc, "0", "0", out.string()})) << c.loader_code;
    }
    stand_in(2);
    RunResult r = run(
        {"/readecg=hide", "/opformat=mmf", "/skip=2", "/duration=5", "/ipdir=" + in.string(), "/dir=" + out.string()});
    EXPECT_EQ(r.code, 110) << r.err;
    EXPECT_EQ(loader_args(), (Args{"getecg", desc, "2", "5"}));
}

TEST_F(EcgLoaderTest, EdgeCasesOfTheLoaderAndTheDescriptor) {
    const std::vector<std::string> readpat = {"/readpat=path", "/ipdir=" + in.string(), "/dir=" + out.string()};
    // A loader that cannot start.
    stand_in(3, 0644);
    EXPECT_EQ(run(readpat).code, 108);
    EXPECT_TRUE(loader_args().empty());

    // A mode other than 7 and 10 never starts it.
    stand_in(3);
    EXPECT_EQ(run({"/readpat=stand", "/ipdir=" + in.string(), "/dir=" + out.string()}).code, 100);
    EXPECT_TRUE(loader_args().empty());

    // Two descriptors: the first in the folder's order.
    write_text(in / "A.ldsc", "[Patient Details]\r\n");
    EXPECT_EQ(run(readpat).code, 111);
    ASSERT_EQ(loader_args().size(), 5u);
    EXPECT_EQ(loader_args()[1], (in / "A.ldsc").string());

    // A folder whose only match is a folder holds no descriptor; the message names the folder.
    const fs::path odd = t / "odd";
    fs::create_directories(odd / "X.LDSC");
    fs::remove(log);
    RunResult r = run({"/readpat=path", "/ipdir=" + odd.string(), "/dir=" + out.string()});
    EXPECT_EQ(r.code, 125);
    EXPECT_NE(r.err.find(": No Corvast ECG file (*.LDSC) was found in " + odd.string() + "\n"), std::string::npos)
        << r.err;
    EXPECT_TRUE(loader_args().empty());

    // No loader beside vond.
    fs::remove_all(loader.parent_path());
    r = run(readpat);
    EXPECT_EQ(r.code, 124);
    EXPECT_NE(r.err.find(tv::vond::message_text(166)), std::string::npos) << r.err;
}

TEST_F(EcgLoaderTest, ACardHoldingADescriptorGoesToTheLoaderWithItsPathsAsTheyAre) {
    // Blanks and quotes in the card's folder and in the output folder reach the loader unchanged.
    const fs::path card = t / "cards" / "E \"x\" y";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, small_card());
    write_text(card / "REC.LDSC", "[Patient Details]\r\n");
    map_card('E', card, "QUX_CFR");
    const fs::path dir = t / "out dir's";
    fs::create_directories(dir);
    stand_in(1);
    RunResult r = run({"/readpat=path", "/dir=" + dir.string()});
    EXPECT_EQ(r.code, 115) << r.err;
    EXPECT_EQ(loader_args(), (Args{"getpat", (card / "REC.LDSC").string(), "0", "0", dir.string()}));
    // The status query checks the card itself, which holds a file no card may hold.
    fs::remove(log);
    r = run({"/readpat=status", "/dir=" + dir.string()});
    EXPECT_EQ(r.code, 103) << r.err;
    EXPECT_TRUE(loader_args().empty());
}

TEST(DescriptorText, CleanedAndBoundedForTheCard) {
    struct Case {
        std::string in, expect;
    };
    for (const Case& c : {Case{"  DOE^JOHN \t", "DOE^JOHN"},
                          {"A\tB\x01"
                           "C\x7f",
                           "A B C"},
                          {"\r\n", ""},
                          {std::string(170, 'x'), std::string(159, 'x')},
                          {" " + std::string(158, 'y') + "  z", std::string(158, 'y')}})
        EXPECT_EQ(tv::vond::clean_card_text(c.in), c.expect) << c.in;
    EXPECT_EQ(tv::vond::loader_exit_code(-1), 108);
    EXPECT_EQ(tv::vond::loader_exit_code(-2), 108);
}

}  // namespace
